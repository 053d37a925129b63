#include "TarnTab.h"

namespace sonoprog::tarn {

TarnTab::TarnTab(gui::TabEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {}

void TarnTab::setEngineeringPanelVisible(bool) {}

}  // namespace sonoprog::tarn

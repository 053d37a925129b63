#include "KivaTab.h"

namespace sonoprog::kiva {

KivaTab::KivaTab(gui::TabEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {}

}  // namespace sonoprog::kiva

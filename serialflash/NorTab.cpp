#include "NorTab.h"

#include <QComboBox>

namespace sonoprog::serialflash {

NorTab::NorTab(gui::TabEnvironment& env, QWidget* parent)
    : QWidget(parent), env_(env), devices_(new QComboBox(this)) {}

void NorTab::addDevice(const QString& name) { devices_->addItem(name); }

void NorTab::selectFirstDevice() {
    if (devices_->count() > 0) devices_->setCurrentIndex(0);
}

}  // namespace sonoprog::serialflash

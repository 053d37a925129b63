#include "ControlLock.h"

namespace sonoprog::gui {

ControlLock::ControlLock(std::vector<QWidget*> controls) { setControls(std::move(controls)); }

void ControlLock::setControls(std::vector<QWidget*> controls) {
    controls_.assign(controls.begin(), controls.end());
}

void ControlLock::lock() {
    for (auto& c : controls_)
        if (c) c->setEnabled(false);
}

void ControlLock::unlock() {
    for (auto& c : controls_)
        if (c) c->setEnabled(true);
}

}  // namespace sonoprog::gui

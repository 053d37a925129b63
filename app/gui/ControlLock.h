#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "OperationPane.h"

namespace sonoprog::gui {

// A tab's lock and unlock helpers: disable / enable its control list, in the
// list's order, without looking at the present state.
class ControlLock final : public core::TabLock {
public:
    ControlLock() = default;
    explicit ControlLock(std::vector<QWidget*> controls);
    void setControls(std::vector<QWidget*> controls);
    void lock() override;
    void unlock() override;

private:
    std::vector<QPointer<QWidget>> controls_;
};

}  // namespace sonoprog::gui

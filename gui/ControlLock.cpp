#include "gui/ControlLock.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

namespace sonoprog::gui {

namespace {

// Swallows the page-switching keys a tab control handles itself (Ctrl+Tab,
// Ctrl+Shift+Tab) while its tab bar is disabled.
class PageSwitchGuard final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        auto* tabs = qobject_cast<QTabWidget*>(watched);
        if (!tabs || tabs->tabBar()->isEnabled()) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool switchKey = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
        return switchKey && (key->modifiers() & Qt::ControlModifier);
    }
};

// A tab control is locked at its tabs, any other control as a whole.
void setLocked(QWidget& control, bool locked) {
    if (auto* tabs = qobject_cast<QTabWidget*>(&control)) {
        tabs->tabBar()->setEnabled(!locked);
        return;
    }
    control.setEnabled(!locked);
}

}  // namespace

ControlLock::ControlLock() : pageSwitchGuard_(std::make_unique<PageSwitchGuard>()) {}

ControlLock::ControlLock(std::vector<QWidget*> controls) : ControlLock() {
    setControls(std::move(controls));
}

ControlLock::~ControlLock() = default;

void ControlLock::setControls(std::vector<QWidget*> controls) {
    controls_.assign(controls.begin(), controls.end());
    for (auto& c : controls_)
        if (auto* tabs = qobject_cast<QTabWidget*>(c.data()))
            tabs->installEventFilter(pageSwitchGuard_.get());
}

void ControlLock::lock() {
    for (auto& c : controls_)
        if (c) setLocked(*c, true);
}

void ControlLock::unlock() {
    for (auto& c : controls_)
        if (c) setLocked(*c, false);
}

bool ControlLock::isLocked(const QWidget& control) {
    if (const auto* tabs = qobject_cast<const QTabWidget*>(&control))
        return !tabs->tabBar()->isEnabled();
    return !control.isEnabled();
}

void StoppableLock::lock() {
    stop_.clear();
    controls_.lock();
    if (button_) {
        button_->setEnabled(true);
        button_->show();
    }
}

void StoppableLock::unlock() {
    if (button_) button_->hide();
    controls_.unlock();
}

}  // namespace sonoprog::gui

#pragma once

#include <QDateTime>
#include <QFrame>
#include <chrono>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace sonoprog::production {

// The strip across the Production tab while an engineer has unlocked it:
// says so and when it locks again, with a Lock button. Any key or mouse
// input in the program counts as the engineer still at work; after the idle
// limit without any, the banner asks for the lock itself.
class EngineerBanner final : public QFrame {
    Q_OBJECT
public:
    static constexpr std::chrono::minutes kIdleLimit{10};

    explicit EngineerBanner(QWidget* parent = nullptr);
    ~EngineerBanner() override;

    // The time now (default: the system's); for tests.
    void setClock(std::function<QDateTime()> now) { now_ = std::move(now); }

    // Shown from now on, counting from now.
    void unlocked();
    // Hidden; says lockRequested() unless hidden already.
    void lock();
    bool active() const { return active_; }
    QDateTime locksAt() const { return lastInput_.addSecs(idleSeconds()); }
    // Locks when the idle limit has passed (the banner's timer calls this).
    void check();

    QLabel* LB_Engineer_Text = nullptr;
    QPushButton* BT_Engineer_Lock = nullptr;

Q_SIGNALS:
    void lockRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static qint64 idleSeconds() {
        return std::chrono::duration_cast<std::chrono::seconds>(kIdleLimit).count();
    }
    void showText();

    std::function<QDateTime()> now_;
    QTimer* timer_ = nullptr;
    QDateTime lastInput_;
    bool active_ = false;
};

}  // namespace sonoprog::production

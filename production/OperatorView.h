#pragma once

#include <QWidget>

namespace sonoprog::production {

// The window the operator view shows on a whole screen: it holds the
// Production page while it is open, and Esc (or F11 again) asks to leave.
class OperatorView final : public QWidget {
    Q_OBJECT
public:
    explicit OperatorView(QWidget* parent = nullptr);

    // Takes the page in (from wherever it was).
    void hold(QWidget* page);
    // Gives the page back without a parent; nullptr when none is held.
    QWidget* release();
    QWidget* page() const { return page_; }

Q_SIGNALS:
    void leaveRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* page_ = nullptr;
};

}  // namespace sonoprog::production

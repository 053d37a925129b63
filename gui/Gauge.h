#pragma once

#include <QWidget>

namespace sonoprog::gui {

// A percentage gauge (CG_*_Progress): sky-blue bar filled from the left on
// white, the percentage written in the middle; values are clamped to 0..100.
class Gauge final : public QWidget {
    Q_OBJECT
public:
    explicit Gauge(QWidget* parent = nullptr);
    int progress() const { return progress_; }
    void setProgress(int percent);
    QSize sizeHint() const override { return {200, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int progress_ = 0;
};

}  // namespace sonoprog::gui

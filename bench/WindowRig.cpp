#include "WindowRig.h"

#include <QApplication>
#include <QElapsedTimer>

namespace sonoprog::bench {

void WindowRig::showAndSettle() {
    window.show();
    // Offscreen, the first expose and paint arrive within a few event passes.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 50) QApplication::processEvents();
}

}  // namespace sonoprog::bench

#include "bench/WindowRig.h"

#include <QApplication>
#include <QElapsedTimer>

namespace sonoprog::bench {

Timed WindowRig::timeClick(const std::function<void()>& click) {
    window.show();
    // Offscreen, the first expose and paint arrive within a few event passes.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 50) QApplication::processEvents();
    const Stopwatch watch;
    click();
    return watch.stop();
}

}  // namespace sonoprog::bench

#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <thread>

namespace sonoprog::test {

// Runs the event loop until `done` holds (false after a minute): a run on a
// thread or in worker processes reports through it.
template <typename Done>
bool waitUntil(Done done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace sonoprog::test

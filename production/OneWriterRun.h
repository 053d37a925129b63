#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "ivr/IvrKeys.h"
#include "link/Link.h"
#include "production/ProductionLoop.h"

namespace sonoprog::production {

// What the one-Writer loop of the window runs with; everything on the
// window's side is used in the window's thread only.
struct OneWriterSetup {
    LoadedJob job;
    LoopOptions options;
    core::OperationPane& pane;  // the page's log pane and gauge
    core::Prompter& prompter;   // the window's boxes
    core::Clock& clock;
    const core::AppPaths& paths;
    link::Link& link;  // the window's Writer: its device, with boxes through `prompter`
    const ivr::IvrKeys& ivrKeys;
    records::RecordStore& store;
    LoopListener& listener;  // the page, told in the window's thread
};

// The window's one Writer is a gang of one: its unit loop runs on a thread of
// its own, so that the Start button's handler returns at once and Stop,
// Unlock and Reset are handled by the window's own event loop. Whatever the
// loop reports reaches the page as queued calls, in order; a box the unit
// asks for is shown by the window while the loop waits for its answer.
//
// The Writer and the records belong to the loop while it runs. What the
// window must do with them meanwhile (a device change, a counters reset)
// is handed to whileParked(): it runs in the window's thread at the loop's
// next pause, while the loop waits, as it ran inside the loop before.
class OneWriterRun final : public QObject {
    Q_OBJECT
public:
    // `stop` ends the loop between units.
    OneWriterRun(OneWriterSetup setup, const std::atomic<bool>& stop, QObject* parent = nullptr);
    // The loop must have been told to stop: waits for it to end.
    ~OneWriterRun() override;

    void start();
    // Thread-safe; runs at once when the loop is not running.
    void whileParked(std::function<void()> task);
    bool running() const { return running_.load(); }

Q_SIGNALS:
    // The loop has ended; the tasks that waited have run.
    void finished();

private:
    class Bridge;
    // Runs `call` in the window's thread and waits for it (or for the end).
    void inWindow(std::function<void()> call);
    void runParkedTasks();
    void ended();

    OneWriterSetup setup_;
    const std::atomic<bool>& stop_;
    std::unique_ptr<Bridge> bridge_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> closing_{false};
    std::mutex tasksMutex_;
    std::vector<std::function<void()>> tasks_;
    std::atomic<bool> tasksWaiting_{false};
};

}  // namespace sonoprog::production

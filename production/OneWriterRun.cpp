#include "production/OneWriterRun.h"

#include <chrono>
#include <condition_variable>

#include "core/TabLock.h"
#include "core/YieldHook.h"

namespace sonoprog::production {

// The services the loop's thread sees: each passes what it is told on to the
// window's thread.
class OneWriterRun::Bridge final : public core::OperationPane,
                                   public core::TabLock,
                                   public core::YieldHook,
                                   public core::Prompter,
                                   public LoopListener {
public:
    explicit Bridge(OneWriterRun& run) : run_(run), link(run.setup_.link.device(), *this) {
        link.setConnected(run.setup_.link.connected());
    }

    // OperationPane
    void clearLines() override {
        post([&pane = run_.setup_.pane] { pane.clearLines(); });
    }
    void appendLine(const core::LogLine& line) override {
        post([&pane = run_.setup_.pane, line] { pane.appendLine(line); });
    }
    void setProgress(int percent) override {
        post([&pane = run_.setup_.pane, percent] { pane.setProgress(percent); });
    }
    void setProgressFigures(const core::ProgressFigures& figures) override {
        post([&pane = run_.setup_.pane, figures] { pane.setProgressFigures(figures); });
    }
    // TabLock: the page locked what the operator may not touch before the run.
    void lock() override {}
    void unlock() override {}
    // YieldHook: the window's waiting tasks, between two steps of the loop.
    void yield() override {
        if (run_.tasksWaiting_.load()) run_.inWindow([this] { run_.runParkedTasks(); });
    }
    // Prompter
    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) override {
        run_.inWindow([&] { run_.setup_.prompter.showMessage(caption, text, icon); });
    }
    bool askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) override {
        bool yes = false;
        run_.inWindow([&] { yes = run_.setup_.prompter.askYesNo(caption, text, icon); });
        return yes;
    }
    // LoopListener
    void stateChanged(LoopState state) override {
        post([&l = run_.setup_.listener, state] { l.stateChanged(state); });
    }
    // The loop goes on once the window has taken the unit in: a Stop clicked
    // on its result is seen before the next chip is looked for.
    void unitFinished(const UnitOutcome& outcome, const records::Counters& counters) override {
        run_.inWindow([&] { run_.setup_.listener.unitFinished(outcome, counters); });
    }
    void pollFailed(const std::string& message) override {
        post([&l = run_.setup_.listener, message] { l.pollFailed(message); });
    }
    void runAborted(const std::string& message) override {
        post([&l = run_.setup_.listener, message] { l.runAborted(message); });
    }
    void socketWorn(const std::string& message, SocketWear wear) override {
        post([&l = run_.setup_.listener, message, wear] { l.socketWorn(message, wear); });
    }

private:
    // Queued to the run object: in order, and dropped once it is gone.
    void post(std::function<void()> call) {
        QMetaObject::invokeMethod(&run_, std::move(call), Qt::QueuedConnection);
    }

    OneWriterRun& run_;

public:
    link::Link link;  // the window's Writer, its boxes shown by the window
};

OneWriterRun::OneWriterRun(OneWriterSetup setup, const std::atomic<bool>& stop, QObject* parent)
    : QObject(parent), setup_(std::move(setup)), stop_(stop) {
    bridge_ = std::make_unique<Bridge>(*this);
}

OneWriterRun::~OneWriterRun() {
    // A box the loop waits for is not shown any more; the loop ends after its unit.
    closing_ = true;
    if (thread_.joinable()) thread_.join();
}

void OneWriterRun::start() {
    if (running_.exchange(true)) return;
    thread_ = std::thread([this] {
        Bridge& b = *bridge_;
        UnitServices unit{b, b, b, b, setup_.clock, setup_.paths, b.link, setup_.ivrKeys};
        ProductionLoop loop(setup_.job, LoopServices{unit, b.link, setup_.store}, b, stop_);
        loop.run(setup_.options, nullptr);
        QMetaObject::invokeMethod(
            this, [this] { ended(); }, Qt::QueuedConnection);
    });
}

void OneWriterRun::ended() {
    if (thread_.joinable()) thread_.join();
    running_ = false;
    runParkedTasks();
    Q_EMIT finished();
}

void OneWriterRun::whileParked(std::function<void()> task) {
    {
        std::lock_guard lock(tasksMutex_);
        if (running_.load()) {
            tasks_.push_back(std::move(task));
            tasksWaiting_ = true;
            return;
        }
    }
    task();
}

void OneWriterRun::runParkedTasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(tasksMutex_);
        tasks.swap(tasks_);
        tasksWaiting_ = false;
    }
    for (auto& task : tasks) task();
}

void OneWriterRun::inWindow(std::function<void()> call) {
    struct Waiting {
        std::mutex mutex;
        std::condition_variable cv;
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    auto waiting = std::make_shared<Waiting>();
    QMetaObject::invokeMethod(
        this,
        [waiting, call = std::move(call)] {
            {
                std::lock_guard lock(waiting->mutex);
                if (waiting->abandoned) return;
                waiting->started = true;
            }
            call();
            {
                std::lock_guard lock(waiting->mutex);
                waiting->done = true;
            }
            waiting->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(waiting->mutex);
    while (!waiting->done) {
        // The window is closing and waits for this thread: nobody will answer.
        if (closing_.load() && !waiting->started) {
            waiting->abandoned = true;
            return;
        }
        waiting->cv.wait_for(lock, std::chrono::milliseconds(20));
    }
}

}  // namespace sonoprog::production

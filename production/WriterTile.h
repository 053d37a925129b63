#pragma once

#include <QFrame>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "production/OperatorLayout.h"
#include "production/StatusPanel.h"
#include "production/WriterGang.h"
#include "production/WriterWorkers.h"

class QLabel;
class QPushButton;
class QTimer;

namespace sonoprog::gui {
class Gauge;
}

namespace sonoprog::production {

// One Writer of the Production tab: its identity, a status panel like the
// page's big one, a gauge and its counters. Its unit loop runs in a worker
// process of its own (`sonoprog-cli --json ... produce`), whose objects the
// tile renders as they come; the window never waits on it, so a Writer that
// hangs or a worker that dies touches this tile only.
class WriterTile final : public QFrame {
    Q_OBJECT
public:
    explicit WriterTile(std::string writer, QWidget* parent = nullptr);
    // A worker still running is stopped and, failing that, killed.
    ~WriterTile() override;

    const std::string& writer() const { return writer_; }
    // Runs `program arguments...`; nothing when a worker is running already.
    // `inheritedFd` (when not -1) stays open in the worker, which is told
    // its number in the arguments; the caller keeps and closes its own copy.
    void start(const QString& program, const QStringList& arguments, int inheritedFd = -1);
    // SIGINT: the worker finishes its running unit and ends; killed when it
    // has not ended after `grace`.
    void stop(std::chrono::milliseconds grace);
    bool running() const { return process_ != nullptr; }
    // Stops a running worker (as stop()) and asks for a new one once it has
    // ended: for a Writer that went away and is back.
    void restartWhenEnded(std::chrono::milliseconds grace);
    qint64 workerPid() const { return process_ ? process_->processId() : 0; }
    const WorkerReport& report() const { return report_; }
    void resetCounters();
    // [Socket] Life=: the amber note at 90% of it and at it (0: never).
    void setSocketLife(long long life);
    // The insertions its socket has had, as the last unit told (unset: not counted).
    std::optional<long long> socketInsertions() const { return socketInsertions_; }
    // Whether the page lets the operator restart (a job open, no engineer at
    // work); the button is then there for a tile whose worker has ended or
    // whose Writer is gone.
    void setRestartAllowed(bool allowed);
    // Whether the page has a job open: without one the tile asks for a job
    // instead of saying READY.
    void setJobOpen(bool open);
    // The fonts for the tile's size (see tileGrid()).
    void setScale(const TileScale& scale);
    // A Writer text that names no Writer: the tile says so and never starts.
    void showUnusable(const std::string& why);
    bool usable() const { return usable_; }

    QLabel* LB_Tile_Writer = nullptr;
    StatusPanel* PN_Tile_Status = nullptr;
    gui::Gauge* CG_Tile_Progress = nullptr;
    QLabel* LB_Tile_Counters = nullptr;
    QLabel* LB_Tile_Socket = nullptr;  // amber, when the socket nears its life
    QPushButton* BT_Tile_Restart = nullptr;

Q_SIGNALS:
    void unitFinished(const QString& summary, bool passed);
    void workerEnded();
    // The Restart button, or a worker stopped by restartWhenEnded() has ended.
    void restartRequested();

private:
    void readOutput();
    void readErrors();
    void finished(int exitCode, QProcess::ExitStatus status);
    void render();
    bool interrupt();
    std::string writerPrefix() const;

    std::string writer_;
    QProcess* process_ = nullptr;
    QTimer* killTimer_ = nullptr;
    WorkerReport report_;
    LineSplitter outLines_;
    LineSplitter errLines_;
    bool usable_ = true;
    std::optional<long long> socketInsertions_;
    long long socketLife_ = 0;
    bool restartPending_ = false;
    bool restartAllowed_ = false;
    bool jobOpen_ = false;
    std::optional<std::pair<TileStatus, std::string>> shown_;
};

}  // namespace sonoprog::production

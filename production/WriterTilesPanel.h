#pragma once

#include <QString>
#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/usb/UsbWriterDevice.h"

class QGridLayout;

namespace sonoprog::production {

class WriterTile;

// What every worker of a run is given besides its Writer.
struct WorkerRun {
    std::string jobPath;
    std::string operatorName;
    std::string records;     // the records location; handed over, never on the command line
    std::string setup;       // --setup, when the window was given one
    std::string tempFolder;  // --temp, likewise
    std::string lot;         // --lot, when given
    std::optional<long long> quantity;  // --quantity: each worker stops at it too
};

// The tiles of a Writers list, one per Writer, in a grid: it starts each
// tile's worker process, stops them, and passes on what the tiles report.
// Whether the tab is locked, and whose job runs, is the page's business.
class WriterTilesPanel final : public QWidget {
    Q_OBJECT
public:
    explicit WriterTilesPanel(std::string writers, QWidget* parent = nullptr);
    // Every worker told at once, so that the tiles' own farewells overlap.
    ~WriterTilesPanel() override;

    // The program each worker runs, how long Stop waits for a worker to
    // finish its unit before killing it, and who lists the USB Writers for "all".
    void setWorkerProgram(QString program) { workerProgram_ = std::move(program); }
    void setStopGrace(std::chrono::milliseconds grace) { stopGrace_ = grace; }
    // [Socket] Life=: the tiles warn at 90% of it and at it (0: never).
    void setSocketLife(long long life);
    void setAttachedWriters(std::function<std::vector<link::usb::AttachedWriter>()> lister) {
        attachedWriters_ = std::move(lister);
    }
    // The tiles again from the Writers list ("all" is read again each time:
    // Writers come and go between runs); kept when the list is unchanged. An
    // entry that cannot run gets a tile that says why and never starts.
    void buildTiles();
    // Why the list gave no tile at all ("all" with no Writer attached).
    const std::string& listError() const { return listError_; }
    // The usable tiles that have no worker yet.
    std::vector<WriterTile*> idleTiles() const;
    // Starts the tile's worker for `run`.
    void startWorker(WriterTile& tile, const WorkerRun& run);
    // Its Writer is back: this worker goes, a new one follows.
    void restartWhenEnded(WriterTile& tile);
    void stop();
    bool anyRunning() const;
    void setRestartAllowed(bool allowed);
    void resetCounters();
    const std::vector<WriterTile*>& tiles() const { return tiles_; }

Q_SIGNALS:
    void unitFinished(const QString& summary, bool passed);
    void workerEnded();
    void restartRequested(WriterTile* tile);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Places the tiles in the grid that suits the panel's size (see tileGrid()).
    void arrange();

    std::string writers_;
    int columns_ = 0;
    QGridLayout* grid_ = nullptr;
    std::vector<WriterTile*> tiles_;
    QString workerProgram_;
    std::chrono::milliseconds stopGrace_{15000};
    std::function<std::vector<link::usb::AttachedWriter>()> attachedWriters_;
    std::string listError_;
    long long socketLife_ = 0;
};

}  // namespace sonoprog::production

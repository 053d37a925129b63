#include "production/WriterTilesPanel.h"

#include <QCoreApplication>
#include <QGridLayout>

#include <unistd.h>

#include "core/InheritedText.h"
#include "core/WriterOption.h"
#include "gui/QtServices.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/WriterTile.h"
#include "production/WriterWorkers.h"

namespace sonoprog::production {

WriterTilesPanel::WriterTilesPanel(std::string writers, QWidget* parent)
    : QWidget(parent), writers_(std::move(writers)) {
    setObjectName(QStringLiteral("PN_Prod_Tiles"));
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    workerProgram_ = QCoreApplication::applicationDirPath() + QStringLiteral("/sonoprog-cli");
    attachedWriters_ = [] {
        std::vector<std::string> writers;
        link::usb::UsbWriterDevice usb;
        for (const auto& w : usb.attachedWriters(false)) writers.push_back("usb:" + w.port);
        return writers;
    };
}

WriterTilesPanel::~WriterTilesPanel() {
    stop();
}

void WriterTilesPanel::buildTiles() {
    const auto writers = writerListEntries(writers_, attachedWriters_);
    std::vector<std::string> present;
    for (auto* tile : tiles_) present.push_back(tile->writer());
    if (!tiles_.empty() && present == writers) return;
    for (auto* tile : tiles_) delete tile;
    tiles_.clear();
    columns_ = 0;
    for (const auto& writer : writers) {
        auto* tile = new WriterTile(writer, this);
        if (!core::parseWriterOption(writer)) tile->showUnusable("not a Writer: " + writer);
        connect(tile, &WriterTile::unitFinished, this, &WriterTilesPanel::unitFinished);
        connect(tile, &WriterTile::workerEnded, this, &WriterTilesPanel::workerEnded);
        connect(tile, &WriterTile::restartRequested, this,
                [this, tile] { Q_EMIT restartRequested(tile); });
        tiles_.push_back(tile);
    }
    arrange();
}

void WriterTilesPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void WriterTilesPanel::arrange() {
    if (tiles_.empty()) return;
    // The grid and the fonts that make the tiles' words largest in this room.
    const TileGrid g = tileGrid(width(), height(), static_cast<int>(tiles_.size()));
    if (g.columns != columns_) {
        columns_ = g.columns;
        grid_->setSpacing(kTileSpacing);
        for (auto* tile : tiles_) grid_->removeWidget(tile);
        for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, 0);
        for (int r = 0; r < grid_->rowCount(); ++r) grid_->setRowStretch(r, 0);
        for (std::size_t at = 0; at < tiles_.size(); ++at)
            grid_->addWidget(tiles_[at], static_cast<int>(at) / columns_,
                             static_cast<int>(at) % columns_);
        for (int c = 0; c < g.columns; ++c) grid_->setColumnStretch(c, 1);
        for (int r = 0; r < g.rows; ++r) grid_->setRowStretch(r, 1);
    }
    for (auto* tile : tiles_) tile->setScale(g.scale);
}

std::vector<WriterTile*> WriterTilesPanel::idleTiles() const {
    std::vector<WriterTile*> idle;
    for (auto* tile : tiles_)
        if (tile->usable() && !tile->running()) idle.push_back(tile);
    return idle;
}

void WriterTilesPanel::startWorker(WriterTile& tile, const WorkerRun& run) {
    QStringList args{QStringLiteral("--json")};
    // Never on the command line, which any local user reads: the address
    // may hold the line database's password.
    int recordsFd = -1;
    if (!run.records.empty()) {
        recordsFd = core::inheritedTextPipe(run.records);
        if (recordsFd < 0) {
            tile.showUnusable("the records location cannot be handed to the worker");
            return;
        }
        args << QStringLiteral("--records-fd") << QString::number(recordsFd);
    }
    if (!run.setup.empty()) args << QStringLiteral("--setup") << gui::fromLocal(run.setup);
    if (!run.tempFolder.empty()) args << QStringLiteral("--temp") << gui::fromLocal(run.tempFolder);
    args << QStringLiteral("--writer") << gui::fromLocal(tile.writer()) << QStringLiteral("produce")
         << gui::fromLocal(run.jobPath) << QStringLiteral("--trigger") << QStringLiteral("insert");
    if (!run.operatorName.empty())
        args << QStringLiteral("--operator") << gui::fromLocal(run.operatorName);
    tile.start(workerProgram_, args, recordsFd);
    if (recordsFd >= 0) ::close(recordsFd);
}

void WriterTilesPanel::restartWhenEnded(WriterTile& tile) {
    tile.restartWhenEnded(stopGrace_);
}

void WriterTilesPanel::stop() {
    for (auto* tile : tiles_) tile->stop(stopGrace_);
}

bool WriterTilesPanel::anyRunning() const {
    for (auto* tile : tiles_)
        if (tile->running()) return true;
    return false;
}

void WriterTilesPanel::setRestartAllowed(bool allowed) {
    for (auto* tile : tiles_) tile->setRestartAllowed(allowed);
}

void WriterTilesPanel::resetCounters() {
    for (auto* tile : tiles_) tile->resetCounters();
}

}  // namespace sonoprog::production

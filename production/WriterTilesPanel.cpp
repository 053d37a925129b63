#include "production/WriterTilesPanel.h"

#include <QCoreApplication>
#include <QGridLayout>

#include <unistd.h>

#include "core/InheritedText.h"
#include "gui/QtServices.h"
#include "production/WriterGang.h"
#include "production/WriterTile.h"
#include "production/WriterWorkers.h"

namespace sonoprog::production {

WriterTilesPanel::WriterTilesPanel(std::string writers, QWidget* parent)
    : QWidget(parent), writers_(std::move(writers)) {
    setObjectName(QStringLiteral("PN_Prod_Tiles"));
    grid_ = new QGridLayout(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    workerProgram_ = QCoreApplication::applicationDirPath() + QStringLiteral("/sonoprog-cli");
    attachedWriters_ = attachedUsbWriters;
}

WriterTilesPanel::~WriterTilesPanel() {
    stop();
}

void WriterTilesPanel::buildTiles() {
    std::vector<link::usb::AttachedWriter> attached;
    if (listNeedsUsbWriters(writers_) && attachedWriters_) attached = attachedWriters_();
    const WriterList list = readWriterList(writers_, attached);
    listError_ = list.entries.empty() ? list.firstError("Writers=") : std::string();
    std::vector<std::string> wanted;
    for (const auto& e : list.entries) wanted.push_back(e.member.writer);
    std::vector<std::string> present;
    for (auto* tile : tiles_) present.push_back(tile->writer());
    if (!tiles_.empty() && present == wanted) return;
    for (auto* tile : tiles_) delete tile;
    tiles_.clear();
    columns_ = 0;
    for (const auto& entry : list.entries) {
        auto* tile = new WriterTile(entry.member.writer, this);
        tile->setSocketLife(socketLife_);
        // A USB Writer that is not attached gets its worker all the same: it
        // says so itself, and the Writer may be plugged in later.
        if (entry.problem == WriterProblem::NotAWriter)
            tile->showUnusable("not a Writer: " + entry.member.writer);
        else if (entry.problem != WriterProblem::None &&
                 entry.problem != WriterProblem::NotAttached)
            tile->showUnusable(entry.error);
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
    WorkerCommand command;
    command.writer = tile.writer();
    command.jobPath = run.jobPath;
    command.setup = run.setup;
    command.tempFolder = run.tempFolder;
    command.operatorName = run.operatorName;
    if (!run.lot.empty()) command.lot = run.lot;
    command.quantity = run.quantity;
    if (!run.records.empty()) {
        command.recordsFd = core::inheritedTextPipe(run.records);
        if (command.recordsFd < 0) {
            tile.showUnusable("the records location cannot be handed to the worker");
            return;
        }
    }
    QStringList args;
    for (const auto& a : workerArguments(command)) args << gui::fromLocal(a);
    tile.start(workerProgram_, args, command.recordsFd);
    if (command.recordsFd >= 0) ::close(command.recordsFd);
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

void WriterTilesPanel::setSocketLife(long long life) {
    socketLife_ = life;
    for (auto* tile : tiles_) tile->setSocketLife(life);
}

void WriterTilesPanel::resetCounters() {
    for (auto* tile : tiles_) tile->resetCounters();
}

}  // namespace sonoprog::production

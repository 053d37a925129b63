#include "production/WriterWorkers.h"

#include "core/LineSafe.h"
#include "core/WriterOption.h"

#include <filesystem>

namespace sonoprog::production {

namespace {

constexpr std::string_view kPollFailed = "the insertion poll failed";
constexpr std::string_view kWriterDisconnect = "Writer Disconnect";

// What a tile's panel says for each status; the detail goes on a line of its
// own where `detail` says so ("FAIL\nVDD failed!").
struct TileText {
    TileStatus status;
    std::string_view text;
    enum Detail { None, Always, WhenGiven } detail;
};
constexpr TileText kStatusTexts[] = {
    {TileStatus::Ready, "READY", TileText::None},
    {TileStatus::InsertChip, "INSERT CHIP", TileText::None},
    {TileStatus::Programming, "PROGRAMMING", TileText::None},
    {TileStatus::Pass, "PASS", TileText::None},
    {TileStatus::Fail, "FAIL", TileText::Always},
    {TileStatus::Disconnected, kWriterDisconnect, TileText::None},
    {TileStatus::Stopped, "STOPPED", TileText::WhenGiven},
};

}  // namespace

std::string writerShortName(std::string_view writer) {
    const auto option = core::parseWriterOption(writer);
    if (!option) return std::string(writer);
    if (!option->port.empty()) return option->port;
    if (!option->serial.empty()) return option->serial;
    if (option->kind == core::WriterOption::Kind::SimDir) {
        std::filesystem::path folder(option->folder);
        if (!folder.has_filename()) folder = folder.parent_path();  // "sim:/a/b/"
        if (!folder.filename().empty()) return folder.filename().string();
    }
    return std::string(writer);
}

std::string tileStatusText(TileStatus status, const std::string& detail) {
    for (const auto& row : kStatusTexts) {
        if (row.status != status) continue;
        std::string text(row.text);
        if (row.detail == TileText::Always ||
            (row.detail == TileText::WhenGiven && !detail.empty()))
            text += "\n" + core::lineSafe(detail);  // a file's name adds no line of its own
        return text;
    }
    return {};
}

void WorkerReport::show(TileStatus status, std::string detail) {
    status_ = status;
    detail_ = std::move(detail);
}

void WorkerReport::started() {
    running_ = true;
    sawTotal_ = false;
    disconnected_ = false;
    lastError_.clear();
    percent_ = 0;
    show(TileStatus::InsertChip);
}

// Anything a unit's operations say means a chip is in and being programmed;
// a Writer that went away keeps saying so until a unit passes on it again.
void WorkerReport::activity() {
    if (disconnected_) return;
    if (status_ == TileStatus::InsertChip || status_ == TileStatus::Pass ||
        status_ == TileStatus::Fail) {
        percent_ = 0;
        show(TileStatus::Programming);
    }
}

std::optional<UnitOutcome> WorkerReport::outputLine(std::string_view line) {
    const auto read = readWorkerLine(line);
    if (!read) return std::nullopt;
    switch (read->kind) {
        case WorkerKind::Unit:
            if (read->unit.passed) {
                ++counters_.passed;
                disconnected_ = false;
                show(TileStatus::Pass);
            } else {
                ++counters_.failed;
                if (!disconnected_) show(TileStatus::Fail, read->unit.failure);
            }
            return read->unit;
        case WorkerKind::Total:
            sawTotal_ = true;
            return std::nullopt;
        case WorkerKind::Result:
            // The worker's closing object comes after its total: no chip activity.
            return std::nullopt;
        case WorkerKind::Progress:
            activity();
            if (read->percent >= 0) percent_ = read->percent;
            return std::nullopt;
        default:
            activity();
            return std::nullopt;
    }
}

void WorkerReport::errorLine(std::string_view line) {
    const auto read = readWorkerLine(line);
    if (!read) return;
    if (read->kind == WorkerKind::Status && read->text == kWriterDisconnect) {
        disconnected_ = true;
        show(TileStatus::Disconnected);
    } else if (read->kind == WorkerKind::Error && read->text.rfind(kPollFailed, 0) == 0) {
        // The worker retries, but a Writer that no longer answers the
        // insertion poll is as good as pulled out: say so until a unit passes
        // on it again (or the operator restarts the tile once it is back).
        disconnected_ = true;
        show(TileStatus::Disconnected, read->text);
    } else if (read->kind == WorkerKind::Error) {
        lastError_ = read->text;
    }
}

void WorkerReport::ended(bool crashed, int exitCode) {
    running_ = false;
    if (crashed) {
        show(TileStatus::Disconnected);
    } else if (!lastError_.empty()) {
        // The Writer would not open, the records could not be written, the image changed.
        show(TileStatus::Stopped, lastError_);
    } else if (!sawTotal_) {
        // Gone without its total and without saying why.
        show(exitCode == 0 ? TileStatus::Ready : TileStatus::Disconnected);
    } else if (!disconnected_ &&
               (status_ == TileStatus::InsertChip || status_ == TileStatus::Programming)) {
        show(TileStatus::Ready);
    }
}

}  // namespace sonoprog::production

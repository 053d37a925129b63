#include "production/WriterWorkers.h"

#include "core/WriterOption.h"

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>

namespace sonoprog::production {

namespace {

constexpr std::string_view kPollFailed = "the insertion poll failed";
constexpr std::string_view kWriterDisconnect = "Writer Disconnect";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The object on one line, or a null value for anything else.
nlohmann::json objectOf(std::string_view line) {
    auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("kind") || !j.at("kind").is_string())
        return nullptr;
    return j;
}

std::string textOf(const nlohmann::json& j) {
    const auto it = j.find("text");
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::vector<std::string> writerListEntries(
    std::string_view text, const std::function<std::vector<std::string>()>& attached) {
    std::vector<std::string> entries;
    auto add = [&](std::string entry) {
        if (!entry.empty() && std::find(entries.begin(), entries.end(), entry) == entries.end())
            entries.push_back(std::move(entry));
    };
    text = trimmed(text);
    if (text == "all") {
        if (attached)
            for (auto& w : attached()) add(std::move(w));
        return entries;
    }
    while (!text.empty()) {
        const auto comma = text.find(',');
        add(std::string(trimmed(text.substr(0, comma))));
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return entries;
}

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
    switch (status) {
        case TileStatus::Ready:
            return "READY";
        case TileStatus::InsertChip:
            return "INSERT CHIP";
        case TileStatus::Programming:
            return "PROGRAMMING";
        case TileStatus::Pass:
            return "PASS";
        case TileStatus::Fail:
            return "FAIL\n" + detail;
        case TileStatus::Disconnected:
            return std::string(kWriterDisconnect);
        case TileStatus::Stopped:
            return detail.empty() ? "STOPPED" : "STOPPED\n" + detail;
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
    const auto j = objectOf(line);
    if (j.is_null()) return std::nullopt;
    const std::string kind = j.at("kind");
    if (kind == "unit") {
        auto outcome = unitOutcomeFromJson(line);
        if (!outcome) return std::nullopt;
        if (outcome->passed) {
            ++counters_.passed;
            disconnected_ = false;
            show(TileStatus::Pass);
        } else {
            ++counters_.failed;
            if (!disconnected_) show(TileStatus::Fail, outcome->failure);
        }
        return outcome;
    }
    if (kind == "total") {
        sawTotal_ = true;
        return std::nullopt;
    }
    // The worker's closing object comes after its total: no chip activity.
    if (kind == "result") return std::nullopt;
    if (kind == "progress") {
        activity();
        if (const auto p = j.find("percent"); p != j.end() && p->is_number_integer())
            percent_ = std::clamp(p->get<int>(), 0, 100);
        return std::nullopt;
    }
    activity();
    return std::nullopt;
}

void WorkerReport::errorLine(std::string_view line) {
    const auto j = objectOf(line);
    if (j.is_null()) return;
    const std::string kind = j.at("kind");
    const std::string text = textOf(j);
    if (kind == "status" && text == kWriterDisconnect) {
        disconnected_ = true;
        show(TileStatus::Disconnected);
    } else if (kind == "error" && text.rfind(kPollFailed, 0) == 0) {
        // The worker retries, but a Writer that no longer answers the
        // insertion poll is as good as pulled out: say so until a unit passes
        // on it again (or the operator restarts the tile once it is back).
        disconnected_ = true;
        show(TileStatus::Disconnected, text);
    } else if (kind == "error") {
        lastError_ = text;
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

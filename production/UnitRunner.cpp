#include "production/UnitRunner.h"

#include <fstream>

#include "core/FileChooser.h"
#include "core/ImageSnapshot.h"
#include "core/IniFile.h"
#include "core/OperationLog.h"
#include "core/OperationServices.h"
#include "kiva/KivaCommands.h"
#include "kiva/KivaOperations.h"
#include "serialflash/SerialFlashCommands.h"
#include "serialflash/SerialFlashDevices.h"
#include "serialflash/SerialFlashOperations.h"
#include "tarn/TarnCommands.h"
#include "tarn/TarnOperations.h"

namespace sonoprog::production {

namespace {

// The operations read the run's snapshot, never the file again.
core::OperationServices services(UnitServices& s, core::OperationLog& log,
                                 const core::ImageSnapshot& image) {
    core::OperationServices services{log, s.lock, s.yield, s.prompter, s.clock, s.paths, &s.link};
    services.image = &image;
    return services;
}

std::optional<std::uint32_t> pageAfter(const std::string& line, std::string_view marker) {
    const auto at = line.find(marker);
    if (at == std::string::npos) return std::nullopt;
    const auto start = at + marker.size();
    if (line.compare(start, 2, "0x") != 0) return std::nullopt;
    std::size_t used = 0;
    try {
        const unsigned long value = std::stoul(line.substr(start + 2, 6), &used, 16);
        if (used != 6) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    } catch (...) {
        return std::nullopt;
    }
}

UnitReport runTarn(const Job& job, const core::ImageSnapshot& image, UnitServices& s,
                   core::OperationLog& log) {
    UnitReport report;
    tarn::TarnFields fields;
    fields.LoadFile = image.path().string();
    fields.FileSize = std::to_string(image.bytes().size());
    fields.ChkSum = job.checkSum;
    fields.PageBeg = std::to_string(job.startPage);
    fields.PageCnt = std::to_string(job.writePages);
    fields.InfoPage = std::to_string(job.infoPage);
    fields.AllowError = std::to_string(job.allowError);
    tarn::TarnOperations ops(fields, services(s, log, image));
    report.passed = ops.write();
    report.pgmLog = ops.lastFile().string();
    if (!report.pgmLog.empty()) report.mirrored = mirroredFromPgmLog(report.pgmLog);
    if (report.passed) {
        report.passed = ops.verify();
        report.vrfLog = ops.lastFile().string();
    }
    return report;
}

UnitReport runSerialFlash(const Job& job, const core::ImageSnapshot& image, UnitServices& s,
                          core::OperationLog& log) {
    UnitReport report;
    serialflash::SerialFlashFields fields;
    fields.device = job.device;
    fields.loadFile = image.path().string();
    fields.fileSize = std::to_string(image.bytes().size());
    fields.chkSum = job.checkSum;
    serialflash::SerialFlashOperations ops(fields, services(s, log, image));
    report.passed = ops.deviceChange();
    if (report.passed && job.blankCheck) report.passed = ops.blankCheck();
    if (report.passed) report.passed = ops.write();
    return report;
}

UnitReport runKiva(const Job& job, const core::ImageSnapshot& image, UnitServices& s,
                   core::OperationLog& log) {
    UnitReport report;
    kiva::KivaFields fields{image.path().string(), job.checkSum};
    kiva::KivaOperations ops(fields, services(s, log, image), s.ivrKeys);
    report.passed = !job.blankCheck || ops.blankCheck();
    if (report.passed) report.passed = ops.write();
    return report;
}

// A poll is a detect and its closing command; either lost on the link makes
// the poll a link failure rather than an answer.
ProbeResult probeOutcome(const core::CommandResult& detected, const core::CommandResult& closed) {
    if (detected.transferFailed() || closed.transferFailed()) return ProbeResult::LinkFailed;
    return detected ? ProbeResult::ChipPresent : ProbeResult::Empty;
}

}  // namespace

std::string failMessage(const std::string& line) {
    std::size_t at = line.find_first_not_of(' ');
    if (at == std::string::npos) return {};
    for (std::string_view mark : {"[X]", "[!]"}) {
        if (line.compare(at, mark.size(), mark) == 0) {
            at = line.find_first_not_of(' ', at + mark.size());
            if (at == std::string::npos) return {};
            break;
        }
    }
    return line.substr(at);
}

std::vector<records::MirroredPage> mirroredFromPgmLog(const std::filesystem::path& file) {
    std::vector<records::MirroredPage> pages;
    std::ifstream in(file);
    std::string line;
    // A failed page is followed by its spare only when the mirroring worked.
    bool pending = false;
    std::uint32_t failed = 0;
    while (std::getline(in, line)) {
        if (auto page = pageAfter(line, "Failed to write page: ")) {
            pending = true;
            failed = *page;
        } else if (auto spare = pageAfter(line, "mirror this page to: ")) {
            if (pending) pages.push_back({failed, *spare});
            pending = false;
        }
    }
    return pages;
}

void CapturingPane::appendLine(const core::LogLine& line) {
    if (line.kind == core::LineKind::Step) lastStep_ = line.text;
    // The note of pages moved to the spare area is no failure of the unit.
    const bool mirrorNote =
        line.kind == core::LineKind::Warn && line.text.ends_with(tarn::kMirroredPagesTail);
    const bool failing =
        line.kind == core::LineKind::Fail || (line.kind == core::LineKind::Warn && !mirrorNote);
    if (failing && failLine_.empty()) {
        failLine_ = line.text;
        failingStep_ = lastStep_;
    }
    inner_.appendLine(line);
}

UnitReport runUnit(const Job& job, const core::ImageSnapshot& image, UnitServices& services) {
    CapturingPane capture(services.pane);
    core::OperationLog log(capture);
    UnitReport report;
    switch (job.target) {
        case Target::Tarn20:
            report = runTarn(job, image, services, log);
            break;
        case Target::SerialFlash:
            report = runSerialFlash(job, image, services, log);
            break;
        case Target::Kiva300:
            report = runKiva(job, image, services, log);
            break;
    }
    report.failingStep = capture.failingStep();
    report.failLine = capture.failLine();
    // A failed operation says why in its lines; one that would not is still a failure.
    if (!report.passed && report.failLine.empty()) report.failLine = "Failed!";
    return report;
}

SocketProbe::SocketProbe(const Job& job, const core::AppPaths& paths) : target_(job.target) {
    if (target_ != Target::SerialFlash) return;
    const auto device = serialflash::readDevice(core::IniFile::load(paths.setupIni()), job.device);
    mid_ = device.midByte();
    did_ = device.didByte();
}

ProbeResult SocketProbe::operator()(core::WriterLink& link) const {
    switch (target_) {
        case Target::Tarn20: {
            tarn::TarnCommands chip(link);
            const core::CommandResult detected = chip.TarnDetect();
            const core::CommandResult closed = chip.TarnDisable();
            return probeOutcome(detected, closed);
        }
        case Target::SerialFlash: {
            serialflash::SerialFlashCommands chip(link);
            const core::CommandResult detected = chip.detect(mid_, did_);
            const core::CommandResult closed = chip.disable();
            return probeOutcome(detected, closed);
        }
        case Target::Kiva300: {
            kiva::KivaCommands chip(link);
            const core::CommandResult detected = chip.detect(kiva::byte(kiva::Code::DetectRead));
            const core::CommandResult closed = chip.disable(kiva::byte(kiva::Code::EndRead));
            return probeOutcome(detected, closed);
        }
    }
    return ProbeResult::Empty;
}

}  // namespace sonoprog::production

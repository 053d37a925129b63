#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/ImageSnapshot.h"
#include "core/LogLine.h"
#include "core/OperationPane.h"
#include "core/Prompter.h"
#include "core/TabLock.h"
#include "core/WriterLink.h"
#include "core/YieldHook.h"
#include "ivr/IvrKeys.h"
#include "production/Job.h"
#include "records/UnitRecord.h"

namespace sonoprog::production {

// Everything a unit's operations report through and reach the Writer with;
// the front end's own pane and lock, so a unit shows exactly what the
// operations show when run one by one.
struct UnitServices {
    core::OperationPane& pane;
    core::TabLock& lock;
    core::YieldHook& yield;
    core::Prompter& prompter;
    core::Clock& clock;
    const core::AppPaths& paths;
    core::WriterLink& link;
    const ivr::IvrKeys& ivrKeys;  // the DAT files' key table the front end loaded
};

// What one unit came to.
struct UnitReport {
    bool passed = false;
    std::string failingStep;  // the step line before the first fail line, as shown
    std::string failLine;     // the first fail (or warning) line, as shown
    std::string pgmLog;
    std::string vrfLog;
    std::vector<records::MirroredPage> mirrored;
};

// The message of a fail line without its blanks and mark: "VDD failed!" for
// "    [X]  VDD failed!".
std::string failMessage(const std::string& line);

// The pages a Tarn20 PGM_ log records as mirrored, in order.
std::vector<records::MirroredPage> mirroredFromPgmLog(const std::filesystem::path& file);

// Passes every line on to the front end's pane and keeps the first fail line
// and the step it belongs to.
class CapturingPane final : public core::OperationPane {
public:
    explicit CapturingPane(core::OperationPane& inner) : inner_(inner) {}
    void clearLines() override { inner_.clearLines(); }
    void appendLine(const core::LogLine& line) override;
    void setProgress(int percent) override { inner_.setProgress(percent); }

    const std::string& failingStep() const { return failingStep_; }
    const std::string& failLine() const { return failLine_; }

private:
    core::OperationPane& inner_;
    std::string lastStep_;
    std::string failingStep_;
    std::string failLine_;
};

// Runs the job's steps on the chip in the socket through the chips' own
// operations: Tarn20 write then verify, serial flash [blank check,] write,
// Kiva300 [blank check,] write. The image is the run's snapshot of the job's
// image (already checked against the job): the unit programs and verifies
// those bytes, whatever the file on disk holds by now.
UnitReport runUnit(const Job& job, const core::ImageSnapshot& image, UnitServices& services);

// The insertion poll: the target's detect command and its closing command.
// A serial flash job's device ids are read from Setup.ini when the probe is
// made (once per wait for a chip), not at every poll.
enum class ProbeResult { ChipPresent, Empty, LinkFailed };
class SocketProbe {
public:
    SocketProbe(const Job& job, const core::AppPaths& paths);
    ProbeResult operator()(core::WriterLink& link) const;

private:
    Target target_;
    std::uint8_t mid_ = 0;
    std::uint8_t did_ = 0;
};

}  // namespace sonoprog::production

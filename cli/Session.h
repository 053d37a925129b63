#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/Arguments.h"
#include "cli/CliServices.h"
#include "cli/StopSignals.h"
#include "cli/ExitCodes.h"
#include "cli/TerminalPane.h"
#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/OperationServices.h"
#include "core/TabLock.h"
#include "core/YieldHook.h"
#include "ivr/IvrKeys.h"
#include "link/Link.h"
#include "link/usb/UsbWriterDevice.h"

namespace sonoprog::cli {

class WriterHolder;

// The prompter the link shows its boxes through: every box it shows means a
// transfer failed, which the exit status reports apart from the chip.
class LinkBoxes final : public core::Prompter {
public:
    explicit LinkBoxes(core::Prompter& to) : to_(to) {}
    void showMessage(std::string_view caption, std::string_view text, core::BoxIcon icon) override {
        failed_ = true;
        to_.showMessage(caption, text, icon);
    }
    bool askYesNo(std::string_view caption, std::string_view text, core::BoxIcon icon) override {
        return to_.askYesNo(caption, text, icon);
    }
    bool failed() const { return failed_; }

private:
    core::Prompter& to_;
    bool failed_ = false;
};

// Everything one command runs on: the services the operations report
// through, the program's folders and, for chip commands, the Writer.
class Session {
public:
    Session(const Invocation& invocation, std::FILE* out, std::FILE* err, PaneStyle style);
    ~Session();

    const Invocation& invocation() const { return inv_; }
    TerminalPane& pane() { return pane_; }
    core::OperationLog& log() { return log_; }
    StderrPrompter& prompter() { return prompter_; }
    ArgumentFileChooser& files() { return files_; }
    core::TabLock& lock() { return lock_; }
    core::Clock& clock() { return clock_; }
    core::YieldHook& yield() { return yield_; }
    // Ctrl+C while a StopSignals is alive.
    core::StopCheck& stopCheck() { return stop_; }
    const core::AppPaths& paths() const { return paths_; }
    // The DAT files' key table: IvrKeys.bin beside the program, read at start.
    const ivr::IvrKeys& ivrKeys() const { return ivrKeys_; }
    // What the operations run on; `link` only once the Writer is open.
    core::OperationServices services(core::WriterLink* link = nullptr) {
        return {log_, lock_, yield_, prompter_, clock_, paths_, link, &stop_};
    }

    // Opens the Writer of --writer on first use, as the window does at start.
    // nullptr after a message on standard error when it cannot be had at all.
    // A `sim:DIR` Writer keeps the chip of the command's family in DIR, or
    // the chips `simChips` (sim::ChipFiles) names for a command that is not a
    // chip's own (produce: the job's chip).
    link::Link* writerLink(std::optional<unsigned> simChips = std::nullopt);
    // What the records call the Writer of this run: the port (and serial
    // number) of the USB Writer the link found, "sim", or "sim:" and the
    // folder's absolute path.
    std::string writerIdentity() const;

    // Before an output file is written over: the question the Sound Editor
    // asks, answered by --yes. True when nothing is there or the answer is Yes.
    bool confirmReplace(const std::string& path);

    // A message of the front end itself ("sonoprog-cli: ...") on standard
    // error; under --json {"kind":"error","text":...}.
    void error(const std::string& message);
    // The same for a line that is no error ("notice", "hint").
    void note(std::string_view kind, const std::string& message);
    // The advice that follows everything an operation printed.
    void finish();
    std::FILE* out() { return out_; }

    // 0 when every operation passed; otherwise the worst of what failed
    // (see kExitMeanings): a link that failed or no Writer found, a file,
    // the chip (any other fail line, error box, refused question or error of
    // the front end).
    int exitStatus() const;
    void markFailed(int code = kExitFailed) { failedAs_ = worseExit(failedAs_, code); }
    // The status of an operation that returned `ok`: never 0 when it failed.
    int result(bool ok) const;

    // The closing {"kind":"result",...} of --json: its message (else the
    // first failure's text, or "done") and further members, each a
    // ready JSON value.
    void setResultMessage(std::string message) { resultMessage_ = std::move(message); }
    void addResultMember(std::string name, std::string jsonValue) {
        resultMembers_.emplace_back(std::move(name), std::move(jsonValue));
    }
    std::string resultLine(int status) const;
    // The command cannot run as given (exit status 2), found only once it ran:
    // a Writer named that is not attached, or several where one was meant.
    void usageError(const std::string& message);

private:
    const Invocation& inv_;
    std::FILE* out_;
    std::FILE* err_;
    TerminalPane pane_;
    core::OperationLog log_;
    StderrPrompter prompter_;
    ArgumentFileChooser files_;
    NoLock lock_;
    core::SystemClock clock_;
    core::NoYield yield_;
    SignalStop stop_;
    core::AppPaths paths_;
    ivr::IvrKeys ivrKeys_;
    std::unique_ptr<WriterHolder> writer_;
    link::usb::UsbWriterDevice* usb_ = nullptr;  // the device in writer_, when on USB
    LinkBoxes linkBoxes_;
    bool writerTried_ = false;
    int failedAs_ = kExitPassed;
    bool usage_ = false;
    std::string firstError_;
    std::string resultMessage_;
    std::vector<std::pair<std::string, std::string>> resultMembers_;
};

// "usb:1-1.1 (serial A7), usb:1-1.2", or "no Writer is attached".
std::string describeWriters(const std::vector<link::usb::AttachedWriter>& writers);

// Sets the device to take the Writer that --writer names. The usage error's
// text when that Writer is not attached, or when plain "usb" meets several.
std::optional<std::string> chooseUsbWriter(link::usb::UsbWriterDevice& device,
                                           const core::WriterOption& option);

// Runs the parsed command; returns the exit status.
int runCommand(Session& session);

}  // namespace sonoprog::cli

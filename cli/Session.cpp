#include "cli/Session.h"

#include <system_error>

#include "core/AtomicFile.h"
#include "link/ConnectionMonitor.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/WriterGang.h"
#include "sim/PersistentWriter.h"
#include "sim/StandardWriter.h"

namespace sonoprog::cli {

// The Writer of this run and the link over it, kept together so that the
// link never outlives its device.
class WriterHolder {
public:
    WriterHolder(std::unique_ptr<link::WriterDevice> device, core::Prompter& prompter,
                 TerminalPane& pane)
        : device_(std::move(device)),
          link_(*device_, prompter),
          monitor_(link_, [&pane](bool connected) {
              if (!connected) pane.noteLine("status", "Writer Disconnect");
          }) {
        monitor_.start();
    }
    link::Link& link() { return link_; }

private:
    std::unique_ptr<link::WriterDevice> device_;
    link::Link link_;
    link::ConnectionMonitor monitor_;
};

std::string describeWriters(const std::vector<link::usb::AttachedWriter>& writers) {
    return production::describeWriters(writers);
}

std::optional<std::string> chooseUsbWriter(link::usb::UsbWriterDevice& device,
                                           const core::WriterOption& option) {
    const auto attached = device.attachedWriters(false);
    if (!option.port.empty() || !option.serial.empty()) {
        link::usb::WriterChoice choice{option.port, option.serial};
        for (const auto& w : attached) {
            if (!choice.matches(w)) continue;
            device.setChoice(choice);
            return std::nullopt;
        }
        return "no Writer at " + option.text() + "; attached: " + describeWriters(attached);
    }
    // With none attached the run goes on as always: the link says "Writer
    // Disconnect" and the operation fails on it.
    if (attached.size() > 1)
        return "several Writers are attached: " + describeWriters(attached) +
               "; name one with --writer usb:PORT or --writer usb:serial=TEXT";
    return std::nullopt;
}

Session::Session(const Invocation& invocation, std::FILE* out, std::FILE* err, PaneStyle style)
    : inv_(invocation),
      out_(out),
      err_(err),
      pane_(out, err, style),
      log_(pane_),
      prompter_(err, invocation.yes, invocation.json),
      linkBoxes_(prompter_),
      paths_(core::AppPaths::forRunningProgram()),
      ivrKeys_(ivr::IvrKeys::fromFolder(paths_.programDir)) {
    prompter_.beforePrint = [this] { pane_.endProgressBar(); };
    if (inv_.setup) paths_.setupOverride = *inv_.setup;
    if (inv_.temp) {
        paths_.tempDir = *inv_.temp;
        std::error_code ec;
        std::filesystem::create_directories(paths_.tempDir, ec);
    } else {
        paths_.ensureTemp();
    }
}

Session::~Session() = default;

void Session::error(const std::string& message) {
    if (firstError_.empty()) firstError_ = message;
    pane_.noteLine("error", inv_.json ? message : "sonoprog-cli: " + message);
}

void Session::note(std::string_view kind, const std::string& message) {
    pane_.noteLine(kind, inv_.json ? message : "sonoprog-cli: " + message);
}

void Session::finish() {
    // After the operation's own lines and boxes, never among them.
    if (writer_ && inv_.writer.kind == core::WriterOption::Kind::Usb &&
        !writer_->link().connected())
        note("hint",
             "no Writer found on USB 04d8:0052; check the cable and the udev rules (README, "
             "\"The Writer on Linux (udev rules)\"), or use --writer sim");
}

bool Session::confirmReplace(const std::string& path) {
    return core::confirmReplace(prompter_, path);
}

void Session::usageError(const std::string& message) {
    error(message);
    usage_ = true;
}

int Session::exitStatus() const {
    int status = failedAs_;
    if (usage_) status = worseExit(status, kExitUsage);
    if (linkBoxes_.failed() || (writer_ && inv_.writer.kind == core::WriterOption::Kind::Usb &&
                                !writer_->link().connected()))
        status = worseExit(status, kExitNoWriter);
    if (pane_.sawFail()) status = worseExit(status, exitForFailText(pane_.firstFail()));
    if (prompter_.errorBoxes() > 0 || prompter_.refusals() > 0)
        status = worseExit(status, kExitFailed);
    return status;
}

int Session::result(bool ok) const {
    const int status = exitStatus();
    return ok || status != kExitPassed ? status : kExitFailed;
}

std::string Session::resultLine(int status) const {
    std::string message = resultMessage_;
    if (message.empty() && status != kExitPassed)
        message = pane_.sawFail() ? pane_.firstFail() : firstError_;
    if (message.empty() && status == kExitFailed && inv_.command &&
        inv_.command->family == "produce")
        message = "a unit failed";
    if (message.empty()) {
        for (const auto& m : kExitMeanings)
            if (m.code == status) message = std::string(m.meaning);
    }
    std::string line =
        std::string("{\"kind\":\"result\",\"ok\":") + (status == kExitPassed ? "true" : "false") +
        ",\"exit\":" + std::to_string(status) + ",\"message\":" + jsonString(message);
    for (const auto& [name, value] : resultMembers_) line += "," + jsonString(name) + ":" + value;
    return line + "}";
}

link::Link* Session::writerLink(std::optional<unsigned> simChips) {
    if (writerTried_) return writer_ ? &writer_->link() : nullptr;
    writerTried_ = true;
    std::unique_ptr<link::WriterDevice> device;
    switch (inv_.writer.kind) {
        case core::WriterOption::Kind::Usb: {
            auto usb = std::make_unique<link::usb::UsbWriterDevice>();
            if (auto problem = chooseUsbWriter(*usb, inv_.writer)) {
                // A Writer named and not there is no Writer; several where one
                // was meant is a command that cannot run as given.
                if (inv_.writer.port.empty() && inv_.writer.serial.empty()) {
                    usageError(*problem);
                } else {
                    error(*problem);
                    markFailed(kExitNoWriter);
                }
                return nullptr;
            }
            usb_ = usb.get();
            device = std::move(usb);
            break;
        }
        case core::WriterOption::Kind::Sim:
            device = sim::makeStandardWriter();
            break;
        case core::WriterOption::Kind::SimDir: {
            unsigned chips = sim::kAllChipFiles;
            if (simChips) {
                chips = *simChips;
            } else if (inv_.command) {
                std::string_view family = inv_.command->family;
                chips = family == "tarn20"        ? sim::kTarn20File
                        : family == "serialflash" ? sim::kSerialFlashFile
                        : family == "kiva300"     ? sim::kKiva300File
                                                  : 0u;
            }
            auto opened = sim::openPersistentWriter(inv_.writer.folder, chips);
            for (const auto& w : opened.warnings) note("warning", w);
            if (!opened.writer) {
                error(opened.error);
                markFailed(opened.inUse ? kExitNoWriter : kExitFailed);
                return nullptr;
            }
            // Claimed before anything is sent: a folder another process has
            // open is left alone, chips and all.
            if (!opened.writer->open()) {
                const auto pid = opened.lock->holder();
                error("the virtual Writer in " + inv_.writer.folder +
                      " is in use by another process" +
                      (pid ? " (PID " + std::to_string(*pid) + ")" : std::string()));
                markFailed(kExitNoWriter);
                return nullptr;
            }
            for (const auto& n : opened.notices) note("notice", n);
            device = std::move(opened.writer);
            break;
        }
    }
    writer_ = std::make_unique<WriterHolder>(std::move(device), linkBoxes_, pane_);
    return &writer_->link();
}

std::string Session::writerIdentity() const {
    // A USB Writer by the port the link found it at; before that, as asked for.
    if (inv_.writer.kind == core::WriterOption::Kind::Usb && usb_ && !usb_->found().port.empty())
        return link::usb::identityText(usb_->found());
    return inv_.writer.recordedIdentity();
}

}  // namespace sonoprog::cli

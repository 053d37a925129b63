#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "core/AppPaths.h"
#include "core/OperationLog.h"
#include "core/OperationPane.h"
#include "core/YieldHook.h"
#include "link/ConnectionMonitor.h"
#include "link/Link.h"
#include "link/usb/UsbWriterDevice.h"
#include "tests/link/usb/EmulatedBus.h"
#include "tests/reliability/Sweep.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

// The window lets pending events through once per page or block: here that
// is the backend's event handling, which delivers hot-plug removals.
class PumpingYield final : public core::YieldHook {
public:
    explicit PumpingYield(link::usb::UsbWriterDevice& device) : device_(device) {}
    void yield() override {
        device_.handleEvents();
        ++count;
    }
    long long count = 0;

private:
    link::usb::UsbWriterDevice& device_;
};

// The program's own libusb backend, link and connection monitor on the
// emulated bus: nothing of the program is replaced.
struct BackendFixture : ::testing::Test {
    // Lets the backend handle its events, as the window's loop does, until
    // `done` holds; false when it did not within the limit.
    bool pumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            device.handleEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    void pumpFor(std::chrono::milliseconds span) {
        pumpUntil([] { return false; }, span);
    }
    // The monitor's status shows `connected` after the events of a plug or unplug.
    bool showsSoon(bool connected) {
        return pumpUntil([&] { return !shown.empty() && shown.back() == connected; });
    }
    // The echo chip's whole round on the open link: exchange, block out, block back.
    bool echoes(std::uint8_t tag) {
        core::Packet cmd{}, reply{};
        cmd[0] = 0x7A;
        cmd[2] = tag;
        if (!link.Exchange(cmd, reply) || reply[1] != 0 || reply[2] != tag) return false;
        const std::uint8_t out[4] = {tag, 1, 2, 3};
        std::uint8_t back[4] = {};
        return link.BulkWrite(out, 4) && link.BulkRead(back, 4) && std::equal(out, out + 4, back);
    }

    // Plugs in a virtual Writer with `chip` in its socket (transfer log on)
    // and lets the monitor connect to it.
    void connectWriter(std::shared_ptr<sim::ChipModel> chip) {
        auto w = std::make_unique<sim::VirtualWriter>();
        w->addChip(std::move(chip));
        w->setLogging(true);
        writer = std::make_unique<EmulatedWriter>(bus, std::move(w));
        writer->plug();
        EXPECT_TRUE(pumpUntil([&] { return device.discover(); }));
        monitor.start();
        EXPECT_TRUE(link.connected());
    }
    // Runs one operation of a tab on fresh recorders, as the operator's click does.
    bool runOperation(const std::function<bool()>& operation) {
        pane = {};
        lock = {};
        bool result = false;
        withinDeadline("operation over USB", std::chrono::seconds(120),
                       [&] { result = operation(); });
        return result;
    }
    std::string tail(std::size_t fromEnd) const {
        return pane.lines.size() > fromEnd ? pane.lines[pane.lines.size() - 1 - fromEnd].text
                                           : std::string();
    }

    EmulatedBus bus;  // first: libusb must start inside the testbed
    link::usb::UsbWriterDevice device;
    RecordingPrompter prompter;
    link::Link link{device, prompter};
    std::vector<bool> shown;  // every status the monitor showed, in order
    link::ConnectionMonitor monitor{link, [this](bool connected) { shown.push_back(connected); }};
    std::unique_ptr<EmulatedWriter> writer;

    // What the operations report through and keep their files in.
    TempDir dir;
    core::AppPaths paths = core::AppPaths::forFolder(dir.path());
    RecordingPane pane;
    core::OperationLog log{pane};
    RecordingLock lock;
    PumpingYield yield{device};
    ScriptedFileChooser files;
    FixedClock clock;
};

}  // namespace sonoprog::test

// The serial flash operations over the real libusb path, and a Writer pulled
// out or falling silent in the middle of them.

#include <chrono>

#include "serialflash/SerialFlashCommands.h"
#include "tests/link/usb/BackendFixture.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;
using namespace std::chrono_literals;

namespace {

struct SerialFlashOverUsb : test::BackendFixture {
    SerialFlashOverUsb() : chip(test::SerialFlashImage::makeChip()), bench(dir) {
        connectWriter(chip);
    }

    bool run(bool (serialflash::SerialFlashOperations::*operation)()) {
        serialflash::SerialFlashOperations ops(bench.fields, test::servicesOf(*this));
        return runOperation([&] { return (ops.*operation)(); });
    }
    bool chipHoldsImage() {
        return writer->withWriter([&](sim::VirtualWriter&) { return bench.holdsImage(*chip); });
    }

    std::shared_ptr<sim::SerialFlashChip> chip;
    test::SerialFlashImage bench;
};

using Op = serialflash::SerialFlashOperations;

}  // namespace

TEST_F(SerialFlashOverUsb, BlankCheckWriteAndVerifyPassEndToEnd) {
    EXPECT_TRUE(run(&Op::blankCheck));
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    EXPECT_TRUE(run(&Op::write));
    EXPECT_TRUE(chipHoldsImage());
    EXPECT_TRUE(run(&Op::verify));
    EXPECT_EQ(tail(1), "    [O] Finished!");
    EXPECT_EQ(tail(0), "  -> Done!");
    EXPECT_TRUE(prompter.boxes.empty());
    writer->withWriter([](sim::VirtualWriter& w) {
        EXPECT_TRUE(w.protocolErrors().empty());
        EXPECT_EQ(w.commandCodes().back(), serialflash::byte(serialflash::Code::Disable));
    });
}

TEST_F(SerialFlashOverUsb, AWriterPulledOutMidWriteFailsTheWriteAndDisconnects) {
    // Transfer 4 is the second block's exchange (after detect and erase): the
    // cable goes while its reply is awaited, so the third block never leaves.
    writer->unplugAtTransfer(4);
    EXPECT_FALSE(run(&Op::write));
    writer->waitForCable();
    EXPECT_FALSE(chipHoldsImage());
    EXPECT_TRUE(pane.has("    [X] USB failed!"));
    EXPECT_LT(pane.find("    [O] Passed!"), pane.find("  -> Write chip..."));  // the erase's only
    // The closing command was tried and failed like every transfer after the removal.
    EXPECT_EQ(tail(2), "  -> Disable chip...");
    EXPECT_EQ(tail(1), "    [X] SB failed!");
    EXPECT_EQ(tail(0), "  -> Done!");
    ASSERT_EQ(prompter.boxes.size(), 2u);
    for (const auto& box : prompter.boxes) {
        EXPECT_EQ(box.caption, "ERROR");
        EXPECT_EQ(box.text, link::kNoDeviceText);
    }
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    EXPECT_FALSE(lock.locked);
    ASSERT_TRUE(showsSoon(false));
    EXPECT_FALSE(link.connected());

    // Plugged back in, the same chip takes a whole write.
    writer->plug();
    ASSERT_TRUE(showsSoon(true));
    prompter.boxes.clear();
    EXPECT_TRUE(run(&Op::write));
    EXPECT_TRUE(chipHoldsImage());
}

TEST_F(SerialFlashOverUsb, AWriterThatFallsSilentMidVerifyEndsTheVerifyInSeconds) {
    ASSERT_TRUE(run(&Op::write));
    device.setTimeouts(300, 300);
    writer->setAnswering(false);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(run(&Op::verify));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_TRUE(pane.has("    [X] USB failed!"));
    EXPECT_FALSE(pane.has("    [O] Passed!"));
    EXPECT_EQ(tail(0), "  -> Done!");
    ASSERT_FALSE(prompter.boxes.empty());
    EXPECT_EQ(prompter.boxes.front().text, "Operation timed out");
    EXPECT_FALSE(lock.locked);
    EXPECT_TRUE(link.connected());  // still plugged in
}

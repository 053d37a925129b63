// The Kiva300 operations over the real libusb path.

#include "tests/link/usb/BackendFixture.h"
#include "tests/support/KivaFixture.h"

using namespace sonoprog;

namespace {

struct KivaOverUsb : test::BackendFixture {
    KivaOverUsb() : chip(std::make_shared<sim::KivaChip>()), bench(dir) { connectWriter(chip); }

    bool run(bool (kiva::KivaOperations::*operation)()) {
        return runOperation([&] { return (ops.*operation)(); });
    }

    std::shared_ptr<sim::KivaChip> chip;
    test::KivaImage bench;
    kiva::KivaOperations ops{bench.fields, test::servicesOf(*this), bench.keys};
};

}  // namespace

TEST_F(KivaOverUsb, BlankCheckWriteAndVerifyPassEndToEnd) {
    EXPECT_TRUE(run(&kiva::KivaOperations::blankCheck));
    EXPECT_TRUE(run(&kiva::KivaOperations::write));
    EXPECT_TRUE(writer->withWriter([&](sim::VirtualWriter&) { return bench.onChip(*chip); }));
    EXPECT_TRUE(run(&kiva::KivaOperations::verify));
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    EXPECT_EQ(tail(0), "  -> Done!");
    EXPECT_TRUE(prompter.boxes.empty());
    writer->withWriter([](sim::VirtualWriter& w) {
        EXPECT_TRUE(w.protocolErrors().empty());
        EXPECT_EQ(w.commandCodes().back(), kiva::byte(kiva::Code::EndRead));
        return true;
    });
}

TEST_F(KivaOverUsb, AWriterPulledOutMidWriteFailsTheWrite) {
    writer->unplugAtTransfer(30);  // a program block's exchange
    EXPECT_FALSE(run(&kiva::KivaOperations::write));
    writer->waitForCable();
    EXPECT_FALSE(pane.has("    [O] Passed!"));
    EXPECT_EQ(tail(0), "  -> Done!");
    EXPECT_FALSE(lock.locked);
    ASSERT_FALSE(prompter.boxes.empty());
    EXPECT_EQ(prompter.boxes.front().text, link::kNoDeviceText);
    EXPECT_TRUE(showsSoon(false));
}

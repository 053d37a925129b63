// The Tarn20 operations over the real libusb path, and a Writer pulled out
// in the middle of a write.

#include <chrono>
#include <cstdio>

#include "tests/link/usb/BackendFixture.h"
#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using namespace std::chrono_literals;

namespace {

struct TarnOverUsb : test::BackendFixture {
    TarnOverUsb() : chip(std::make_shared<sim::TarnChip>()), bench(dir) { connectWriter(chip); }

    bool run(bool (tarn::TarnOperations::*operation)()) {
        return runOperation([&] { return (ops.*operation)(); });
    }
    template <class F>
    auto onChip(F&& f) {
        return writer->withWriter([&](sim::VirtualWriter& w) { return f(*chip, w); });
    }

    std::shared_ptr<sim::TarnChip> chip;
    test::TarnImage bench;
    tarn::TarnOperations ops{bench.fields, test::servicesOf(*this)};
};

constexpr std::uint8_t kRelease = static_cast<std::uint8_t>(tarn::Code::Release);
constexpr std::uint8_t kSetMirror = static_cast<std::uint8_t>(tarn::Code::SetMirror);

}  // namespace

TEST_F(TarnOverUsb, WriteAndVerifyPassEndToEnd) {
    EXPECT_TRUE(run(&tarn::TarnOperations::write));
    EXPECT_TRUE(pane.has("    [O] Passed!"));
    EXPECT_TRUE(onChip([&](sim::TarnChip& c, sim::VirtualWriter&) { return bench.written(c); }));
    EXPECT_TRUE(run(&tarn::TarnOperations::verify));
    EXPECT_EQ(tail(0), "End: 04:50:07");
    EXPECT_EQ(tail(1), "  -> Done!");
    EXPECT_EQ(tail(2), "    [O] Finished!");
    EXPECT_TRUE(prompter.boxes.empty());
    onChip([](sim::TarnChip&, sim::VirtualWriter& w) {
        EXPECT_TRUE(w.protocolErrors().empty());
        EXPECT_EQ(w.transferCount(), 52u + 18u);  // every block went through, each once
        EXPECT_EQ(w.commandCodes().back(), kRelease);
        return true;
    });
}

TEST_F(TarnOverUsb, ReadDumpsThePagesThatCameOverUsb) {
    onChip([&](sim::TarnChip& c, sim::VirtualWriter&) {
        bench.program(c);
        return true;
    });
    // The whole user area is 124,032 pages; over the emulated bus the read
    // runs its first eight, then the cable goes inside the ninth page's read.
    writer->unplugAtTransfer(1 + 4 * 8 + 2);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(run(&tarn::TarnOperations::read));
    const auto perTransfer = (std::chrono::steady_clock::now() - started) / (1 + 4 * 8 + 2);
    writer->waitForCable();
    EXPECT_TRUE(pane.has("    [X] Failed to read page: 0x000008 (USB failed!)!")) << tail(4);
    EXPECT_EQ(tail(1), "  -> Done!");
    EXPECT_FALSE(lock.locked);
    std::FILE* f = std::fopen(ops.lastFile().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<std::uint8_t> dump(9 * tarn::kPageSize);
    const std::size_t got = std::fread(dump.data(), 1, dump.size(), f);
    std::fclose(f);
    ASSERT_EQ(got, 8 * tarn::kPageSize);
    onChip([&](sim::TarnChip& c, sim::VirtualWriter&) {
        for (std::uint32_t p = 0; p < 8; ++p)
            EXPECT_EQ(
                std::vector<std::uint8_t>(dump.begin() + p * 1024, dump.begin() + (p + 1) * 1024),
                c.page(p))
                << p;
        return true;
    });
    std::printf("one transfer over the emulated bus: %lld us\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(perTransfer).count()));
}

TEST_F(TarnOverUsb, AWriterPulledOutMidWriteFailsWithoutMirroringAndDisconnects) {
    // Page 2's program: 0x12 is transfer 34, its 1,024-byte block 35. The
    // cable goes while that block is on its way.
    writer->unplugAtTransfer(35);
    EXPECT_FALSE(run(&tarn::TarnOperations::write));
    writer->waitForCable();
    EXPECT_FALSE(pane.has("    [O] Passed!"));
    EXPECT_TRUE(pane.has("  -> Disable chip..."));
    EXPECT_EQ(tail(1), "  -> Done!");
    EXPECT_EQ(tail(0), "End: 04:50:07");
    EXPECT_EQ(lock.events, (std::vector<std::string>{"lock", "unlock"}));
    ASSERT_GE(prompter.boxes.size(), 2u);  // the block, then the closing release
    EXPECT_EQ(prompter.boxes.front().text, "[USB] Failed to transmit data!");
    for (const auto& box : prompter.boxes) EXPECT_EQ(box.caption, "ERROR");
    onChip([&](sim::TarnChip& c, sim::VirtualWriter& w) {
        // A dead link is no bad page: nothing was mirrored, pages 0 and 1 are written.
        for (auto code : w.commandCodes()) EXPECT_NE(code, kSetMirror);
        EXPECT_EQ(c.page(0), bench.page(0));
        EXPECT_EQ(c.page(1), bench.page(1));
        EXPECT_EQ(c.page(2), std::vector<std::uint8_t>(tarn::kPageSize, 0xFF));
        return true;
    });
    ASSERT_TRUE(showsSoon(false));
    writer->plug();
    ASSERT_TRUE(showsSoon(true));
    onChip([](sim::TarnChip& c, sim::VirtualWriter&) {
        c.erase();
        return true;
    });
    prompter.boxes.clear();
    EXPECT_TRUE(run(&tarn::TarnOperations::write));
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(TarnOverUsb, AWriterThatFallsSilentEndsTheVerifyInSeconds) {
    onChip([&](sim::TarnChip& c, sim::VirtualWriter&) {
        bench.program(c);
        return true;
    });
    device.setTimeouts(300, 300);
    writer->setAnswering(false);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(run(&tarn::TarnOperations::verify));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(pane.has("    [O] Passed!"));
    EXPECT_EQ(tail(0), "End: 04:50:07");
    ASSERT_FALSE(prompter.boxes.empty());
    EXPECT_EQ(prompter.boxes.front().text, "Operation timed out");
    EXPECT_FALSE(lock.locked);
}

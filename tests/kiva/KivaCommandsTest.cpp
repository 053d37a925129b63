#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#include "kiva/KivaCommands.h"
#include "link/Link.h"
#include "sim/KivaChip.h"
#include "sim/VirtualWriter.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using kiva::Code;

namespace {

struct KivaCommandsTest : ::testing::Test {
    KivaCommandsTest() {
        writer.addChip(chip);
        link.Open();
    }

    sim::VirtualWriter writer;
    std::shared_ptr<sim::KivaChip> chip = std::make_shared<sim::KivaChip>();
    test::RecordingPrompter prompter;
    link::Link link{writer, prompter};
    kiva::KivaCommands commands{link};
};

}  // namespace

TEST_F(KivaCommandsTest, RefusedDetectIsAChipFailureWithItsStatusAndLine) {
    struct Case {
        Code detect;
        std::uint8_t status;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Code::DetectRead, 0x10, "VDD failed!"},    {Code::DetectProgram, 0x10, " VDD failed!"},
        {Code::DetectProgram, 0x11, "VPP failed!"}, {Code::DetectRead, 0x20, "Device ID failed!"},
        {Code::DetectRead, 0x7F, "Failed!"},
    };
    for (const auto& c : cases) {
        chip->setDetectStatus(kiva::byte(c.detect), c.status);
        const core::CommandResult detected = commands.detect(kiva::byte(c.detect));
        EXPECT_TRUE(detected.chipFailed()) << c.line;
        EXPECT_FALSE(detected.transferFailed()) << c.line;
        EXPECT_EQ(detected.status(), c.status);
        EXPECT_EQ(detected.message(), c.line);
        chip->setDetectStatus(kiva::byte(c.detect), 0);
    }
    const core::CommandResult present = commands.detect(kiva::byte(Code::DetectRead));
    EXPECT_TRUE(present.ok());
    EXPECT_EQ(present.status(), 0);
    EXPECT_TRUE(commands.disable(kiva::byte(Code::EndRead)).ok());
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(KivaCommandsTest, EveryCommandOnADeadWriterIsATransferFailure) {
    writer.failFrom(writer.transferCount() + 1);
    std::uint8_t block[kiva::kKivaBlock];
    std::fill(std::begin(block), std::end(block), 0x5A);
    const std::vector<core::CommandResult> results = {
        commands.detect(kiva::byte(Code::DetectProgram)),
        commands.programBlock(block, kiva::kKivaBlock),
        commands.readBlock(kiva::kKivaBlock, block),
        commands.disable(kiva::byte(Code::EndProgram)),
    };
    for (const auto& r : results) {
        EXPECT_TRUE(r.transferFailed());
        EXPECT_FALSE(r.chipFailed());
        EXPECT_EQ(r.message(), "USB failed!");
    }
    // A failed read leaves the caller's block as it was.
    EXPECT_TRUE(std::all_of(std::begin(block), std::end(block), [](auto b) { return b == 0x5A; }));
    EXPECT_EQ(prompter.boxes.size(), results.size());
}

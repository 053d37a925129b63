#include "link/Link.h"
#include "sim/StandardWriter.h"
#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using test::Bytes;

namespace {

struct TarnChipTest : test::TarnRig {
    tarn::TarnCommands cmd{link};
    std::uint32_t errors = 0;

    void SetUp() override { ASSERT_TRUE(cmd.TarnDetect().ok()); }
};

}  // namespace

TEST_F(TarnChipTest, ProgrammingOnlyClearsBits) {
    EXPECT_EQ(chip->page(1000), Bytes(1024, 0xFF));
    ASSERT_TRUE(cmd.TarnProgramPage(1000, Bytes(1024, 0xF0).data()).ok());
    ASSERT_TRUE(cmd.TarnProgramPage(1000, Bytes(1024, 0x3C).data()).ok());
    EXPECT_EQ(chip->page(1000), Bytes(1024, 0x30));
    EXPECT_EQ(chip->pagesProgrammed(), 2u);
}

TEST_F(TarnChipTest, SameImageTwiceReadsCleanOtherDataOverItDoesNot) {
    Bytes data = test::pageOf(test::patternImage(3), 2);
    ASSERT_TRUE(cmd.TarnWriteDataPage(20, data.data()).ok());
    ASSERT_TRUE(cmd.TarnWriteDataPage(20, data.data()).ok());
    ASSERT_TRUE(cmd.TarnComparePage(20, data.data(), errors).ok());
    EXPECT_EQ(errors, 0u);

    Bytes other = test::pageOf(test::patternImage(3), 1);
    const core::CommandResult written = cmd.TarnWriteInfoPage(20, other.data());
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message(), "Data failed!");
}

TEST_F(TarnChipTest, BadPagesNeverTakeDataAndReadBackWrong) {
    chip->setBadPage(30);
    Bytes data(1024, 0x12);
    EXPECT_FALSE(cmd.TarnWriteInfoPage(30, data.data()).ok());
    EXPECT_EQ(chip->page(30), Bytes(1024, 0xFF));  // the cells hold nothing
    ASSERT_TRUE(cmd.TarnComparePage(30, data.data(), errors).ok());
    EXPECT_EQ(errors, 1024u);  // by default every byte reads wrong

    chip->setBadPage(31, 5);
    ASSERT_TRUE(cmd.TarnProgramPage(31, data.data()).ok());
    ASSERT_TRUE(cmd.TarnComparePage(31, data.data(), errors).ok());
    EXPECT_EQ(errors, 5u);

    chip->clearBadPages();
    EXPECT_FALSE(chip->isBadPage(30));
    ASSERT_TRUE(cmd.TarnWriteInfoPage(30, data.data()).ok());
    EXPECT_EQ(chip->page(30), data);
}

TEST_F(TarnChipTest, PageSumIsThePageAsTheChipHoldsIt) {
    Bytes data(1024, 0x00);
    data[0] = 0x10;
    data[1023] = 0x01;
    chip->writePage(70, data.data());
    // Programming 0xFF over it leaves the cells as they were; the Writer's sum
    // is then 0x11, not the 0x3FC00 of the buffer.
    const core::CommandResult written = cmd.TarnWriteDataPage(70, Bytes(1024, 0xFF).data());
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message(), "CheckSum failed!");
    const auto& replies = writer.log();
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < replies.size(); ++i)
        if (replies[i].kind == sim::TransferRecord::Kind::Command && replies[i].bytes[0] == 0x17)
            sum = replies[i + 1].bytes[2] | (replies[i + 1].bytes[3] << 8) |
                  (replies[i + 1].bytes[4] << 16);
    EXPECT_EQ(sum, 0x11u);
}

TEST_F(TarnChipTest, CommandsOutsideADetectedPassAreProtocolErrors) {
    ASSERT_TRUE(cmd.TarnDisable().ok());
    EXPECT_TRUE(writer.protocolErrors().empty());
    ASSERT_TRUE(cmd.TarnComparePage(1, Bytes(1024, 0xFF).data(), errors).ok());
    ASSERT_EQ(writer.protocolErrors().size(), 2u);  // 0x14 and 0x15
    EXPECT_EQ(writer.protocolErrors()[0], "Tarn20 0x14: sent before a detect");
}

TEST_F(TarnChipTest, MapEntryOutsideTheMirrorMapIsRefused) {
    // Only 0x16 writes the map; a map page below 0x1FE00 is not one.
    core::Packet p{};
    p[0] = 0x16;
    core::put24(p, 2, 0x1E480);
    core::Packet reply{};
    ASSERT_TRUE(link.Exchange(p, reply));
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_EQ(chip->page(0x1E480), Bytes(1024, 0xFF));
    EXPECT_FALSE(writer.protocolErrors().empty());
}

TEST(TarnStandardWriter, CarriesTheTarnChip) {
    auto writer = sim::makeStandardWriter();
    ASSERT_TRUE(writer->open());
    test::RecordingPrompter prompter;
    link::Link link(*writer, prompter);
    tarn::TarnCommands cmd(link);
    const core::CommandResult detected = cmd.TarnDetect();
    EXPECT_TRUE(detected.ok());
    EXPECT_EQ(detected.message(), "   [O] Device: Tarn20");
    EXPECT_TRUE(cmd.TarnDisable().ok());
    EXPECT_TRUE(prompter.boxes.empty());
}

#include <functional>

#include "tests/support/TarnFixture.h"

using namespace sonoprog;
using Kind = sim::TransferRecord::Kind;
using test::Bytes;
using test::packet;

namespace {

struct TarnCommandsTest : test::TarnRig {
    tarn::TarnCommands cmd{link};

    void detect() {
        ASSERT_TRUE(cmd.TarnDetect().ok());
        writer.clearLog();
    }
    std::vector<Kind> kinds() const {
        std::vector<Kind> out;
        for (const auto& r : writer.log()) out.push_back(r.kind);
        return out;
    }
};

}  // namespace

TEST_F(TarnCommandsTest, DetectSendsItsFixedBytesAndNamesTheChip) {
    const core::CommandResult detected = cmd.TarnDetect();
    ASSERT_TRUE(detected.ok());
    EXPECT_EQ(detected.message(), "   [O] Device: Tarn20");
    ASSERT_EQ(writer.log().size(), 2u);
    EXPECT_EQ(writer.log()[0].bytes, packet({0x10, 0x00, 0x45, 0xF1}));
}

TEST_F(TarnCommandsTest, DetectStatusesGiveTheirMessagesAndUnlistedOnesTheLastRow) {
    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0x11, "   [X] VCC failed!"},
        {0x12, "   [X] BUS failed!"},
        {0x13, "   [X] I/O failed!"},
        {0x21, "   [X] Chip does not enter reset mode!"},
        {0x22, "   [X] Chip does not leave reset mode!"},
        {0x30, "   [X] Reset failed!"},
        {0x40, "   [X] Manufacturer ID failed!"},
        {0x41, "   [X] Manufacturer ID failed!"},
        {0x01, "   [X] Unknow failed!"},
        {0x99, "   [X] Unknow failed!"},
    };
    for (const auto& [status, message] : table) {
        chip->setDetectStatus(status);
        const core::CommandResult detected = cmd.TarnDetect();
        EXPECT_FALSE(detected.ok()) << int(status);
        EXPECT_EQ(detected.message(), message) << int(status);
        EXPECT_FALSE(detected.transferFailed());
        EXPECT_EQ(detected.status(), status);
    }
}

TEST_F(TarnCommandsTest, DisableIgnoresTheStatus) {
    chip->statuses().failAll(0x11, 0x33);
    const core::CommandResult released = cmd.TarnDisable();
    ASSERT_TRUE(released.ok());
    EXPECT_EQ(released.message(), "   [O] Done");
    EXPECT_EQ(writer.log()[0].bytes, packet({0x11}));
}

TEST_F(TarnCommandsTest, ProgramPageSendsPacketsPageAndTail) {
    detect();
    Bytes data = test::pageOf(test::patternImage(1), 0);
    const core::CommandResult programmed = cmd.TarnProgramPage(0x012345, data.data());
    ASSERT_TRUE(programmed.ok());
    EXPECT_EQ(programmed.message(), "");  // success leaves nothing to log
    ASSERT_EQ(kinds(), (std::vector<Kind>{Kind::Command, Kind::Reply, Kind::BulkOut, Kind::BulkOut,
                                          Kind::Command, Kind::Reply}));
    EXPECT_EQ(writer.log()[0].bytes, packet({0x12, 0x00, 0x45, 0x23, 0x01}));
    EXPECT_EQ(writer.log()[2].bytes, data);
    EXPECT_EQ(writer.log()[3].bytes, Bytes(32, 0xFF));
    EXPECT_EQ(writer.log()[4].bytes, packet({0x13, 0x00, 0x45, 0x23, 0x01}));
    EXPECT_EQ(chip->page(0x012345), data);
    EXPECT_TRUE(writer.protocolErrors().empty());
}

TEST_F(TarnCommandsTest, ProgramFinishStatusesGiveTheirMessages) {
    detect();
    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0x11, "Chip can not enter program mode!"},
        {0x12, "Chip can not leave program mode!"},
        {0x20, "Program over program failed!"},
        {0x7E, "Unknow failed!"},
    };
    Bytes data(1024, 0x5A);
    std::uint64_t nth = 0;
    for (const auto& [status, message] : table) {
        chip->statuses().failNth(0x13, ++nth, status);
        const core::CommandResult programmed = cmd.TarnProgramPage(7, data.data());
        EXPECT_TRUE(programmed.chipFailed());
        EXPECT_EQ(programmed.message(), message);
    }
    // A refused page takes no data.
    EXPECT_EQ(chip->page(7), Bytes(1024, 0xFF));
}

TEST_F(TarnCommandsTest, CompareCountsWrongBytesNotWrongBits) {
    detect();
    Bytes data(1024, 0x00);
    chip->writePage(3, data.data());
    Bytes held = data;
    held[10] = 0xFF;  // eight wrong bits
    held[11] = 0x01;  // one wrong bit
    held[1023] = 0x80;
    chip->writePage(3, held.data());
    std::uint32_t errors = 99;
    ASSERT_TRUE(cmd.TarnComparePage(3, data.data(), errors).ok());
    EXPECT_EQ(errors, 3u);
    ASSERT_EQ(kinds(), (std::vector<Kind>{Kind::Command, Kind::Reply, Kind::BulkIn, Kind::BulkIn,
                                          Kind::Command, Kind::Reply}));
    EXPECT_EQ(writer.log()[0].bytes, packet({0x14, 0x00, 0x03}));
    EXPECT_EQ(writer.log()[2].bytes.size(), 128u);
    EXPECT_EQ(writer.log()[3].bytes, held);
    EXPECT_EQ(writer.log()[4].bytes, packet({0x15, 0x00, 0x03}));

    // A bad page with three wrong bytes reads back three errors, each wrong in all bits.
    chip->setBadPage(4, 3);
    ASSERT_TRUE(cmd.TarnComparePage(4, Bytes(1024, 0xFF).data(), errors).ok());
    EXPECT_EQ(errors, 3u);
}

TEST_F(TarnCommandsTest, CompareOfAnExactPageClearsTheCountAndOneByteOffCountsOne) {
    detect();
    Bytes data(1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    chip->writePage(5, data.data());
    std::uint32_t errors = 99;
    ASSERT_TRUE(cmd.TarnComparePage(5, data.data(), errors).ok());
    EXPECT_EQ(errors, 0u);
    // Only the first and only the last byte wrong: both ends of the page are compared.
    for (std::size_t at : {std::size_t{0}, std::size_t{1023}}) {
        Bytes expected = data;
        expected[at] ^= 0x40;
        ASSERT_TRUE(cmd.TarnComparePage(5, expected.data(), errors).ok());
        EXPECT_EQ(errors, 1u) << "byte " << at;
    }
}

TEST_F(TarnCommandsTest, RefusedReadSendsNoBulkReadsAndNoFinish) {
    detect();
    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0x01, "Chip can not enter read mode!"},
        {0x02, "Chip can not leave read mode!"},
        {0x03, "Unknow failed!"},
    };
    std::uint64_t nth = 0;
    for (const auto& [status, message] : table) {
        writer.clearLog();
        chip->statuses().failNth(0x14, ++nth, status);
        std::uint32_t errors = 77;
        const core::CommandResult compared =
            cmd.TarnComparePage(9, Bytes(1024, 0xFF).data(), errors);
        EXPECT_FALSE(compared.ok());
        EXPECT_EQ(compared.message(), message);
        EXPECT_EQ(errors, 77u);  // not written on failure
        EXPECT_EQ(kinds(), (std::vector<Kind>{Kind::Command, Kind::Reply}));
    }
    chip->statuses().failNth(0x14, ++nth, 0x02);
    Bytes out(1024, 0x11);
    const core::CommandResult read = cmd.TarnReadPage(9, out.data());
    EXPECT_FALSE(read.ok());
    EXPECT_EQ(read.message(), "Chip can not leave read mode!");
    EXPECT_EQ(out, Bytes(1024, 0x11));  // a refused read leaves the buffer alone
    EXPECT_TRUE(writer.protocolErrors().empty());
}

TEST_F(TarnCommandsTest, ReadPageLeavesThePageInTheBuffer) {
    detect();
    Bytes data = test::pageOf(test::patternImage(2), 1);
    chip->writePage(0x1E47F, data.data());
    Bytes out(1024, 0);
    ASSERT_TRUE(cmd.TarnReadPage(0x1E47F, out.data()).ok());
    EXPECT_EQ(out, data);
    EXPECT_EQ(writer.log()[0].bytes, packet({0x14, 0x00, 0x7F, 0xE4, 0x01}));
}

TEST_F(TarnCommandsTest, MirrorMapArithmetic) {
    auto e = tarn::mirrorEntry(0x1237, 0x1E480);
    EXPECT_EQ(e.mapPage, 0x1FE12u);
    EXPECT_EQ(e.offset, 0xD6u);
    EXPECT_EQ(e.value, 0xE480u);
    // Four entries at the start of every 16-byte row, one map page per 256 user pages.
    EXPECT_EQ(tarn::mirrorEntry(0, 0x1E481).offset, 0u);
    EXPECT_EQ(tarn::mirrorEntry(3, 0x1E481).offset, 6u);
    EXPECT_EQ(tarn::mirrorEntry(4, 0x1E481).offset, 16u);
    EXPECT_EQ(tarn::mirrorEntry(255, 0x1E481).offset, 63u * 16 + 6);
    EXPECT_EQ(tarn::mirrorEntry(255, 0x1E481).mapPage, 0x1FE00u);
    EXPECT_EQ(tarn::mirrorEntry(256, 0x1E481).mapPage, 0x1FE01u);
    EXPECT_EQ(tarn::mirrorEntry(256, 0x1E481).offset, 0u);
    EXPECT_EQ(tarn::mirrorEntry(0x1E47F, 0x1FDFF).mapPage, 0x1FFE4u);
    EXPECT_EQ(tarn::mirrorEntry(0x1E47F, 0x1FDFF).offset, 31u * 16 + 6);
    EXPECT_EQ(tarn::mirrorEntry(0x1E47F, 0x1FDFF).value, 0xFDFFu);
}

TEST_F(TarnCommandsTest, SetMirrorSendsTheEntryAndTheChipStoresItLowByteFirst) {
    detect();
    ASSERT_TRUE(cmd.TarnSetMirror(0x1237, 0x1E480).ok());
    EXPECT_EQ(writer.log()[0].bytes,
              packet({0x16, 0x00, 0x12, 0xFE, 0x01, 0xD6, 0x00, 0x80, 0xE4}));
    EXPECT_EQ(chip->byteAt(0x1FE12, 0xD6), 0x80);
    EXPECT_EQ(chip->byteAt(0x1FE12, 0xD7), 0xE4);
    EXPECT_EQ(chip->byteAt(0x1FE12, 0xD5), 0xFF);
    EXPECT_EQ(chip->byteAt(0x1FE12, 0xD8), 0xFF);

    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0x01, "   [X] Chip can not enter program mode!"},
        {0x02, "   [X] Chip can not leave program mode!"},
        {0x05, "   [X] Unknow failed!"},
    };
    std::uint64_t nth = 1;
    for (const auto& [status, message] : table) {
        chip->statuses().failNth(0x16, ++nth, status);
        const core::CommandResult mirrored = cmd.TarnSetMirror(1, 0x1E481);
        EXPECT_TRUE(mirrored.chipFailed());
        EXPECT_EQ(mirrored.message(), message);
    }
}

TEST_F(TarnCommandsTest, InfoPageStopsAtTheFirstUncleanRead) {
    detect();
    Bytes data = test::pageOf(test::patternImage(1), 0);
    ASSERT_TRUE(cmd.TarnWriteInfoPage(40, data.data()).ok());
    EXPECT_EQ(pages(0x14), (std::vector<std::uint32_t>{40, 40, 40}));
    EXPECT_TRUE(pages(0x17).empty());

    // Clean, clean, then wrong: the chip's page changes after the second read.
    writer.clearLog();
    chip->statuses().clear();
    Bytes wrong = data;
    wrong[500] ^= 0x10;
    writer.setTransferHook([&](std::uint64_t) {
        if (chip->statuses().count(0x15) == 2) chip->writePage(41, wrong.data());
    });
    const core::CommandResult written = cmd.TarnWriteInfoPage(41, data.data());
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message(), "Data failed!");
    EXPECT_EQ(pages(0x14), (std::vector<std::uint32_t>{41, 41, 41}));
    EXPECT_EQ(commands(0x15).size(), 3u);
    EXPECT_FALSE(written.transferFailed());
}

TEST_F(TarnCommandsTest, DataPageChecksTheWritersSumThenOneReadBack) {
    detect();
    Bytes erased(1024, 0xFF);
    EXPECT_EQ(tarn::pageSum(erased.data()), 0x3FC00u);
    ASSERT_TRUE(cmd.TarnWriteDataPage(50, erased.data()).ok());
    EXPECT_EQ(writer.commandCodes(), (std::vector<std::uint8_t>{0x12, 0x13, 0x17, 0x14, 0x15}));
    // The reply to 0x17 carries 0x3FC00, least significant byte first.
    const auto& sumReply = writer.log()[7];
    ASSERT_EQ(sumReply.kind, Kind::Reply);
    EXPECT_EQ(sumReply.bytes[2], 0x00);
    EXPECT_EQ(sumReply.bytes[3], 0xFC);
    EXPECT_EQ(sumReply.bytes[4], 0x03);
    EXPECT_EQ(commands(0x17)[0], packet({0x17, 0x00, 50}));

    // A page that reads back with one wrong byte fails on the sum, before any read.
    writer.clearLog();
    chip->setBadPage(51, 1);
    const core::CommandResult badSum = cmd.TarnWriteDataPage(51, erased.data());
    EXPECT_TRUE(badSum.chipFailed());
    EXPECT_EQ(badSum.message(), "CheckSum failed!");
    EXPECT_TRUE(commands(0x14).empty());

    // Two bytes swapped keep the sum but fail the read-back.
    writer.clearLog();
    Bytes data = test::pageOf(test::patternImage(1), 0);
    Bytes swapped = data;
    std::swap(swapped[0], swapped[1]);
    writer.setTransferHook([&](std::uint64_t) {
        if (chip->statuses().count(0x17) == 3) chip->writePage(52, swapped.data());
    });
    const core::CommandResult badData = cmd.TarnWriteDataPage(52, data.data());
    EXPECT_TRUE(badData.chipFailed());
    EXPECT_EQ(badData.message(), "Data failed!");
}

TEST_F(TarnCommandsTest, PageSumStatusesGiveTheirMessages) {
    detect();
    const std::vector<std::pair<std::uint8_t, std::string>> table = {
        {0x01, "Chip can not enter read mode!"},
        {0x02, "Chip can not leave read mode!"},
        {0x44, "Unknow failed!"},
    };
    std::uint64_t nth = 0;
    for (const auto& [status, message] : table) {
        chip->statuses().failNth(0x17, ++nth, status);
        const core::CommandResult written = cmd.TarnWriteDataPage(60, Bytes(1024, 0xFF).data());
        EXPECT_TRUE(written.chipFailed());
        EXPECT_EQ(written.message(), message);
        EXPECT_EQ(written.status(), status);
    }
}

TEST_F(TarnCommandsTest, FailedTransfersSayUsbFailedWithOrWithoutTheMark) {
    detect();
    Bytes page(1024, 0x00);
    std::uint32_t errors = 0;
    writer.failFrom(writer.transferCount() + 1);
    struct Case {
        std::function<core::CommandResult()> run;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&] { return cmd.TarnDetect(); }, "   [X] USB failed!"},
        {[&] { return cmd.TarnDisable(); }, "   [X] USB failed!"},
        {[&] { return cmd.TarnSetMirror(1, 0x1E480); }, "   [X] USB failed!"},
        {[&] { return cmd.TarnProgramPage(1, page.data()); }, "USB failed!"},
        {[&] { return cmd.TarnComparePage(1, page.data(), errors); }, "USB failed!"},
        {[&] { return cmd.TarnReadPage(1, page.data()); }, "USB failed!"},
        {[&] { return cmd.TarnWriteInfoPage(1, page.data()); }, "USB failed!"},
    };
    for (const auto& c : cases) {
        const core::CommandResult failed = c.run();
        EXPECT_FALSE(failed.ok());
        EXPECT_EQ(failed.message(), c.message);
        EXPECT_TRUE(failed.transferFailed());
    }
    // Every failed call showed one box and stopped at its first failed transfer.
    EXPECT_EQ(prompter.boxes.size(), cases.size());
}

TEST_F(TarnCommandsTest, FailedBulkWriteSendsNoFinishAndFailedSumIsMarked) {
    detect();
    Bytes page(1024, 0x00);
    const auto base = writer.transferCount();
    writer.failTransfer(base + 2);  // the page block
    const core::CommandResult programmed = cmd.TarnProgramPage(5, page.data());
    EXPECT_FALSE(programmed.ok());
    EXPECT_EQ(programmed.message(), "USB failed!");
    EXPECT_TRUE(commands(0x13).empty());
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "[USB] Failed to transmit data!");

    // 0x12, two blocks, 0x13, then the sum exchange fails.
    writer.clearFaults();
    writer.failTransfer(writer.transferCount() + 5);
    const core::CommandResult written = cmd.TarnWriteDataPage(6, page.data());
    EXPECT_FALSE(written.ok());
    EXPECT_EQ(written.message(), "   [X] USB failed!");
    EXPECT_TRUE(written.transferFailed());
    EXPECT_TRUE(commands(0x14).empty());
}

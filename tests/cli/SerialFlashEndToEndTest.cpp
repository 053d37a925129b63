#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/cli/CliRunner.h"

using namespace sonoprog::test;

namespace {

const std::string kSetup =
    "[System]\nVersion=Sonoprog V1.0.0\n[Device]\nD1=Tarn20\nD2=Kiva300\nD3=Series Flash\n"
    "[Series Flash List]\nNumber=4\nDevName1=W25Q80\nDevName2=SMALL\nDevName3=NOSIZE\n"
    "DevName4=BIG\n"
    "[W25Q80]\nSize=1048576\nMID=0xEF\nDID=0x13\n"
    "[SMALL]\nSize=4096\nMID=0x1C2\nDID=0x20\n"
    "[NOSIZE]\nMID=0xC8\nDID=0x14\n"
    "[BIG]\nSize=33554432\nMID=0xEF\nDID=0x13\n";

class SerialFlashCli : public CliTest {
protected:
    SerialFlashCli() { setup = dir.write("Setup.ini", kSetup).string(); }
};

}  // namespace

// ---------------------------------------------------------------- serial flash

TEST_F(SerialFlashCli, SerialFlashDevicesListsTheSettingsInListOrder) {
    auto text = run({"nor", "devices"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "W25Q80     1048576  0xEF  0x13\n"
              "SMALL         4096  0x1C2  0x20\n"
              "NOSIZE           0  0xC8  0x14\n");
    auto json = run({"--json", "nor", "devices"});
    EXPECT_EQ(json.outLines().at(1),
              R"({"kind":"device","name":"SMALL","size":4096,"mid":450,"did":32})");
    auto missing = runCli({"--setup", (dir.path() / "none.ini").string(), "nor", "devices"});
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.err.find("cannot read the settings file"), std::string::npos);
}

TEST_F(SerialFlashCli, TheListHasTheWindowsDevicesAtEveryIndex) {
    // An index far past any fixed cap, as the window lists it at start-up.
    dir.write("Setup.ini", std::string("[Series Flash List]\nNumber=70000\nDevName3=W25Q80\n"
                                       "DevName70000=FAR\nDevName70001=BEYOND\n"
                                       "[W25Q80]\nSize=1048576\nMID=0xEF\nDID=0x13\n"
                                       "[FAR]\nSize=4096\nMID=0xEF\nDID=0x13\n"));
    auto text = run({"nor", "devices"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "W25Q80     1048576  0xEF  0x13\n"
              "FAR           4096  0xEF  0x13\n");
    auto far = run({"nor", "blank", "--device", "FAR"});
    EXPECT_EQ(far.err.find("is not in the serial flash list"), std::string::npos) << far.err;
    auto beyond = run({"nor", "blank", "--device", "BEYOND"});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_NE(beyond.err.find("'BEYOND' is not in the serial flash list"), std::string::npos);
}

TEST_F(SerialFlashCli, SerialFlashWriteThenVerifyKeepTheChipAndAChangedImageFails) {
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3);
    const std::string img = dir.write("nor.bin", data).string();
    auto write = run({"nor", "write", img, "--device", "W25Q80"});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    EXPECT_EQ(lastLines(write, 3), (std::vector<std::string>{"  -> Disable chip...",
                                                             "    [O] Finished!", "  -> Done!"}));
    auto chip = readFile(dir.writerDir() / "serialflash.bin");
    ASSERT_EQ(chip.size(), 16u * 1024 * 1024);  // no [Series Flash] size: a 16 MiB chip
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));
    EXPECT_EQ(chip[1000], 0xFF);

    auto verify = run({"nor", "verify", img, "--device", "W25Q80"});
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_NE(verify.out.find("[ VERIFY ]\n"), std::string::npos);

    data[500] ^= 0xFF;
    const std::string changed = dir.write("changed.bin", data).string();
    auto bad = run({"--json", "nor", "verify", changed, "--device", "W25Q80"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find(R"({"kind":"line","mark":"fail","text":"Verify failed!"})"),
              std::string::npos)
        << bad.out;

    auto blank = run({"nor", "blank", "--device", "SMALL"});
    EXPECT_EQ(blank.status, 1);
    EXPECT_NE(blank.out.find("    [X] Chip is not blank!\n"), std::string::npos) << blank.out;
    auto fresh = run({"nor", "blank", "--device", "SMALL"}, "sim");
    EXPECT_EQ(fresh.status, 0) << fresh.out;
    EXPECT_NE(fresh.out.find("    [O] Device: SMALL\n"), std::string::npos);
}

TEST_F(SerialFlashCli, SerialFlashChipFromWriterIni) {
    writerIni("[Series Flash]\nMID=0xEF\nDID=0x13\nSize=4096\n");
    const std::string img = dir.write("nor.bin", std::vector<std::uint8_t>(100, 0x42)).string();
    // SMALL asks for C2/20: the W25Q80 in the socket does not answer to it.
    auto wrong = run({"nor", "write", img, "--device", "SMALL"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.out.find("  -> Chip detect...\n    [X] Manufacturer's ID failed!\n"),
              std::string::npos)
        << wrong.out;
    auto right = run({"nor", "write", img, "--device", "W25Q80"});
    EXPECT_EQ(right.status, 0) << right.out;
    EXPECT_EQ(std::filesystem::file_size(dir.writerDir() / "serialflash.bin"), 4096u);

    // The chip file no longer matches a socket of another size: refused, kept.
    writerIni("[Series Flash]\nSize=8192\n");
    auto refused = run({"nor", "blank", "--device", "W25Q80"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("serialflash.bin holds 4096 bytes, but a serial flash chip file "
                               "must hold 8192 bytes"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(std::filesystem::file_size(dir.writerDir() / "serialflash.bin"), 4096u);
}

TEST_F(SerialFlashCli, SerialFlashDeviceMustBeInTheList) {
    auto unknown = run({"nor", "blank", "--device", "W25Q999"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("'W25Q999' is not in the serial flash list"), std::string::npos);
    auto noSize = run({"nor", "blank", "--device", "NOSIZE"});
    EXPECT_EQ(noSize.status, 1);
    EXPECT_NE(noSize.err.find("ERROR: Failed to get device infomation!\n"), std::string::npos);
}

// A device larger than the Writer's 24-bit addresses reach is refused where
// the list is read, by every command alike, before a Writer is opened or a
// file made.
TEST_F(SerialFlashCli, ADeviceBeyondTheWritersAddressesIsRefusedByEveryCommand) {
    const std::string img = dir.write("nor.bin", std::vector<std::uint8_t>(100, 0x42)).string();
    const std::string job = (dir.path() / "big.json").string();
    const std::string why =
        "serial flash device \"BIG\" is left out: its Size 33554432 is beyond the 16777216 "
        "bytes the Writer can address";
    const struct {
        std::vector<std::string> args;
        int status;
    } commands[] = {
        {{"nor", "devices"}, 0},
        {{"nor", "blank", "--device", "BIG"}, 2},
        {{"nor", "write", img, "--device", "BIG"}, 2},
        {{"nor", "verify", img, "--device", "BIG"}, 2},
        {{"job", "new", job, "--target", "serialflash", "--device", "BIG", "--image", img}, 2},
    };
    for (const auto& c : commands) {
        const auto r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1] << "\n" << r.err;
        EXPECT_NE(r.err.find(why), std::string::npos) << c.args[1] << "\n" << r.err;
        EXPECT_EQ(r.out.find("BIG"), std::string::npos) << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.writerDir() / "serialflash.bin"));
    EXPECT_FALSE(std::filesystem::exists(job));
}

// produce on a Writer folder without a socket works on the folder's chip, as
// the chip's own commands do: a chip they call not blank fails the unit's
// blank check, and what a unit programs is there afterwards.
TEST_F(SerialFlashCli, ProduceWorksOnTheChipTheFolderKeeps) {
    const std::string records = (dir.path() / "records.sqlite").string();
    std::vector<std::uint8_t> data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::string img = dir.write("unit.bin", data).string();
    const std::string other = dir.write("other.bin", std::vector<std::uint8_t>(10, 0x00)).string();
    const std::string blankJob = (dir.path() / "blank.json").string();
    const std::string plainJob = (dir.path() / "plain.json").string();
    for (const auto& [job, extra] : {std::pair{blankJob, "--blank"}, std::pair{plainJob, ""}}) {
        std::vector<std::string> args = {"job",      "new",    job,       "--target", "serialflash",
                                         "--device", "W25Q80", "--image", img};
        if (*extra) args.push_back(extra);
        ASSERT_EQ(run(args).status, 0);
    }
    ASSERT_EQ(run({"nor", "write", other, "--device", "W25Q80"}).status, 0);
    ASSERT_EQ(run({"nor", "blank", "--device", "W25Q80"}).status, 1);

    const auto notBlank =
        run({"--records", records, "produce", blankJob, "--units", "1", "--trigger", "insert"});
    EXPECT_EQ(notBlank.status, 1);
    EXPECT_NE(notBlank.out.find("    [X] Chip is not blank!\n"), std::string::npos) << notBlank.out;

    const auto unit =
        run({"--records", records, "produce", plainJob, "--units", "1", "--trigger", "insert"});
    EXPECT_EQ(unit.status, 0) << unit.out << unit.err;
    const auto chip = readFile(dir.writerDir() / "serialflash.bin");
    ASSERT_GE(chip.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), chip.begin()));
    EXPECT_EQ(run({"nor", "verify", img, "--device", "W25Q80"}).status, 0);
}

TEST_F(SerialFlashCli, ReadEraseProbeAndCompareSpeakOfTheDevice) {
    writerIni("[Series Flash]\nMID=0xEF\nDID=0x13\nSize=1048576\n");
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::string img = dir.write("nor.bin", data).string();
    // The device is found whatever the case it is typed in.
    ASSERT_EQ(run({"serialflash", "write", img, "--device", "w25q80"}).status, 0);

    const std::string out = (dir.path() / "back.bin").string();
    auto read = run({"nor", "read", out, "--device", "W25Q80", "--length", "1000"});
    EXPECT_EQ(read.status, 0) << read.out << read.err;
    EXPECT_EQ(readFile(out), data);
    EXPECT_EQ(run({"nor", "read", out, "--device", "W25Q80"}).status, 1)
        << "not replaced without --yes";
    ASSERT_EQ(run({"--yes", "nor", "read", out, "--device", "W25Q80"}).status, 0);
    EXPECT_EQ(readFile(out).size(), 1048576u);  // the whole device

    auto same = run({"nor", "compare", img, "--device", "W25Q80"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.outLines().back(), "SAME");

    // A byte written over old data, and bytes the chip never took.
    std::vector<std::uint8_t> other = data;
    other[10] = static_cast<std::uint8_t>(data[10] | 0x81);
    other[11] = static_cast<std::uint8_t>(data[11] | 0x81);
    for (std::size_t i = 0; i < 4; ++i) other.push_back(0x00);
    const std::string otherImg = dir.write("other.bin", other).string();
    auto differ = run({"nor", "compare", otherImg, "--device", "W25Q80"});
    EXPECT_EQ(differ.status, 1);
    // 0x47 and 0x4E became 0xC7 and 0xCF: three bits the chip holds at 0.
    const std::vector<std::string> expected = {
        "0x0000000A-0x0000000B  2 bytes  1->0: 3  0->1: 0  not erased before writing",
        "0x000003E8-0x000003EB  4 bytes  1->0: 0  0->1: 32  not programmed",
        "DIFFER 2 ranges 6 bytes"};
    EXPECT_EQ(lastLines(differ, expected.size()), expected) << differ.out;

    auto erase = run({"nor", "erase", "--device", "W25Q80"});
    EXPECT_EQ(erase.status, 0) << erase.out;
    EXPECT_EQ(run({"nor", "blank", "--device", "W25Q80"}).status, 0);

    // Only the device whose ids the chip answers to is listed.
    auto probe = run({"--json", "nor", "probe"});
    EXPECT_EQ(probe.status, 0) << probe.out;
    EXPECT_NE(probe.out.find(R"({"kind":"device","name":"W25Q80"})"), std::string::npos);
    EXPECT_EQ(probe.outLines().back(),
              R"({"kind":"result","ok":true,"exit":0,"message":"W25Q80"})");
    writerIni("[Series Flash]\nMID=0x01\nDID=0x02\nSize=1048576\n");
    auto none = run({"nor", "probe"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("    [X] No device answered!\n"), std::string::npos) << none.out;
}

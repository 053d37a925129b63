#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/cli/CliRunner.h"

using namespace sonoprog::test;

namespace {

constexpr std::size_t kPage = 1024;
constexpr std::size_t kChipBytes = 134217728;

class TarnCli : public CliTest {
protected:
    std::string image(std::size_t pages = 20) {
        return dir.write("image.bin", patternImage(pages)).string();
    }
    std::vector<std::uint8_t> chipPage(std::uint32_t page) {
        auto chip = readFile(dir.writerDir() / "tarn20.bin");
        if (chip.size() != kChipBytes) return {};
        return {chip.begin() + page * kPage, chip.begin() + (page + 1) * kPage};
    }
    std::vector<std::uint8_t> imagePage(std::uint32_t page, std::size_t pages = 20) {
        auto img = patternImage(pages);
        return {img.begin() + page * kPage, img.begin() + (page + 1) * kPage};
    }
};

std::string checkSum(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t sum = 0;
    for (auto b : bytes) sum += b;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(sum));
    return text;
}

std::vector<std::string> loadLines(const std::string& path, std::size_t pages,
                                   const std::string& sum) {
    return {"[ LOAD FILE ]",
            "  -> Open BIN file...",
            "    [O] Loaded file: " + path,
            "    [O] File size: " + std::to_string(pages * 1024) + " (Byte)",
            "  -> Get file check sum...",
            "    [O] File check sum: " + sum,
            "  -> Done!"};
}

}  // namespace

TEST_F(TarnCli, WriteThenVerifyInTwoCommandsSeeTheSameChip) {
    const std::string img = image();
    auto write = run({"tarn", "write", img});
    EXPECT_EQ(write.status, 0) << write.err;
    // The first run on the folder makes the chip, and says so.
    EXPECT_EQ(write.err, "sonoprog-cli: new blank Tarn20 chip: " +
                             (dir.writerDir() / "tarn20.bin").string() + "\n");
    const std::string log = dir.temp() + "/PGM_YYYYMMDD-HHMM.log";
    std::vector<std::string> expected = loadLines(img, 20, checkSum(patternImage(20)));
    std::vector<std::string> tail = {"[ WRITE ]",
                                     "Start: HH:MM:SS",
                                     "  -> Open DAT file...",
                                     "    [O] Opened file: " + img,
                                     "  -> Create LOG file...",
                                     "    [O] LOG file: " + log,
                                     "  -> Chip detect...",
                                     "    [O] Device: Tarn20",
                                     "  -> Write chip...",
                                     "    [O] Passed!",
                                     "  -> Disable chip...",
                                     "    [O] Finished!",
                                     "  -> Done!",
                                     "End: HH:MM:SS"};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(withoutTimes(write.outLines()), expected);

    // The chip lives in its file: page for page the image, the rest erased.
    ASSERT_EQ(std::filesystem::file_size(dir.writerDir() / "tarn20.bin"), kChipBytes);
    EXPECT_EQ(chipPage(0), imagePage(0));
    EXPECT_EQ(chipPage(19), imagePage(19));
    EXPECT_EQ(chipPage(20), std::vector<std::uint8_t>(kPage, 0xFF));

    auto verify = run({"tarn", "verify", img});
    EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
    auto lines = verify.outLines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end() - 1),
              (std::vector<std::string>{"    [O] Passed!", "  -> Disable chip...",
                                        "    [O] Finished!", "  -> Done!"}));

    // A blank chip of plain --writer sim fails the same verify, on its first page.
    auto blank = run({"tarn", "verify", img}, "sim");
    EXPECT_EQ(blank.status, 1);
    EXPECT_NE(blank.out.find("    [X] Failed to verify page: 0x000000 (Code information has "
                             "broken)!\n  -> Disable chip...\n    [O] Finished!\n  -> Done!\n"),
              std::string::npos)
        << blank.out;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "sim"));
}

TEST_F(TarnCli, JsonGivesOneObjectPerLineAndTheGauge) {
    const std::string img = image(4);
    auto write = run({"--json", "tarn", "write", img, "--info-page", "2"});
    EXPECT_EQ(write.status, 0) << write.err;
    auto lines = write.outLines();
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0], R"({"kind":"line","mark":"heading","text":"[ LOAD FILE ]"})");
    EXPECT_EQ(lines[1], R"({"kind":"line","mark":"step","text":"Open BIN file..."})");
    EXPECT_EQ(lines.back(), R"({"kind":"result","ok":true,"exit":0,"message":"done"})");
    int progress = 0;
    std::string lastProgress;
    for (const auto& l : lines) {
        EXPECT_EQ(l.front(), '{');
        EXPECT_EQ(l.back(), '}');
        if (l.rfind(R"({"kind":"progress")", 0) == 0) {
            ++progress;
            lastProgress = l;
        }
    }
    EXPECT_EQ(progress, 5);  // 0, 25, 50, 75 from the page loop and 100 at the end
    // The gauge's last step carries the page loop's last figures.
    EXPECT_EQ(lastProgress.rfind(
                  R"({"kind":"progress","percent":100,"unit":"pages","done":4,"total":4,)", 0),
              0u)
        << lastProgress;
    EXPECT_NE(lastProgress.find(R"("elapsed_s":)"), std::string::npos);
    EXPECT_TRUE(lastProgress.ends_with(R"("eta_s":0.0})")) << lastProgress;
    EXPECT_NE(write.out.find(R"({"kind":"line","mark":"pass","text":"Passed!"})"),
              std::string::npos);
    EXPECT_NE(write.out.find(R"({"kind":"line","mark":"step","text":"Start: )"), std::string::npos);

    auto verify = run({"--json", "tarn", "verify", img, "--info-page", "2"}, "sim");
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(
        verify.out.find(
            R"({"kind":"line","mark":"fail","text":"Failed to verify page: 0x000000 (Code information has broken)!"})"),
        std::string::npos)
        << verify.out;
    // One closing object, with the first byte found wrong; the gauge never
    // reads 100 after the failure.
    const auto verifyLines = verify.outLines();
    EXPECT_EQ(
        verifyLines.back(),
        R"({"kind":"result","ok":false,"exit":1,"message":"Failed to verify page: 0x000000 (Code information has broken)!","first_mismatch":0})");
    EXPECT_EQ(
        std::count_if(verifyLines.begin(), verifyLines.end(),
                      [](const std::string& l) { return l.find(R"("kind":"result")") != l.npos; }),
        1);
    EXPECT_EQ(verify.out.find(R"({"kind":"progress","percent":100})"), std::string::npos);
}

TEST_F(TarnCli, BadPagesFromWriterIniAreMirroredAndLogged) {
    writerIni("[Tarn20]\nBadPages=5, 0x1E480 ; a bad user page and a bad spare\n");
    const std::string img = image();
    auto write = run({"tarn", "write", img});
    EXPECT_EQ(write.status, 0) << write.out << write.err;
    auto logs = std::vector<std::filesystem::path>(std::filesystem::directory_iterator(dir.temp()),
                                                   std::filesystem::directory_iterator());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(readText(logs[0]),
              "[X] Failed to write page: 0x000005 (Data failed!), \n"
              "    mirror this page to: 0x01E481.\n");
    // Page 5's data went to the first good spare, and the mirror map says so.
    EXPECT_EQ(chipPage(0x1E481), imagePage(5));
    auto map = chipPage(0x1FE00);
    ASSERT_EQ(map.size(), kPage);
    EXPECT_EQ(map[(5 >> 2) * 16 + (5 & 3) * 2], 0x81);
    EXPECT_EQ(map[(5 >> 2) * 16 + (5 & 3) * 2 + 1], 0xE4);
}

TEST_F(TarnCli, FailFromPullsTheWriterOutAndTheOperationStillCloses) {
    // Transfer 1 is the detect; 2 starts page 0; 3, its first bulk block, fails.
    writerIni("[Writer]\nFailFrom=3\n");
    auto write = run({"tarn", "write", image()});
    EXPECT_EQ(write.status, 3);
    EXPECT_EQ(write.err,
              "sonoprog-cli: new blank Tarn20 chip: " + (dir.writerDir() / "tarn20.bin").string() +
                  "\nERROR: [USB] Failed to transmit data!\nERROR: Input/Output Error\n");
    auto lines = withoutTimes(write.outLines());
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(
        std::vector<std::string>(lines.end() - 7, lines.end()),
        (std::vector<std::string>{"    [O] Device: Tarn20", "  -> Write chip...",
                                  "    [X] USB failed!", "  -> Disable chip...",
                                  "    [X]    [X] USB failed!", "  -> Done!", "End: HH:MM:SS"}));
}

TEST_F(TarnCli, DetectStatusFromWriterIni) {
    writerIni("[Tarn20]\nDetectStatus=0x11\n");
    auto verify = run({"tarn", "verify", image()});
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.out.find("  -> Chip detect...\n    [X]    [X] VCC failed!\n"),
              std::string::npos)
        << verify.out;
}

TEST_F(TarnCli, OptionsStandForTheFields) {
    const std::string img = image(20);
    // Past the image's own pages: refused before the log file and the chip.
    auto tooMany = run({"tarn", "write", img, "--count", "21"});
    EXPECT_EQ(tooMany.status, 1);
    EXPECT_NE(tooMany.out.find("    [X] Wrong range of write!\n"), std::string::npos);
    EXPECT_EQ(tooMany.out.find("LOG file"), std::string::npos);
    // A 0x-hexadecimal start page: the image lands from page 0x100 on.
    auto placed = run({"tarn", "write", img, "--start", "0x100", "--count", "3"});
    EXPECT_EQ(placed.status, 0) << placed.out;
    EXPECT_EQ(chipPage(0x100), imagePage(0));
    EXPECT_EQ(chipPage(0x102), imagePage(2));
    EXPECT_EQ(chipPage(0x103), std::vector<std::uint8_t>(kPage, 0xFF));
    // Info Page beyond the image's pages fails Load File, and nothing else runs.
    auto info = run({"tarn", "write", img, "--info-page", "21"});
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.out.find("    [X] Failed file size!\n"), std::string::npos);
    EXPECT_EQ(info.out.find("[ WRITE ]"), std::string::npos);
    // One wrong byte per data page passes under Allow Error 1, fails under 0.
    auto bytes = patternImage(20);
    bytes[18 * kPage + 3] ^= 0x01;
    const std::string changed = dir.write("changed.bin", bytes).string();
    auto v0 = run({"tarn", "verify", changed, "--start", "0x100", "--count", "3"});
    EXPECT_EQ(v0.status, 0) << v0.out;
    auto reference = run({"tarn", "write", img});
    ASSERT_EQ(reference.status, 0);
    EXPECT_EQ(run({"tarn", "verify", changed, "--allow-error", "1"}).status, 0);
    auto strict = run({"tarn", "verify", changed, "--allow-error", "0"});
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.out.find("    [X]     [X] Failed to verify page: 0x000012 (Too many error in "
                              "this page!)!\n"),
              std::string::npos)
        << strict.out;
}

TEST_F(TarnCli, UnreadableAndBrokenFiles) {
    auto missing = run({"tarn", "write", (dir.path() / "nope.bin").string()});
    EXPECT_EQ(missing.status, 4);
    EXPECT_NE(missing.out.find("    [X] Can't open this file!\n"), std::string::npos);
    auto folder = run({"tarn", "load", dir.path().string()});
    EXPECT_EQ(folder.status, 4);
    auto odd =
        run({"tarn", "load", dir.write("odd.bin", std::vector<std::uint8_t>(1025)).string()});
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.out.find("    [X] Failed file size!\n"), std::string::npos);
    // Load File never touches the Writer, so it makes no chip file either.
    EXPECT_FALSE(std::filesystem::exists(dir.writerDir() / "tarn20.bin"));
}

TEST_F(TarnCli, AChipFileOfTheWrongSizeIsRefusedAndKept) {
    dir.write("writer/tarn20.bin", std::vector<std::uint8_t>(5000, 0x11));
    auto write = run({"tarn", "write", image()});
    EXPECT_EQ(write.status, 1);
    EXPECT_NE(write.err.find("tarn20.bin holds 5000 bytes, but a Tarn20 chip file must hold "
                             "134217728 bytes"),
              std::string::npos)
        << write.err;
    EXPECT_EQ(readFile(dir.writerDir() / "tarn20.bin"), std::vector<std::uint8_t>(5000, 0x11));
}

TEST_F(TarnCli, GarbageInWriterIniIsPassedOver) {
    writerIni(std::string("\x01\x02garbage\n[Tarn20]\nBadPages=lots\n[Writer]\nFailFrom=soon\n"));
    auto write = run({"tarn", "write", image(17)});
    EXPECT_EQ(write.status, 0) << write.out;
    EXPECT_NE(write.err.find("sonoprog-cli: writer.ini: [Tarn20] BadPages: \"lots\" is not a "
                             "number"),
              std::string::npos)
        << write.err;
    EXPECT_NE(write.err.find("[Writer] FailFrom: \"soon\""), std::string::npos);
}

TEST_F(TarnCli, ReadStopsCleanlyWhenTheWriterGoesAway) {
    // Detect (1), then page 0: command 2, two bulk blocks 3 and 4, finish 5;
    // page 1 begins at 6 and fails there.
    writerIni("[Writer]\nFailFrom=6\n");
    auto read = run({"tarn", "read"});
    EXPECT_EQ(read.status, 3);
    EXPECT_NE(read.out.find("    [X] Failed to read page: 0x000001 (USB failed!)!\n"),
              std::string::npos)
        << read.out;
    auto files = std::vector<std::filesystem::path>(std::filesystem::directory_iterator(dir.temp()),
                                                    std::filesystem::directory_iterator());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("READ_", 0), 0u);
    EXPECT_EQ(std::filesystem::file_size(files[0]), kPage);
}

TEST_F(TarnCli, CompareFollowsTheMirrorMapUnlessToldNotTo) {
    writerIni("[Tarn20]\nBadPages=5\n");
    const std::string img = image(8);
    ASSERT_EQ(run({"tarn", "write", img, "--info-page", "2"}).status, 0);

    auto mirrored = run({"tarn20", "compare", img, "--info-page", "2"});
    EXPECT_EQ(mirrored.status, 0) << mirrored.out;
    EXPECT_EQ(lastLines(mirrored, 2),
              (std::vector<std::string>{"MIRRORED page 0x000005 at spare page 0x01E480", "SAME"}));

    // Where the page lies, it holds what the failed write left: page 5 alone differs.
    auto plain = run({"--json", "tarn", "compare", img, "--info-page", "2", "--no-mirror"});
    EXPECT_EQ(plain.status, 1);
    const auto lines = plain.outLines();
    ASSERT_GE(lines.size(), 2u);
    const auto found = nlohmann::json::parse(lines[lines.size() - 2]);
    const auto result = nlohmann::json::parse(lines.back());
    EXPECT_EQ(found.at("kind"), "compare");
    EXPECT_FALSE(found.at("same").get<bool>());
    EXPECT_TRUE(found.at("mirrored").empty());
    std::uint64_t bytes = 0;
    for (const auto& r : found.at("ranges")) {
        EXPECT_GE(r.at("start").get<std::uint64_t>(), 5u * 1024);
        EXPECT_LT(r.at("end").get<std::uint64_t>(), 6u * 1024);
        bytes += r.at("bytes").get<std::uint64_t>();
    }
    EXPECT_EQ(result.at("bytes"), bytes);
    EXPECT_EQ(result.at("ranges"), found.at("ranges").size());
    EXPECT_EQ(result.at("exit"), 1);

    // A written chip is no blank chip; a fresh one is.
    auto used = run({"tarn", "blank"});
    EXPECT_EQ(used.status, 1);
    EXPECT_NE(used.out.find("    [X] Chip is not blank! Page: 0x000000\n"), std::string::npos)
        << used.out;
    EXPECT_EQ(run({"tarn", "blank"}, "sim").status, 0);
    // An erased user area with an entry in the mirror map is not blank either.
    std::vector<std::uint8_t> chip(std::size_t{0x20000} * 1024, 0xFF);
    chip[std::size_t{0x1FE00} * 1024 + 2] = 0x80;  // page 1 at spare page 0x1E480
    chip[std::size_t{0x1FE00} * 1024 + 3] = 0xE4;
    dir.write("writer/tarn20.bin", chip);
    writerIni("");  // no bad page that reads wrong whatever it holds
    auto mapped = run({"tarn", "blank"});
    EXPECT_EQ(mapped.status, 1);
    EXPECT_NE(mapped.out.find("    [X] Mirror map is not empty! Page: 0x01FE00\n"),
              std::string::npos)
        << mapped.out;
}

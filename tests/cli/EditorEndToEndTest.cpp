#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli/CliRunner.h"

using namespace sonoprog::test;

namespace {

// A project of 1,024 section lines and the closing line.
std::string project(const std::vector<std::string>& sections) {
    std::string text;
    for (int i = 0; i < 1024; ++i)
        text += (i < static_cast<int>(sections.size()) ? sections[i] : ">>>") + "\r\n";
    return text + "2026/12/08-04:00:00";
}

class EditorCli : public ::testing::Test {
protected:
    CliRun build(const std::string& projectFile, const std::string& out, bool yes = false) {
        std::vector<std::string> args = {"--temp", dir.temp(), "editor", "build", projectFile, out};
        if (yes) args.insert(args.begin(), "--yes");
        return runCli(args);
    }
    CliFixtureDir dir;
};

}  // namespace

TEST_F(EditorCli, BuildsTheSampleProjectIntoAnImageTheTarnTabTakes) {
    const std::string out = (dir.path() / "demo.bin").string();
    auto run = build(sample("demo.log"), out);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "INFO: Finish to make BIN file!\n");
    EXPECT_EQ(run.out,
              "Memory Usage (Byte): 31744\nThe Highest Rate (Hz): 16000\nLast Section No.: 4\n");
    auto image = readFile(out);
    // 17 information pages, then 3 + 5 + 2 + 4 pages of the four sounds.
    ASSERT_EQ(image.size(), 31u * 1024);
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin(), image.begin() + 4),
              (std::vector<std::uint8_t>{0xFB, 0xFF, 0x05, 0x00}));
    // Section 0: 8,000 Hz (period 125) from page 17 to 20; section 3 not used;
    // section 4: 16,000 Hz (period 63) from page 27 to 31.
    auto entry = [&](int n) {
        return std::vector<std::uint8_t>(image.begin() + 1024 + 16 * n,
                                         image.begin() + 1024 + 16 * n + 8);
    };
    EXPECT_EQ(entry(0), (std::vector<std::uint8_t>{0xFF, 0x7D, 17, 0, 0, 20, 0, 0}));
    EXPECT_EQ(entry(3), (std::vector<std::uint8_t>{0x00, 0xFF, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(entry(4), (std::vector<std::uint8_t>{0xFF, 0x3F, 27, 0, 0, 31, 0, 0}));
    auto wav = readFile(sample("beep.wav"));
    EXPECT_TRUE(std::equal(wav.begin() + 44, wav.end(), image.begin() + 17 * 1024));

    auto json = runCli(
        {"--json", "--yes", "--temp", dir.temp(), "editor", "build", sample("demo.log"), out});
    EXPECT_EQ(json.status, 0);
    // The four used sections counted as they are built, the summary, the result.
    const auto lines = json.outLines();
    ASSERT_EQ(lines.size(), 7u) << json.out;
    for (int done = 0; done <= 4; ++done) {
        const std::string figures =
            "{\"kind\":\"progress\",\"percent\":" + std::to_string(done * 25) +
            ",\"unit\":\"sections\",\"done\":" + std::to_string(done) + ",\"total\":4,";
        EXPECT_EQ(lines[done].rfind(figures, 0), 0u) << lines[done];
    }
    EXPECT_EQ(lines[5],
              R"({"kind":"summary","memoryUsage":31744,"highestRate":16000,"lastSection":4})");
    EXPECT_EQ(lines[6], R"({"kind":"result","ok":true,"exit":0,"message":"done"})");
}

TEST_F(EditorCli, AnExistingImageIsReplacedOnlyWithYes) {
    const std::string out = dir.write("old.bin", std::string("keep me")).string();
    auto refused = build(sample("demo.log"), out);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "WARNING: File: " + out +
                               " already exist, Do you want to replace it? -> No (--yes answers "
                               "Yes)\n");
    EXPECT_EQ(readText(out), "keep me");
    auto replaced = build(sample("demo.log"), out, true);
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(std::filesystem::file_size(out), 31u * 1024);
}

TEST_F(EditorCli, RedSectionsAreNamedBeforeTheFailureBox) {
    std::filesystem::copy_file(sample("beep.wav"), dir.path() / "beep.wav");
    std::filesystem::copy_file(sample("chime.wav"), dir.path() / "chime.wav");
    const std::string proj =
        dir.write("broken.log", project({"8000>2400>beep.wav>", ">>>", "8000>2400>gone.wav>",
                                         "11025>4000>chime.wav>", "8000>4410>chime.wav>"}))
            .string();
    const std::string out = (dir.path() / "broken.bin").string();
    auto run = build(proj, out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Section 2: Can not open this file or file is not exist!\n"
              "Section 3: The wave size is different from before!\n"
              "Section 4: The wave rate is different from before!\n"
              "ERROR: Failed to make BIN file! Please check the section witch color is red!\n");
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(EditorCli, UnreadableProjectAndWave) {
    const std::string missing = (dir.path() / "none.log").string();
    auto run = build(missing, (dir.path() / "o.bin").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "ERROR: Failed to open file: " + missing + "\n");
    const std::string notWave = dir.write("noise.wav", std::string(100, 'x')).string();
    const std::string proj = dir.write("p.log", project({"8000>56>noise.wav>"})).string();
    auto bad = build(proj, (dir.path() / "o.bin").string());
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("Section 0: This file is not a 8-bit mono wave file!\n"),
              std::string::npos)
        << bad.err;
}

TEST(Samples, TheSampleDatDecodesToTheSampleImage) {
    CliFixtureDir dir;
    const std::string out = (dir.path() / "k.bin").string();
    auto run = runCli({"ivr", "decode", sample("kiva300-demo.dat"), out});
    EXPECT_EQ(run.status, 0) << run.err;
    auto decoded = readFile(out);
    auto image = readFile(sample("kiva300-demo.bin"));
    ASSERT_EQ(decoded.size(), 4096u);
    ASSERT_EQ(image.size(), 4096u);
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 14, decoded.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 16, image.end(), decoded.begin() + 16));
    char word[8];
    std::snprintf(word, sizeof word, "%04X\n", decoded[14] | (decoded[15] << 8));
    EXPECT_EQ(run.out, word);
    // Every sample sound is an 8-bit mono PCM file with the canonical header.
    for (const char* name : {"beep.wav", "chime.wav", "low-tone.wav", "alert.wav"}) {
        auto wav = readFile(sample(name));
        ASSERT_GT(wav.size(), 44u) << name;
        EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF") << name;
        EXPECT_EQ(wav[22], 1) << name;  // mono
        EXPECT_EQ(wav[34], 8) << name;  // 8 bits
        EXPECT_LT(wav.size(), 8192u) << name;
    }
}

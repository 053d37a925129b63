#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/Convert.h"
#include "cli/ExitCodes.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/AudioFiles.h"

using namespace sonoprog::test;

namespace {

class EditorCommands : public ::testing::Test {
protected:
    CliRun editor(std::vector<std::string> args, bool yes = false) {
        args.insert(args.begin(), {"--temp", dir.temp(), "editor"});
        if (yes) args.insert(args.begin(), "--yes");
        return runCli(args);
    }
    // An 8-bit mono WAV of n samples.
    std::string wave(const std::string& name, std::uint32_t n, std::uint32_t rate = 8000) {
        auto h = sonoprog::audio::waveHeader(rate, n);
        std::vector<std::uint8_t> b(h.begin(), h.end());
        for (std::uint32_t i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(i * 3));
        return dir.write(name, b).string();
    }
    std::string song(const std::string& name, int format) {
        auto p = dir / name;
        writeSource(p, {format, 44100, 2, 0.4, sine(440, -6)});
        return p.string();
    }
    std::vector<std::string> projectLines() {
        std::vector<std::string> lines;
        std::string text = readText(project), line;
        for (char c : text) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += c;
            }
        }
        lines.push_back(line);
        return lines;
    }
    CliFixtureDir dir;
    std::string project = (dir.path() / "voice.log").string();
};

const std::string kEmptySummary =
    "Memory Usage (Byte): 17408\nThe Highest Rate (Hz): 0\nLast Section No.: -1\n";

TEST_F(EditorCommands, NewWritesAnEmptyProjectAndAsksBeforeReplacingOne) {
    auto made = editor({"new", project});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, kEmptySummary);
    auto lines = projectLines();
    ASSERT_EQ(lines.size(), 1025u);
    EXPECT_EQ(lines[0], ">>>\r");
    EXPECT_EQ(lines[1023], ">>>\r");
    EXPECT_EQ(lines[1024].size(), 19u);  // the closing stamp, no line end

    wave("a.wav", 10);
    ASSERT_EQ(editor({"add", project, (dir.path() / "a.wav").string()}).status, 0);
    const std::string before = readText(project);
    auto refused = editor({"new", project});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "WARNING: File: " + project +
                               " already exist, Do you want to replace it? -> No (--yes answers "
                               "Yes)\n");
    EXPECT_EQ(readText(project), before);
    EXPECT_EQ(editor({"new", project}, true).status, 0);
    EXPECT_EQ(projectLines()[0], ">>>\r");
}

TEST_F(EditorCommands, AddPlacesFromTheFirstUnusedSectionOrTheGivenOne) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto a = wave("a.wav", 1500), b = wave("b b.wav", 2048, 16000), c = wave("c.wav", 10);
    auto added = editor({"add", project, a, b});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, "Section 0: 8000 Hz, 1500 bytes, 2 pages, " + a +
                             "\nSection 1: 16000 Hz, 2048 bytes, 2 pages, " + b +
                             "\nMemory Usage (Byte): 21504\nThe Highest Rate (Hz): 16000\n"
                             "Last Section No.: 1\n");
    EXPECT_EQ(projectLines()[1], "16000>2048>" + b + ">\r");
    ASSERT_EQ(editor({"add", project, c, "--section", "5"}).status, 0);
    ASSERT_EQ(editor({"add", project, c}).status, 0);  // the first unused: section 2
    auto list = editor({"list", project});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.outLines().size(), 4u + 3u);
    EXPECT_EQ(list.outLines()[2], "Section 2: 8000 Hz, 10 bytes, 1 pages, " + c);
    EXPECT_EQ(list.outLines()[3], "Section 5: 8000 Hz, 10 bytes, 1 pages, " + c);
}

TEST_F(EditorCommands, AddRefusesWhatIsNotEightBitMonoAndPointsToImport) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto a = wave("a.wav", 100), stereo = song("stereo.wav", wav16());
    auto r = editor({"add", project, a, stereo});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "ERROR: " + stereo +
                         "is not a 8-bit mono wave file!\n"
                         "sonoprog-cli: 'editor import' converts such files to 8-bit mono wave "
                         "files\n");
    // The file before it stays placed, in the project too.
    EXPECT_EQ(projectLines()[0], "8000>100>" + a + ">\r");
    EXPECT_EQ(projectLines()[1], ">>>\r");
}

TEST_F(EditorCommands, ImportConvertsIntoTheConvertedFolderAndListsAsJson) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto flac = song("tune.flac", flac16()), ogg = song("voice.ogg", oggVorbis());
    auto r = editor({"--json", "import", project, flac, ogg, "--rate", "11025", "--mono",
                     "--trim-db", "-50", "--section", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto converted = dir.path() / "converted";
    EXPECT_TRUE(std::filesystem::exists(converted / "tune.wav"));
    EXPECT_TRUE(std::filesystem::exists(converted / "voice.wav"));
    // The files counted as they are converted, then the sections and the summary.
    std::vector<std::string> lines;
    int progress = 0;
    for (const auto& line : r.outLines()) {
        if (line.rfind("{\"kind\":\"progress\",", 0) == 0) {
            EXPECT_NE(line.find("\"unit\":\"files\",\"done\":" + std::to_string(progress) +
                                ",\"total\":2,"),
                      std::string::npos)
                << line;
            ++progress;
        } else {
            lines.push_back(line);
        }
    }
    EXPECT_EQ(progress, 3);
    ASSERT_EQ(lines.size(), 4u);  // two sections, the summary, the result
    EXPECT_EQ(lines[0].rfind("{\"kind\":\"section\",\"section\":3,\"rate\":11025,", 0), 0u)
        << lines[0];
    EXPECT_NE(lines[0].find("\"file\":\"" + (converted / "tune.wav").string() + "\""),
              std::string::npos);
    EXPECT_NE(lines[0].find("\"problem\":\"\""), std::string::npos);
    EXPECT_EQ(lines[2].rfind("{\"kind\":\"summary\",", 0), 0u);
    EXPECT_NE(lines[2].find("\"lastSection\":4"), std::string::npos);
    // The next import defaults to the project's highest rate.
    auto again = editor({"import", project, flac, "--out", (dir.path() / "other").string()});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.outLines()[0].find("Section 0: 11025 Hz"), std::string::npos);
    // The build takes every imported section.
    auto built = editor({"build", project, (dir.path() / "img.bin").string()});
    EXPECT_EQ(built.status, 0) << built.err;
}

TEST_F(EditorCommands, AnUnreadableImportNamesTheReasonAndKeepsTheFilesBefore) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto good = song("good.wav", wav24());
    auto bad = dir.write("bad.mp3", std::string("no sound here")).string();
    auto r = editor({"import", project, good, bad, "--rate", "8000"});
    EXPECT_EQ(r.status, 1);
    // (The MPEG decoder may add notes of its own before it.)
    EXPECT_NE(r.err.find("ERROR: Failed to import audio file: " + bad + " ("), std::string::npos)
        << r.err;
    EXPECT_EQ(projectLines()[0].rfind("8000>", 0), 0u);
    EXPECT_EQ(projectLines()[1], ">>>\r");
    auto bad_rate = editor({"import", project, good, "--rate", "1000"});
    EXPECT_EQ(bad_rate.status, 1);
    EXPECT_EQ(bad_rate.err, "ERROR: The rate 1000 Hz gives no valid sample period!\n");
    EXPECT_EQ(editor({"import", project, good, "--trim-db", "loud"}).status, 2);
}

// A file that is not a project is never loaded as an empty table and saved
// over: every verb refuses it and leaves it as it was.
TEST_F(EditorCommands, EveryVerbRefusesAFileThatIsNotAProjectAndLeavesIt) {
    const std::string a = wave("a.wav", 100);
    const std::string notes =
        dir.write("notes.txt", std::string("shopping: milk > bread\n")).string();
    const std::string empty = dir.write("empty.log", std::string()).string();
    const std::string out = (dir.path() / "img.bin").string();
    const std::vector<std::vector<std::string>> verbs = {
        {"add", "", a},
        {"import", "", a},
        {"list", ""},
        {"remove", "", "--section", "0"},
        {"move", "", "--section", "1", "--up"},
        {"refresh", ""},
        {"build", "", out},
    };
    for (const std::string& file : {a, notes, empty}) {
        const std::string before = readText(file);
        for (auto args : verbs) {
            args[1] = file;
            auto r = editor(args, true);
            EXPECT_EQ(r.status, sonoprog::cli::kExitFile) << args[0] << " " << file;
            EXPECT_NE(r.err.find(file + " is not a Sound Editor project"), std::string::npos)
                << r.err;
            EXPECT_EQ(readText(file), before) << args[0] << " " << file;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "converted"));
}

TEST_F(EditorCommands, FilesLeftOutFailTheCommandAndAreNamed) {
    auto a = wave("a.wav", 100), b = wave("b.wav", 100), c = wave("c.wav", 100);
    const auto missing = (dir.path() / "missing.wav").string();
    const struct {
        std::vector<std::string> args;
        std::string named;  // the line that names the files left out
        int placedLine;     // the project line of the last file placed
        std::string placed;
    } cases[] = {
        // No section after section 1023.
        {{"add", project, a, b, c, "--section", "1022"},
         "1 file(s) not added, no section is left after section 1023: " + c,
         1023,
         b},
        // A file refused on the way: it has its own message, the ones after it are named.
        {{"add", project, a, missing, b, c},
         "2 file(s) not added after the one refused: " + b + ", " + c,
         0,
         a},
    };
    for (const auto& row : cases) {
        ASSERT_EQ(editor({"new", project}, true).status, 0);
        auto r = editor(row.args);
        EXPECT_EQ(r.status, 1) << row.named;
        EXPECT_NE(r.err.find("sonoprog-cli: " + row.named + "\n"), std::string::npos) << r.err;
        // What was placed is saved.
        EXPECT_EQ(projectLines()[row.placedLine], "8000>100>" + row.placed + ">\r");
    }
}

TEST_F(EditorCommands, TrimLevelsThatAreNotFiniteNumbersAreRefused) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    const std::string before = readText(project);
    auto src = song("tune.flac", flac16());
    for (const char* level : {"nan", "-nan", "NaN", "inf", "-inf", "-infinity", "-1e999", "0x10"}) {
        auto r = editor({"import", project, src, "--trim-db", level});
        EXPECT_EQ(r.status, 2) << level;
        EXPECT_EQ(r.err, std::string("sonoprog-cli: '--trim-db ") + level +
                             "': a level in dB, 0 or below\n");
    }
    EXPECT_EQ(readText(project), before);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "converted"));
}

// One object per line under --json: the MPEG decoder's notes come as the
// program's own warning, never as raw text on standard error.
TEST_F(EditorCommands, DecoderNotesBecomeAWarningOfTheProgramsOwnForm) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto mp3File = dir.path() / "song.mp3";
    writeSource(mp3File, {mp3(), 44100, 1, 3.0, sine(440, -6)});
    {
        std::fstream f(mp3File, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(20000);
        const std::string junk(3000, '\x55');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    auto r = editor({"--json", "import", project, mp3File.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    CliRun errors;
    errors.out = r.err;
    bool warned = false;
    for (const auto& line : errors.outLines()) {
        EXPECT_EQ(line.rfind("{\"kind\":", 0), 0u) << line;
        warned = warned || line.rfind(
                               "{\"kind\":\"box\",\"caption\":\"WARNING\",\"text\":\"The "
                               "decoder's messages on " +
                                   mp3File.string(),
                               0) == 0;
    }
    EXPECT_TRUE(warned) << r.err;
}

TEST_F(EditorCommands, RemoveAndMoveFollowTheButtonsRules) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto a = wave("a.wav", 100), b = wave("b.wav", 200);
    ASSERT_EQ(editor({"add", project, a, b}).status, 0);
    auto top = editor({"move", project, "--section", "0", "--up"});
    EXPECT_EQ(top.status, 1);
    EXPECT_EQ(top.err, "sonoprog-cli: section 0 cannot move up\n");
    EXPECT_EQ(editor({"move", project, "--section", "1"}).status, 2);
    ASSERT_EQ(editor({"move", project, "--section", "1", "--up"}).status, 0);
    EXPECT_EQ(projectLines()[0], "8000>200>" + b + ">\r");
    EXPECT_EQ(projectLines()[1], "8000>100>" + a + ">\r");
    ASSERT_EQ(editor({"move", project, "--section", "1", "--down"}).status, 0);
    EXPECT_EQ(projectLines()[2], "8000>100>" + a + ">\r");

    auto unused = editor({"remove", project, "--section", "1"});
    EXPECT_EQ(unused.status, 1);
    EXPECT_EQ(unused.err, "sonoprog-cli: section 1 is not used\n");
    auto removed = editor({"remove", project, "--section", "0"});
    EXPECT_EQ(removed.status, 0);
    EXPECT_EQ(projectLines()[0], ">>>\r");
    EXPECT_EQ(editor({"list", project}).outLines()[0],
              "Section 2: 8000 Hz, 100 bytes, 1 pages, " + a);
}

TEST_F(EditorCommands, RefreshCuresASoundRecordedAnew) {
    ASSERT_EQ(editor({"new", project}).status, 0);
    auto a = wave("a.wav", 1500);
    ASSERT_EQ(editor({"add", project, a}).status, 0);
    wave("a.wav", 2500);
    const std::string out = (dir.path() / "img.bin").string();
    auto failed = editor({"build", project, out});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("Section 0: The wave size is different from before!"),
              std::string::npos);
    auto listed = editor({"list", project});
    EXPECT_EQ(listed.outLines()[0], "Section 0: 8000 Hz, 1500 bytes, 2 pages, " + a +
                                        ": The wave size is different from before!");

    auto refreshed = editor({"refresh", project});
    EXPECT_EQ(refreshed.status, 0) << refreshed.err;
    EXPECT_EQ(refreshed.outLines()[0], "Section 0: 8000 Hz, 1500 bytes -> 8000 Hz, 2500 bytes");
    EXPECT_EQ(projectLines()[0], "8000>2500>" + a + ">\r");
    EXPECT_EQ(editor({"build", project, out}).status, 0);

    std::filesystem::remove(a);
    auto gone = editor({"refresh", project});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.err, "Section 0: Can not open this file or file is not exist!\n");
}

}  // namespace

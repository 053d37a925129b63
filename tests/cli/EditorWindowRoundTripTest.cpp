// The editor commands and the window's Sound Editor page take turns on one
// project file: what one writes the other loads unchanged.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QTabWidget>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/Convert.h"
#include "core/WriterLink.h"
#include "editor/EditorPage.h"
#include "tests/cli/CliRunner.h"
#include "tests/support/AudioFiles.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;
using namespace sonoprog::test;

namespace {

class NoWriter final : public core::WriterLink {
public:
    bool Exchange(const core::Packet&, core::Packet&) override { return false; }
    bool BulkWrite(const std::uint8_t*, std::size_t) override { return false; }
    bool BulkRead(std::uint8_t*, std::size_t) override { return false; }
};

class RoundTrip : public ::testing::Test {
protected:
    RoundTrip()
        : paths(core::AppPaths::forFolder(dir.path())), env{nullptr, nullptr, prompter, files,
                                                            yield,   clock,   writer,   paths} {
        paths.ensureTemp();
        pcMain = new QTabWidget(&window);
        deviceSel = new QComboBox(&window);
        env.pcMain = pcMain;
        env.deviceSel = deviceSel;
        page = new editor::EditorPage(env);
        pcMain->addTab(page, "Sound Editor");
    }
    CliRun editor(std::vector<std::string> args) {
        args.insert(args.begin(), {"--yes", "--temp", dir.temp(), "editor"});
        return runCli(args);
    }
    std::string wave(const std::string& name, std::uint32_t n) {
        auto h = audio::waveHeader(11025, n);
        std::vector<std::uint8_t> b(h.begin(), h.end());
        b.resize(44 + n, 0x90);
        return dir.write(name, b).string();
    }
    // The project without its closing time stamp.
    std::string sections() {
        std::string text = readText(project);
        return text.substr(0, text.rfind('\n') + 1);
    }
    void loadInWindow() {
        files.openAnswers.push_back(project);
        page->BT_Edit_ScpLoadClick();
    }
    void saveInWindow() {
        files.saveAnswers.push_back(project);
        prompter.answers.push_back(true);  // replace it
        page->BT_Edit_ScpSaveClick();
    }

    CliFixtureDir dir;
    std::string project = (dir.path() / "voice.log").string();
    core::AppPaths paths;
    RecordingPrompter prompter;
    ScriptedFileChooser files;
    CountingYield yield;
    FixedClock clock;
    NoWriter writer;
    gui::TabEnvironment env;
    QWidget window;
    QTabWidget* pcMain = nullptr;
    QComboBox* deviceSel = nullptr;
    editor::EditorPage* page = nullptr;
};

TEST_F(RoundTrip, EveryEditorCommandLeavesAProjectTheWindowLoadsAndSavesUnchanged) {
    auto a = wave("a.wav", 1500), b = wave("b.wav", 300), c = wave("c c.wav", 10);
    const auto song = dir.path() / "song.ogg";
    writeSource(song, {oggVorbis(), 44100, 2, 0.3, sine(440, -6)});
    ASSERT_EQ(editor({"new", project}).status, 0);
    ASSERT_EQ(editor({"add", project, a, b, c}).status, 0);
    ASSERT_EQ(editor({"import", project, song.string(), "--section", "7", "--mono"}).status, 0);
    ASSERT_EQ(editor({"move", project, "--section", "1", "--down"}).status, 0);
    ASSERT_EQ(editor({"remove", project, "--section", "0"}).status, 0);
    wave("c c.wav", 20);
    ASSERT_EQ(editor({"refresh", project}).status, 0);
    const std::string written = sections();

    loadInWindow();
    EXPECT_TRUE(prompter.boxes.empty());
    editor::SectionTable& t = page->table();
    EXPECT_FALSE(t.isUsed(1));
    EXPECT_EQ(t.cell(2, editor::kColFile), c);
    EXPECT_EQ(t.cell(2, editor::kColSize), "20");
    EXPECT_EQ(t.cell(3, editor::kColFile), b);
    EXPECT_EQ(t.cell(8, editor::kColFile), (dir.path() / "converted" / "song.wav").string());
    EXPECT_EQ(t.cell(8, editor::kColRate), "11025");  // the project's highest rate
    saveInWindow();
    EXPECT_EQ(sections(), written);
}

TEST_F(RoundTrip, AProjectTheWindowSavedIsTheOneTheCommandsWorkOn) {
    auto a = wave("a.wav", 2000), b = wave("b.wav", 100);
    files.multiAnswers.push_back({a, b});
    page->SG_SoundTableSelectCell(3);
    page->BT_Edit_SecAddClick();
    saveInWindow();
    const std::string saved = sections();

    auto listed = editor({"--json", "list", project});
    ASSERT_EQ(listed.status, 0) << listed.err;
    ASSERT_EQ(listed.outLines().size(), 4u);  // two sections, the summary, the result
    EXPECT_EQ(listed.outLines()[0], R"({"kind":"section","section":2,"rate":11025,"size":2000,)"
                                    R"("pages":2,"file":")" +
                                        a + R"(","problem":""})");
    EXPECT_EQ(editor({"refresh", project}).out.rfind("Memory Usage", 0), 0u);  // nothing changed
    EXPECT_EQ(sections(), saved);

    // A command's change shows in the window's next load.
    ASSERT_EQ(editor({"move", project, "--section", "2", "--up"}).status, 0);
    loadInWindow();
    EXPECT_EQ(page->table().cell(2, editor::kColFile), a);
    EXPECT_FALSE(page->table().isUsed(3));
}

}  // namespace

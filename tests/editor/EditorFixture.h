#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "core/AppPaths.h"
#include "editor/EditorOperations.h"
#include "editor/EditorPanel.h"
#include "editor/SectionTable.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

namespace sonoprog::test {

struct WaveShape {
    std::uint32_t rate = 8000;
    std::uint16_t channels = 1;
    std::uint16_t bits = 8;
    std::uint16_t format = 1;
    std::uint32_t fmtLength = 16;
    std::uint32_t riffLength = 0;             // 0: the right one
    std::uint32_t declaredSize = 0xFFFFFFFF;  // all ones: the data's own length
};

// A canonical 44-byte PCM header followed by the samples.
std::vector<std::uint8_t> waveBytes(const std::vector<std::uint8_t>& samples,
                                    const WaveShape& shape = {});
// Samples that differ from page to page, so a misplaced page shows.
std::vector<std::uint8_t> rampSamples(std::size_t count, std::uint8_t seed = 0);

// Lowers the largest file size this process may write, for the full-disk
// cases, and puts it back afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};

// The editor's commands over a plain table, with recording fakes.
class EditorFixture : public ::testing::Test {
protected:
    EditorFixture();

    // Writes a WAV file into the test folder and returns its path.
    std::string wave(const std::string& name, std::size_t samples, std::uint32_t rate = 8000,
                     std::uint8_t seed = 0);
    // Places the files from the given section on, the way the dialog would.
    editor::AddResult addAt(int section, std::vector<std::string> files);
    editor::BuildResult build(const std::string& outName);
    // Temporary files of the atomic writes left in the test folder.
    std::vector<std::string> leftovers() const;

    TempDir dir;
    core::AppPaths paths;
    editor::SectionTable table;
    editor::PanelState panel;
    RecordingPrompter prompter;
    ScriptedFileChooser files;
    CountingYield yield;
    FixedClock clock;
    editor::EditorOperations ops;
};

}  // namespace sonoprog::test

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "sim/ChipFile.h"
#include "sim/FolderLock.h"
#include "sim/PersistentWriter.h"
#include "sim/WriterSettings.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
namespace fs = std::filesystem;

namespace {

// The PID of a process that has ended (and been reaped).
pid_t endedProcess() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

}  // namespace

TEST(WriterFolder, OneProcessAtATimeHasTheFolderFromItsOpeningOn) {
    test::TempDir dir;
    const auto w = dir / "w";
    auto first = sim::openPersistentWriter(w, sim::kKiva300File);
    ASSERT_TRUE(first.writer) << first.error;
    // Claimed as the folder is opened, before the Writer is: a second opening
    // reads, removes and makes nothing there.
    const std::string dead = "tarn20.bin.new-" + std::to_string(endedProcess());
    dir.write("w/" + dead, std::string("partial"));
    auto second = sim::openPersistentWriter(w, sim::kAllChipFiles);
    EXPECT_FALSE(second.writer);
    EXPECT_TRUE(second.inUse);
    EXPECT_EQ(second.error, "the virtual Writer in " + w.string() +
                                " is in use by another process (PID " + std::to_string(::getpid()) +
                                ")");
    EXPECT_TRUE(fs::exists(w / dead));
    EXPECT_FALSE(fs::exists(w / sim::kTarn20FileName));
    EXPECT_FALSE(fs::exists(w / sim::kSerialFlashFileName));

    EXPECT_TRUE(first.writer->open());
    EXPECT_TRUE(first.writer->open());  // opening again keeps the claim
    // Released (closed, or the Writer pulled out by the monitor), the next may.
    first.writer->release();
    auto third = sim::openPersistentWriter(w, sim::kKiva300File);
    ASSERT_TRUE(third.writer) << third.error;
    EXPECT_FALSE(fs::exists(w / dead));
    EXPECT_FALSE(first.writer->open());
    third.writer.reset();  // the claim goes with the Writer
    EXPECT_TRUE(first.writer->open());
}

TEST(WriterFolder, TheClaimDiesWithItsProcess) {
    test::TempDir dir;
    sim::FolderLock mine(dir.path());
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        sim::FolderLock theirs(dir.path());
        const char ok = theirs.acquire() ? 'y' : 'n';
        [[maybe_unused]] auto n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    EXPECT_FALSE(mine.acquire());
    EXPECT_EQ(mine.holder(), static_cast<long>(child));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(mine.acquire());
    EXPECT_EQ(mine.holder(), static_cast<long>(::getpid()));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(WriterFolder, LeftoversOfEndedRunsAreRemovedOnOpening) {
    test::TempDir dir;
    const auto w = dir / "w";
    fs::create_directory(w);
    const std::string dead = std::to_string(endedProcess());
    const std::string alive = std::to_string(::getppid());
    for (const std::string& name :
         {"tarn20.bin.new-" + dead, "kiva300.bin.new-" + dead, "serialflash.bin.new-" + alive,
          "notes.txt.new-" + dead, "tarn20.bin.new-x" + dead})
        dir.write("w/" + name, std::string("partial"));

    auto opened = sim::openPersistentWriter(w, sim::kKiva300File);
    ASSERT_TRUE(opened.writer) << opened.error;
    EXPECT_FALSE(fs::exists(w / ("tarn20.bin.new-" + dead)));
    EXPECT_FALSE(fs::exists(w / ("kiva300.bin.new-" + dead)));
    // A run still making its chip, and files that are no chip's, stay.
    EXPECT_TRUE(fs::exists(w / ("serialflash.bin.new-" + alive)));
    EXPECT_TRUE(fs::exists(w / ("notes.txt.new-" + dead)));
    EXPECT_TRUE(fs::exists(w / ("tarn20.bin.new-x" + dead)));
}

TEST(WriterFolder, OnlyTheLastFolderIsMadeAndNewChipsAreTold) {
    test::TempDir dir;
    auto mistyped = sim::openPersistentWriter(dir / "no" / "such" / "w", sim::kKiva300File);
    EXPECT_FALSE(mistyped.writer);
    EXPECT_TRUE(mistyped.noParent);
    EXPECT_NE(mistyped.error.find((dir / "no" / "such").string()), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "no"));

    auto fresh = sim::openPersistentWriter(dir / "w", sim::kKiva300File | sim::kSerialFlashFile);
    ASSERT_TRUE(fresh.writer) << fresh.error;
    EXPECT_EQ(fresh.notices,
              (std::vector<std::string>{
                  "new blank serial flash chip: " + (dir / "w" / "serialflash.bin").string(),
                  "new blank Kiva300 chip: " + (dir / "w" / "kiva300.bin").string()}));
    fresh.writer.reset();  // and the claim with it
    auto again = sim::openPersistentWriter(dir / "w", sim::kKiva300File | sim::kSerialFlashFile);
    ASSERT_TRUE(again.writer);
    EXPECT_TRUE(again.notices.empty());
}

TEST(WriterSettings, BadPagesTakeRanges) {
    auto s = sim::readWriterSettings(
        core::IniFile::fromText("[Tarn20]\nBadPages=3, 0x1E480-0x1E482,10 - 12, 9-8, 5-x\n"));
    EXPECT_EQ(s.tarnBadPages,
              (std::vector<std::uint32_t>{3, 0x1E480, 0x1E481, 0x1E482, 10, 11, 12}));
    ASSERT_EQ(s.warnings.size(), 2u);
    EXPECT_NE(s.warnings[0].find("\"9-8\""), std::string::npos);
    EXPECT_NE(s.warnings[1].find("\"5-x\""), std::string::npos);

    // The whole spare area in one short line.
    auto spare =
        sim::readWriterSettings(core::IniFile::fromText("[Tarn20]\nBadPages=124032-130559\n"));
    EXPECT_EQ(spare.tarnBadPages.size(), 130559u - 124032u + 1);
    EXPECT_EQ(spare.tarnBadPages.back(), 130559u);
}

TEST(WriterSettings, ALineLongerThanTheReaderTakesIsReported) {
    test::TempDir dir;
    std::string list;
    for (int page = 100; page < 400; ++page) list += std::to_string(page) + ",";
    const auto file = dir.write("writer.ini", "[Tarn20]\nDetectStatus=0\nBadPages=" + list +
                                                  "\n[Kiva300]\nDetectStatus=0x10\n");
    auto s = sim::readWriterSettings(file);
    ASSERT_EQ(s.warnings.size(), 1u);
    EXPECT_EQ(s.warnings[0].rfind(file.string() + ": line 3 (key BadPages) is longer than the ", 0),
              0u)
        << s.warnings[0];
    // What follows the long line is read as before.
    EXPECT_EQ(s.kivaDetectStatus, 0x10);
    EXPECT_EQ(s.tarnBadPages.front(), 100u);

    const auto shortFile = dir.write("short.ini", "[Tarn20]\nBadPages=100-399\n");
    auto ranged = sim::readWriterSettings(shortFile);
    EXPECT_TRUE(ranged.warnings.empty());
    EXPECT_EQ(ranged.tarnBadPages.size(), 300u);
}

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "core/AtomicFile.h"
#include "core/FileHandle.h"
#include "core/TempFiles.h"
#include "tests/support/Fakes.h"
#include "tests/support/SpecialFiles.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
namespace fs = std::filesystem;

// Every input is opened by one function: only regular files come back, and
// nothing else makes it wait.
TEST(OpenForReading, RefusesPipesDevicesAndFoldersAtOnce) {
    test::TempDir dir;
    test::HangGuard guard;
    test::makeFifo(dir / "pipe");
    fs::create_symlink("/dev/null", dir / "null-link");
    fs::create_symlink(dir / "pipe", dir / "pipe-link");
    fs::create_directory(dir / "folder");

    EXPECT_EQ(core::openForReading(dir / "pipe"), nullptr);
    EXPECT_EQ(core::openForReading(dir / "pipe-link"), nullptr);
    EXPECT_EQ(core::openForReading(dir / "null-link"), nullptr);
    EXPECT_EQ(core::openForReading("/dev/zero"), nullptr);
    EXPECT_EQ(core::openForReading(dir / "folder"), nullptr);
    EXPECT_EQ(core::openForReading(dir / "missing"), nullptr);
    EXPECT_TRUE(test::isFifo(dir / "pipe"));
}

// The reason names the file and what it is, for every reader that shows it.
TEST(OpenForReading, NamesTheFileAndWhatItIsWhenRefused) {
    test::TempDir dir;
    test::HangGuard guard;
    test::makeFifo(dir / "pipe");
    fs::create_directory(dir / "folder");
    auto file = dir.write("image.bin", std::string("abc"));
    fs::create_symlink(file, dir / "image-link.bin");
    const struct {
        fs::path path;
        std::string why;  // empty: opened
    } cases[] = {
        {"/dev/zero", "/dev/zero is a character device, not a regular file"},
        {dir / "pipe", (dir / "pipe").string() + " is a named pipe, not a regular file"},
        {dir / "folder", (dir / "folder").string() + " is a folder, not a regular file"},
        {dir / "missing", (dir / "missing").string() + ": No such file or directory"},
        {file, ""},
        {dir / "image-link.bin", ""},
    };
    for (const auto& c : cases) {
        std::string why = "stale";
        core::FilePtr f = core::openForReading(c.path, why);
        EXPECT_EQ(f != nullptr, c.why.empty()) << c.path;
        EXPECT_EQ(why, c.why);
        const int fd = core::openInputDescriptor(c.path, why);
        EXPECT_EQ(fd >= 0, c.why.empty()) << c.path;
        EXPECT_EQ(why, c.why);
        if (fd >= 0) ::close(fd);
    }
}

TEST(OpenForReading, ReadsRegularFilesAndLinksToThemWithBlockingReads) {
    test::TempDir dir;
    auto file = dir.write("image.bin", std::string("abc"));
    fs::create_symlink(file, dir / "image-link.bin");
    for (const auto& path : {file, dir / "image-link.bin"}) {
        core::FilePtr f = core::openForReading(path);
        ASSERT_NE(f, nullptr) << path;
        char buf[4] = {};
        EXPECT_EQ(std::fread(buf, 1, 3, f.get()), 3u);
        EXPECT_STREQ(buf, "abc");
        // The descriptor is back to ordinary (blocking) reads.
        EXPECT_EQ(::fcntl(fileno(f.get()), F_GETFL) & O_NONBLOCK, 0);
    }
}

TEST(AtomicFile, NeverReplacesASpecialFileOrALinkToOne) {
    test::TempDir dir;
    test::HangGuard guard;
    test::makeFifo(dir / "pipe");
    fs::create_symlink("/dev/null", dir / "null-link");
    fs::create_directory(dir / "folder");
    const char data[] = "image";

    for (const auto& target : {dir / "pipe", dir / "null-link", dir / "folder"}) {
        core::AtomicFile out(target);
        EXPECT_FALSE(out.open()) << target;
        EXPECT_FALSE(core::writeFileAtomically(target, data, sizeof data)) << target;
    }
    EXPECT_TRUE(test::devNullIntact());
    EXPECT_TRUE(test::isFifo(dir / "pipe"));
    EXPECT_TRUE(fs::is_symlink(dir / "null-link"));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    // Nothing of the refused writes is left in the folder.
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"pipe", "null-link", "folder"}));
}

TEST(AtomicFile, ReplacesRegularFilesThroughLinksAndNewNames) {
    test::TempDir dir;
    auto earlier = dir.write("out.bin", std::string("earlier"));
    fs::create_symlink(earlier, dir / "out-link.bin");
    const std::string text = "new image";
    ASSERT_TRUE(core::writeFileAtomically(dir / "out-link.bin", text.data(), text.size()));
    EXPECT_EQ(test::readText(earlier), text);
    EXPECT_TRUE(fs::is_symlink(dir / "out-link.bin"));
    ASSERT_TRUE(core::writeFileAtomically(dir / "fresh.bin", text.data(), text.size()));
    EXPECT_EQ(test::readText(dir / "fresh.bin"), text);
}

TEST(ConfirmReplace, AsksOnlyWhenSomethingIsThere) {
    test::TempDir dir;
    test::RecordingPrompter prompter;
    EXPECT_TRUE(core::confirmReplace(prompter, (dir / "new.bin").string()));
    EXPECT_TRUE(prompter.boxes.empty());
    auto there = dir.write("old.bin", std::string("x")).string();
    prompter.answers = {false};
    EXPECT_FALSE(core::confirmReplace(prompter, there));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "WARNING");
    EXPECT_EQ(prompter.boxes[0].text,
              "File: " + there + " already exist, Do you want to replace it?");
}

TEST(PrivateTempFile, EachRunHasItsOwnFileGoneWhenItEnds) {
    test::TempDir dir;
    fs::path firstPath;
    {
        auto first = core::PrivateTempFile::create(dir.path(), "temp-", ".bin");
        auto second = core::PrivateTempFile::create(dir.path(), "temp-", ".bin");
        ASSERT_TRUE(first && second);
        firstPath = first->path();
        EXPECT_NE(first->path(), second->path());
        EXPECT_EQ(first->path().parent_path(), dir.path());
        EXPECT_EQ(first->path().extension(), ".bin");
        EXPECT_EQ(first->path().filename().string().rfind("temp-", 0), 0u);
        // Written and read back through the one open file, each its own bytes.
        std::fputs("first", first->file());
        std::fputs("second run", second->file());
        std::fflush(first->file());
        std::fflush(second->file());
        EXPECT_EQ(test::readText(first->path()), "first");
        EXPECT_EQ(test::readText(second->path()), "second run");
        std::rewind(first->file());
        char buf[6] = {};
        EXPECT_EQ(std::fread(buf, 1, 5, first->file()), 5u);
        EXPECT_STREQ(buf, "first");
        struct stat st {};
        ASSERT_EQ(::stat(first->path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
    EXPECT_FALSE(fs::exists(firstPath));
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_FALSE(core::PrivateTempFile::create(dir / "missing", "temp-", ".bin"));
}

// The PGM, VRF and READ files are created, never opened over what is there.
TEST(TempFiles, StampedFilesPassOverAPipeUnderTheirName) {
    test::TempDir dir;
    test::HangGuard guard;
    test::FixedClock clock;
    test::makeFifo(dir / "PGM_20110607-0450.log");
    auto created = core::createStampedFile(dir.path(), "PGM_", clock.now, ".log");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->path.filename(), "PGM_20110607-0450-2.log");
    EXPECT_TRUE(test::isFifo(dir / "PGM_20110607-0450.log"));
}

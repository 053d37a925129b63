#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "core/AppPaths.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using sonoprog::core::AppPaths;
using sonoprog::core::chooseTempDir;
using sonoprog::core::userStateDir;
using sonoprog::test::TempDir;

namespace {

TEST(UserStateDir, TakesAnAbsoluteXdgStateHome) {
    EXPECT_EQ(userStateDir("/var/state/op", "/home/op"), fs::path("/var/state/op"));
}

TEST(UserStateDir, IgnoresRelativeOrEmptyXdgStateHome) {
    EXPECT_EQ(userStateDir("state", "/home/op"), fs::path("/home/op/.local/state"));
    EXPECT_EQ(userStateDir("", "/home/op"), fs::path("/home/op/.local/state"));
    EXPECT_EQ(userStateDir(nullptr, "/home/op"), fs::path("/home/op/.local/state"));
}

TEST(UserStateDir, IsUnknownWithoutAnAbsoluteHome) {
    EXPECT_TRUE(userStateDir(nullptr, nullptr).empty());
    EXPECT_TRUE(userStateDir("", "op").empty());
}

// The folder layout is real; which folders may be written is decided by the
// probe, so the rules can be checked whoever runs the tests.
class TempChoice : public ::testing::Test {
protected:
    TempDir dir;
    fs::path program = dir / "bin";
    fs::path state = dir / "state";
    std::set<fs::path> writable;

    void SetUp() override { fs::create_directories(program); }

    fs::path choose(const fs::path& programDir) {
        return chooseTempDir(programDir, state,
                             [this](const fs::path& p) { return writable.count(p) > 0; });
    }
};

TEST_F(TempChoice, StaysBesideAWritableProgram) {
    writable = {program};
    EXPECT_EQ(choose(program), program / "Temp");
}

TEST_F(TempChoice, MovesToTheStateFolderWhenTheProgramFolderIsReadOnly) {
    EXPECT_EQ(choose(program), state / "sonoprog" / "Temp");
}

TEST_F(TempChoice, UsesAWritableTempBesideAReadOnlyProgram) {
    fs::create_directory(program / "Temp");
    writable = {program / "Temp"};
    EXPECT_EQ(choose(program), program / "Temp");
}

TEST_F(TempChoice, LeavesATempItCannotWrite) {
    fs::create_directory(program / "Temp");
    writable = {program};
    EXPECT_EQ(choose(program), state / "sonoprog" / "Temp");
}

TEST_F(TempChoice, LeavesAFileNamedTemp) {
    dir.write("bin/Temp", std::string("not a folder"));
    writable = {program, program / "Temp"};
    EXPECT_EQ(choose(program), state / "sonoprog" / "Temp");
}

TEST_F(TempChoice, KeepsTempBesideAProgramFolderThatDoesNotExist) {
    EXPECT_EQ(choose(dir / "missing"), dir / "missing" / "Temp");
}

TEST_F(TempChoice, KeepsTempBesideTheProgramWhenNoStateFolderIsKnown) {
    EXPECT_EQ(chooseTempDir(program, fs::path(), [](const fs::path&) { return false; }),
              program / "Temp");
}

TEST(AppPathsFolder, WritableFolderKeepsSetupAndTempBesideTheProgram) {
    TempDir dir;
    auto paths = AppPaths::forFolder(dir.path());
    EXPECT_EQ(paths.setupIni(), dir / "Setup.ini");
    EXPECT_EQ(paths.tempDir, dir / "Temp");
    paths.ensureTemp();
    EXPECT_TRUE(fs::is_directory(dir / "Temp"));
}

TEST(AppPathsFolder, EnsureTempMakesOneLevelBesideTheProgram) {
    TempDir dir;
    auto paths = AppPaths::forFolder(dir / "gone");
    paths.ensureTemp();
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

TEST(AppPathsFolder, EnsureTempMakesThePrivateStateFolders) {
    TempDir dir;
    AppPaths paths{dir / "bin", dir / "state" / "sonoprog" / "Temp"};
    paths.ensureTemp();
    ASSERT_TRUE(fs::is_directory(paths.tempDir));
    struct stat st {};
    ASSERT_EQ(stat((dir / "state" / "sonoprog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

// Runs in a child of the death test: drops root (whose writes no folder mode
// stops) to an unprivileged user, then finds Temp for a read-only program
// folder. Any mismatch is printed and ends the child with status 1.
void checkReadOnlyProgram(const fs::path& program, const fs::path& expectedTemp,
                          const fs::path& createdFolder) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
        std::fprintf(stderr, "cannot drop root\n");
        std::_Exit(3);
    }
    auto paths = AppPaths::forFolder(program);
    paths.ensureTemp();
    struct stat st {};
    bool ok = true;
    auto fail = [&ok](const std::string& what) {
        std::fprintf(stderr, "%s\n", what.c_str());
        ok = false;
    };
    if (paths.tempDir != expectedTemp) fail("tempDir " + paths.tempDir.string());
    if (paths.setupIni() != program / "Setup.ini") fail("setupIni " + paths.setupIni().string());
    if (!fs::is_directory(expectedTemp)) fail("Temp not made");
    if (fs::exists(program / "Temp")) fail("Temp made beside the program");
    if (stat(createdFolder.c_str(), &st) != 0 || (st.st_mode & 0777) != 0700)
        fail("state folder not private");
    std::_Exit(ok ? 0 : 1);
}

class ReadOnlyProgram : public ::testing::Test {
protected:
    TempDir dir;
    fs::path program = dir / "bin";
    fs::path user = dir / "user";

    void SetUp() override {
        // The unprivileged child must reach into the test folder and own its home.
        fs::permissions(dir.path(), fs::perms(0755));
        dir.write("bin/Setup.ini", std::string("[System]\nVersion=Installed\n"));
        dir.write("user/.config/sonoprog/Setup.ini", std::string("[System]\nVersion=User\n"));
        fs::permissions(user, fs::perms(0777));
        fs::permissions(program, fs::perms(0555));
    }

    // Lets the folder be removed when the tests do not run as root.
    void TearDown() override { fs::permissions(program, fs::perms(0755)); }
};

TEST_F(ReadOnlyProgram, TempGoesToXdgStateHome) {
    EXPECT_EXIT(
        {
            setenv("HOME", user.c_str(), 1);
            setenv("XDG_STATE_HOME", (user / "xdg" / "state").c_str(), 1);
            setenv("XDG_CONFIG_HOME", (user / ".config").c_str(), 1);
            checkReadOnlyProgram(program, user / "xdg" / "state" / "sonoprog" / "Temp",
                                 user / "xdg");
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ReadOnlyProgram, TempGoesToTheDefaultStateFolder) {
    EXPECT_EXIT(
        {
            setenv("HOME", user.c_str(), 1);
            unsetenv("XDG_STATE_HOME");
            checkReadOnlyProgram(program, user / ".local" / "state" / "sonoprog" / "Temp",
                                 user / ".local" / "state" / "sonoprog");
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/InstanceLock.h"
#include "app/ProgramOptions.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using app::ProgramOptions;
using core::WriterOption;
using Args = std::vector<std::string>;

TEST(WriterOption, NamesTheThreeWriters) {
    EXPECT_EQ(core::parseWriterOption("usb"), (WriterOption{WriterOption::Kind::Usb, ""}));
    EXPECT_EQ(core::parseWriterOption("sim"), (WriterOption{WriterOption::Kind::Sim, ""}));
    EXPECT_EQ(core::parseWriterOption("sim:/tmp/chips"),
              (WriterOption{WriterOption::Kind::SimDir, "/tmp/chips"}));
    EXPECT_FALSE(core::parseWriterOption("sim:"));
    EXPECT_FALSE(core::parseWriterOption("SIM"));
    EXPECT_FALSE(core::parseWriterOption(""));
    EXPECT_FALSE(core::parseWriterOption("usb2"));
}

TEST(ProgramOptions, NoArgumentsMeansTheRealWriter) {
    auto o = app::parseProgramOptions({});
    EXPECT_EQ(o.action, ProgramOptions::Action::Run);
    EXPECT_EQ(o.writer.kind, WriterOption::Kind::Usb);
}

TEST(ProgramOptions, WriterHelpVersionAndErrors) {
    EXPECT_EQ(app::parseProgramOptions({"--writer", "sim"}).writer.kind, WriterOption::Kind::Sim);
    EXPECT_EQ(app::parseProgramOptions({"--writer=sim:d"}).writer.folder, "d");
    EXPECT_EQ(app::parseProgramOptions({"--writer", "sim", "--writer", "usb"}).writer.kind,
              WriterOption::Kind::Usb);
    EXPECT_EQ(app::parseProgramOptions({"--writer", "sim", "--help"}).action,
              ProgramOptions::Action::Help);
    EXPECT_EQ(app::parseProgramOptions({"-h"}).action, ProgramOptions::Action::Help);
    EXPECT_EQ(app::parseProgramOptions({"--version"}).action, ProgramOptions::Action::Version);
    auto missing = app::parseProgramOptions({"--writer"});
    EXPECT_EQ(missing.action, ProgramOptions::Action::Error);
    EXPECT_FALSE(missing.error.empty());
    EXPECT_EQ(app::parseProgramOptions({"--writer", "floppy"}).action,
              ProgramOptions::Action::Error);
    EXPECT_EQ(app::parseProgramOptions({"image.bin"}).action, ProgramOptions::Action::Error);
    EXPECT_EQ(app::parseProgramOptions({"--verbose"}).action, ProgramOptions::Action::Error);
}

TEST(ProgramOptions, QtOptionsArePassedOver) {
    auto o = app::parseProgramOptions({"-platform", "offscreen", "--writer", "sim", "-reverse"});
    EXPECT_EQ(o.action, ProgramOptions::Action::Run);
    EXPECT_EQ(o.writer.kind, WriterOption::Kind::Sim);
    EXPECT_NE(app::programHelpText("sonoprog").find("--writer sim"), std::string::npos);
}

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstEnds) {
    test::TempDir dir;
    const auto path = dir / "Sonoprog.lock";
    {
        app::InstanceLock first(path);
        EXPECT_TRUE(first.acquired());
        app::InstanceLock second(path);
        EXPECT_FALSE(second.acquired());
    }
    // A lock file left behind by an ended copy does not block the next start.
    EXPECT_TRUE(std::filesystem::exists(path));
    app::InstanceLock again(path);
    EXPECT_TRUE(again.acquired());
}

TEST(InstanceLock, LivesInTheRuntimeFolderOrAPrivateTmpFolder) {
    test::TempDir dir;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog"), dir / "Sonoprog.lock");
    unsetenv("XDG_RUNTIME_DIR");
    const auto fallback = app::InstanceLock::lockPath("Sonoprog");
    EXPECT_EQ(fallback.filename(), "Sonoprog.lock");
    EXPECT_EQ(fallback.parent_path(), "/tmp/sonoprog-" + std::to_string(::getuid()));
    EXPECT_TRUE(std::filesystem::is_directory(fallback.parent_path()));
    if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// Restores an environment variable at the end of a test.
class SavedEnv {
public:
    explicit SavedEnv(const char* name) : name_(name) {
        const char* v = std::getenv(name);
        if (v) saved_ = v;
        had_ = v != nullptr;
    }
    ~SavedEnv() {
        if (had_)
            setenv(name_, saved_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

TEST(InstanceLock, ATmpFolderNotTheUsersOwnIsPassedOverForTheCacheFolder) {
    SavedEnv runtime("XDG_RUNTIME_DIR");
    SavedEnv cacheHome("XDG_CACHE_HOME");
    unsetenv("XDG_RUNTIME_DIR");
    test::TempDir tmp;
    test::TempDir cache;
    setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    const auto ownName = "sonoprog-" + std::to_string(::getuid());
    const auto own = tmp / ownName;
    const auto inCache = cache / "sonoprog" / "Sonoprog.lock";

    // Not there yet: made private and used.
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog", tmp.path()), own / "Sonoprog.lock");
    struct stat st {};
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Opened to others: another user could take the lock file away.
    ::chmod(own.c_str(), 0777);
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog", tmp.path()), inCache);
    ASSERT_EQ(::stat((cache / "sonoprog").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Made by another user (the tests run as root or as that user's peer).
    ::chmod(own.c_str(), 0700);
    ASSERT_EQ(::chown(own.c_str(), 65534, 65534), 0);
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog", tmp.path()), inCache);
    {
        // The guard still guards: one copy in, the second refused.
        app::InstanceLock first(app::InstanceLock::lockPath("Sonoprog", tmp.path()));
        app::InstanceLock second(app::InstanceLock::lockPath("Sonoprog", tmp.path()));
        EXPECT_TRUE(first.acquired());
        EXPECT_FALSE(second.acquired());
    }
    // The foreign folder is left as it was, and nothing was made in it.
    ASSERT_EQ(::stat(own.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_TRUE(std::filesystem::is_empty(own));

    // A link under the name, even to a folder of the user's own.
    std::filesystem::remove(own);
    std::filesystem::create_directory(tmp / "elsewhere");
    std::filesystem::create_symlink(tmp / "elsewhere", own);
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog", tmp.path()), inCache);

    // No cache folder named: the one under the home folder.
    SavedEnv home("HOME");
    unsetenv("XDG_CACHE_HOME");
    setenv("HOME", cache.path().c_str(), 1);
    EXPECT_EQ(app::InstanceLock::lockPath("Sonoprog", tmp.path()),
              cache / ".cache" / "sonoprog" / "Sonoprog.lock");
}

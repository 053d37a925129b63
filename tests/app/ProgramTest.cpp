#include <gtest/gtest.h>

#include <cstdlib>

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

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <filesystem>

#include "tests/support/TempDir.h"

using namespace sonoprog;

namespace {

// Runs the built program with a private runtime folder; boxes close themselves.
struct ProgramFixture : ::testing::Test {
    QProcess* program(QStringList args) {
        auto* p = new QProcess;
        processes.emplace_back(p);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SONOPROG_BOX_TIMEOUT_MS", "200");
        p->setProcessEnvironment(env);
        p->start(SONOPROG_BIN, args);
        return p;
    }
    // True once another process holds the program's lock.
    bool lockHeld() const {
        const auto path = runtime / "Sonoprog.lock";
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        ::close(fd);
        return held;
    }
    ~ProgramFixture() override {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished(5000);
        }
    }
    test::TempDir runtime;
    std::vector<std::unique_ptr<QProcess>> processes;
};

}  // namespace

TEST_F(ProgramFixture, SecondStartReportsAndLeavesTheFirstRunning) {
    QProcess* first = program({"--writer", "sim"});
    ASSERT_TRUE(first->waitForStarted(30000));
    for (int i = 0; i < 1200 && !lockHeld(); ++i) QThread::msleep(50);
    ASSERT_TRUE(lockHeld());

    QProcess* second = program({"--writer", "sim"});
    ASSERT_TRUE(second->waitForFinished(60000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(second->readAllStandardError().contains(
        "Program Starts Failure! Program has already started!"));
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_TRUE(lockHeld());
    // Nothing is made before the guard, not even the Writer folder it names.
    const auto folder = runtime / "chips";
    QProcess* withFolder = program({"--writer", QString::fromStdString("sim:" + folder.string())});
    ASSERT_TRUE(withFolder->waitForFinished(60000));
    EXPECT_EQ(withFolder->exitCode(), 0);
    EXPECT_TRUE(withFolder->readAllStandardError().contains("Program has already started!"));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(first->state(), QProcess::Running);

    // Once the first copy is gone (even killed), the next start is not blocked.
    first->kill();
    first->waitForFinished(5000);
    EXPECT_FALSE(lockHeld());
    QProcess* third = program({"--writer", "sim"});
    ASSERT_TRUE(third->waitForStarted(30000));
    for (int i = 0; i < 1200 && !lockHeld(); ++i) QThread::msleep(50);
    EXPECT_TRUE(lockHeld());
    EXPECT_EQ(third->state(), QProcess::Running);
}

TEST_F(ProgramFixture, OptionsHelpVersionAndRefusals) {
    QProcess* help = program({"--help"});
    ASSERT_TRUE(help->waitForFinished(30000));
    EXPECT_EQ(help->exitCode(), 0);
    const QByteArray helpText = help->readAllStandardOutput();
    EXPECT_TRUE(helpText.contains("--writer sim"));
    EXPECT_TRUE(helpText.contains("--writer usb"));

    QProcess* version = program({"--version"});
    ASSERT_TRUE(version->waitForFinished(30000));
    EXPECT_EQ(version->exitCode(), 0);
    EXPECT_TRUE(version->readAllStandardOutput().startsWith("Sonoprog V"));

    // A Writer folder that cannot be made ends the program before the window.
    QProcess* dir = program({"--writer", "sim:/dev/null/chips"});
    ASSERT_TRUE(dir->waitForFinished(30000));
    EXPECT_EQ(dir->exitCode(), 1);
    EXPECT_TRUE(
        dir->readAllStandardError().contains("cannot be used as the virtual Writer's folder"));

    QProcess* bad = program({"--writer", "floppy"});
    ASSERT_TRUE(bad->waitForFinished(30000));
    EXPECT_EQ(bad->exitCode(), 2);
    EXPECT_FALSE(lockHeld());
}

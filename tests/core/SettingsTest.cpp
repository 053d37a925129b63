#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "core/IniFile.h"
#include "tests/support/TempDir.h"

using sonoprog::core::IniFile;

TEST(IniFile, NamesIgnoreCaseValuesAreTrimmedFirstKeyWins) {
    auto ini = IniFile::fromText(
        "[System]\r\nVersion =  Sonoprog V1  \r\nengmode=1\r\n[system]\r\nVersion=second\r\n"
        "[Series Flash List]\nNumber=0x2\nDevName1=W25Q80\n");
    EXPECT_EQ(ini.readString("SYSTEM", "version"), "Sonoprog V1");
    EXPECT_EQ(ini.readInteger("System", "EngMode", 0), 1);
    EXPECT_EQ(ini.readInteger("series flash list", "number", 0), 2);
    EXPECT_EQ(ini.readString("Series Flash List", "DevName0", "none"), "none");
    EXPECT_EQ(ini.readString("Series Flash List", "DevName1"), "W25Q80");
}

TEST(IniFile, MissingFileAndNonNumbersGiveDefaults) {
    auto missing = IniFile::load("/no/such/Setup.ini");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(missing.readString("System", "Version"), "");
    auto ini = IniFile::fromText("[W25Q80]\nSize=big\nMID=$EF\nDID=0x13\n");
    EXPECT_EQ(ini.readInteger("W25Q80", "Size", 0), 0);
    EXPECT_EQ(ini.readInteger("W25Q80", "MID", 0), 0);
    EXPECT_EQ(ini.readInteger("W25Q80", "MID", 0, true), 0xEF);
    EXPECT_EQ(ini.readInteger("W25Q80", "DID", 0), 0x13);
}

TEST(IniFile, GarbageNeverCrashesAndGoodLinesStillCount) {
    std::string text = "\xff\xfe garbage without equals\n[Device]\nD1=Tarn20\n";
    text += std::string(100000, 'x') + "=overlong\n";
    text.push_back('\0');
    text += "\n[Device]\nD2=Kiva300\nD1=Other\n=novalue\n[unterminated\nD3 = Series Flash\n";
    auto ini = IniFile::fromText(text);
    EXPECT_EQ(ini.readString("Device", "D1"), "Tarn20");
    EXPECT_EQ(ini.readString("Device", "D2"), "Kiva300");
}

TEST(IniFile, ReadsFromDisk) {
    sonoprog::test::TempDir dir;
    auto p = dir.write("Setup.ini", std::string("[System]\nVersion=V9\n"));
    auto ini = IniFile::load(p);
    EXPECT_TRUE(ini.loaded());
    EXPECT_EQ(ini.readString("System", "Version"), "V9");
}

// A Setup.ini that is a named pipe or a device is no settings file: start-up
// must neither wait for a writer nor read without end.
TEST(IniFile, PipesAndDevicesCountAsMissing) {
    sonoprog::test::TempDir dir;
    const auto fifo = dir / "Setup.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Something that writes settings into the pipe once a reader opens it.
    auto* previous = std::signal(SIGPIPE, SIG_IGN);
    std::atomic<bool> loaded{false};
    std::thread writer([&fifo, &loaded] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!loaded && std::chrono::steady_clock::now() < until) {
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                const char text[] = "[System]\nVersion=from the pipe\n";
                [[maybe_unused]] auto n = ::write(fd, text, sizeof text - 1);
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto piped = IniFile::load(fifo);
    loaded = true;
    writer.join();
    std::signal(SIGPIPE, previous);
    EXPECT_FALSE(piped.loaded());
    EXPECT_EQ(piped.readString("System", "Version"), "");
    EXPECT_FALSE(IniFile::load("/dev/null").loaded());
    EXPECT_FALSE(IniFile::load(dir.path()).loaded());
}

TEST(IniFile, LinesLongerThanTheReaderTakesAreNamedWithTheirKeys) {
    const std::string longValue(500, '7');
    auto ini = IniFile::fromText("[A]\nShort=1\n  List = " + longValue + "\n" +
                                 std::string(300, 'x') + "\nAfter=2\n");
    ASSERT_EQ(ini.longLines().size(), 2u);
    EXPECT_EQ(ini.longLines()[0].line, 3);
    EXPECT_EQ(ini.longLines()[0].key, "List");
    EXPECT_EQ(ini.longLines()[1].line, 4);
    EXPECT_EQ(ini.longLines()[1].key, "");
    // The part that was read still counts, and what follows is read as before.
    const std::string kept = ini.readString("A", "List");
    EXPECT_FALSE(kept.empty());
    EXPECT_EQ(kept, std::string(kept.size(), '7'));
    EXPECT_LT(kept.size(), longValue.size());
    EXPECT_EQ(ini.readInteger("A", "After", 0), 2);
    EXPECT_EQ(
        ini.lineWarnings().at(0).rfind("(settings text): line 3 (key List) is longer than the ", 0),
        0u);

    sonoprog::test::TempDir dir;
    auto file = dir.write("Setup.ini", "[A]\nKey=" + longValue + "\n");
    auto fromDisk = IniFile::load(file);
    ASSERT_EQ(fromDisk.lineWarnings().size(), 1u);
    EXPECT_EQ(fromDisk.lineWarnings()[0].rfind(file.string() + ": line 2 (key Key)", 0), 0u);
    EXPECT_TRUE(IniFile::fromText("[A]\nKey=" + std::string(150, '1') + "\n").longLines().empty());
}

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <string>

#include "app/StartupConfig.h"
#include "core/IniFile.h"
#include "serialflash/SerialFlashDevices.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using app::StartupMode;
using app::TabVisibility;
using core::IniFile;
using Names = std::vector<std::string>;

namespace {
app::StartupConfig configOf(const std::string& text) {
    return app::readStartupConfig(IniFile::fromText(text));
}
}  // namespace

TEST(StartupConfig, MissingFileIsTheBrokenMode) {
    auto config = app::readStartupConfig(IniFile::load("/no/such/folder/Setup.ini"));
    EXPECT_EQ(config.mode, StartupMode::Broken);
    EXPECT_TRUE(config.reportBroken);
    EXPECT_EQ(config.versionText, "Unknow");
    EXPECT_TRUE(config.devices.empty());
    EXPECT_FALSE(config.deviceSelectorEnabled);
    EXPECT_EQ(config.tabs, TabVisibility{});
    EXPECT_EQ(config.supportedDevices, "");
    EXPECT_FALSE(config.selectInformationPage);
}

TEST(StartupConfig, EmptyVersionIsBrokenEvenWithDevicesAndEngMode) {
    auto config = configOf("[System]\nVersion=   \nEngMode=1\n[Device]\nD1=Tarn20\n");
    EXPECT_EQ(config.mode, StartupMode::Broken);
    EXPECT_EQ(config.versionText, "Unknow");
    EXPECT_TRUE(config.devices.empty());
    EXPECT_FALSE(config.engineeringPanel);
}

TEST(StartupConfig, EngineeringModeShowsEverythingAndReadsNoLists) {
    auto config = configOf(
        "[System]\nVersion=V2\nEngMode=1\n[Device]\nD1=Tarn20\nD3=Series Flash\n"
        "[Series Flash List]\nNumber=1\nDevName1=W25Q80\n");
    EXPECT_EQ(config.mode, StartupMode::Engineering);
    EXPECT_FALSE(config.reportBroken);
    EXPECT_EQ(config.versionText, "V2");
    EXPECT_TRUE(config.devices.empty());
    EXPECT_TRUE(config.serialFlashDevices.empty());
    EXPECT_FALSE(config.deviceSelectorEnabled);
    EXPECT_TRUE(config.engineeringPanel);
    EXPECT_EQ(config.tabs, (TabVisibility{true, true, true, true}));
    EXPECT_FALSE(config.selectInformationPage);
    EXPECT_EQ(config.supportedDevices, "");
}

TEST(StartupConfig, EngModeIsAnInteger) {
    EXPECT_EQ(configOf("[System]\nVersion=V\nEngMode=0x10\n").mode, StartupMode::Engineering);
    EXPECT_EQ(configOf("[System]\nVersion=V\nEngMode=-1\n").mode, StartupMode::Engineering);
    EXPECT_EQ(configOf("[System]\nVersion=V\nEngMode=0\n").mode, StartupMode::Normal);
    EXPECT_EQ(configOf("[System]\nVersion=V\nEngMode=yes\n").mode, StartupMode::Normal);
    EXPECT_EQ(configOf("[System]\nVersion=V\n").mode, StartupMode::Normal);
}

TEST(StartupConfig, NormalModeListsDevicesInOrderAndFollowsTheFirst) {
    auto config = configOf(
        "[System]\nVersion=Sonoprog V1\n[Device]\nD3=Series Flash\nD1=Tarn20\nD2=Kiva300\n"
        "[Series Flash List]\nNumber=2\nDevName1=W25Q80\nDevName2=W25Q16\n");
    EXPECT_EQ(config.mode, StartupMode::Normal);
    EXPECT_EQ(config.devices, (Names{"Tarn20", "Kiva300", "Series Flash"}));
    EXPECT_EQ(config.supportedDevices, "Tarn20 / Kiva300 / Series Flash");
    // DevName0 is read and, having no value, skipped.
    EXPECT_EQ(config.serialFlashDevices, (Names{"W25Q80", "W25Q16"}));
    EXPECT_TRUE(config.deviceSelectorEnabled);
    EXPECT_FALSE(config.engineeringPanel);
    EXPECT_TRUE(config.selectInformationPage);
    EXPECT_EQ(config.tabs, (TabVisibility{false, true, false, true}));
}

TEST(StartupConfig, EmptyDeviceEntriesAreSkipped) {
    auto config = configOf("[System]\nVersion=V\n[Device]\nD1=\nD2=Kiva300\nD3=Series Flash\n");
    EXPECT_EQ(config.devices, (Names{"Kiva300", "Series Flash"}));
    EXPECT_EQ(config.supportedDevices, "Kiva300 / Series Flash");
    EXPECT_EQ(config.tabs, (TabVisibility{true, false, false, false}));
    auto none = configOf("[System]\nVersion=V\n");
    EXPECT_TRUE(none.devices.empty());
    EXPECT_EQ(none.tabs, TabVisibility{});
    EXPECT_EQ(none.supportedDevices, "");
}

TEST(StartupConfig, EmptyD3LeavesTheSerialFlashListUnread) {
    auto config = configOf(
        "[System]\nVersion=V\n[Device]\nD1=Tarn20\nD2=Kiva300\nD3=\n"
        "[Series Flash List]\nNumber=2\nDevName1=W25Q80\nDevName2=W25Q16\n");
    EXPECT_EQ(config.devices, (Names{"Tarn20", "Kiva300"}));
    EXPECT_TRUE(config.serialFlashDevices.empty());
}

TEST(StartupConfig, TheWindowListsTheSerialFlashDevicesTheCommandLineKnows) {
    const std::string text =
        "[System]\nVersion=V\n[Device]\nD3=Series Flash\n[Series Flash List]\n"
        "Number=70000\nDevName1=W25Q80\nDevName70000=FAR\nDevName70001=BEYOND\n";
    const Names window = configOf(text).serialFlashDevices;
    EXPECT_EQ(window, (Names{"W25Q80", "FAR"}));
    EXPECT_EQ(window, sonoprog::serialflash::listDeviceNames(IniFile::fromText(text)));
}

TEST(StartupConfig, SerialFlashIndicesRunFromZeroToNumber) {
    const std::string head =
        "[System]\nVersion=V\n[Device]\nD3=Series Flash\n[Series Flash List]\n";
    EXPECT_EQ(configOf(head + "Number=2\nDevName0=A\nDevName1=B\nDevName2=C\nDevName3=D\n")
                  .serialFlashDevices,
              (Names{"A", "B", "C"}));
    // Gaps are skipped, index order wins over file order, only the exact decimal key counts.
    EXPECT_EQ(configOf(head + "Number=0x0C\nDevName12=L\nDevName2=B\nDevName02=X\ndevname5=E\n"
                              "DevName7=\nDevName+3=Y\n")
                  .serialFlashDevices,
              (Names{"B", "E", "L"}));
    EXPECT_TRUE(configOf(head + "DevName0=A\nDevName1=B\n").serialFlashDevices ==
                (Names{"A"}));  // no Number: 0, so index 0 only
    EXPECT_TRUE(configOf(head + "Number=-3\nDevName0=A\n").serialFlashDevices.empty());
    EXPECT_TRUE(configOf(head + "Number=many\nDevName1=A\n").serialFlashDevices.empty());
}

TEST(StartupConfig, HugeNumberDoesNotHang) {
    const auto start = std::chrono::steady_clock::now();
    auto config = configOf(
        "[System]\nVersion=V\n[Device]\nD3=Series Flash\n[Series Flash List]\n"
        "Number=0x7FFFFFFFFFFFFFFF\nDevName1=A\nDevName999999999999=B\n");
    EXPECT_EQ(config.serialFlashDevices, (Names{"A", "B"}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(StartupConfig, DeviceNamesSwitchTabsOnlyWhenExact) {
    EXPECT_EQ(app::tabsForDevice("Kiva300"), (TabVisibility{true, false, false, false}));
    EXPECT_EQ(app::tabsForDevice("Tarn20"), (TabVisibility{false, true, false, true}));
    EXPECT_EQ(app::tabsForDevice("Series Flash"), (TabVisibility{false, false, true, true}));
    EXPECT_EQ(app::tabsForDevice("tarn20"), TabVisibility{});
    EXPECT_EQ(app::tabsForDevice("TARN20"), TabVisibility{});
    EXPECT_EQ(app::tabsForDevice("Tarn20 "), TabVisibility{});
    EXPECT_EQ(app::tabsForDevice(""), TabVisibility{});
    auto config = configOf("[System]\nVersion=V\n[Device]\nD1=tarn20\nD2=Tarn20\n");
    EXPECT_EQ(config.devices, (Names{"tarn20", "Tarn20"}));
    EXPECT_EQ(config.tabs, TabVisibility{});
}

TEST(StartupConfig, BadFilesTakeDefaultsWithoutCrashing) {
    sonoprog::test::TempDir dir;
    std::mt19937 random(7);
    std::vector<std::uint8_t> garbage(3 * 1024 * 1024);
    for (auto& b : garbage) b = static_cast<std::uint8_t>(random());
    auto config = app::readStartupConfig(IniFile::load(dir.write("Setup.ini", garbage)));
    EXPECT_EQ(config.mode, StartupMode::Broken);

    std::string mixed =
        "\xEF\xBB\xBF[System]\nVersion=V\xC3\x28\xFF\n[Device]\nno equals here\n"
        "D1=Tarn20\nD1=Kiva300\n[Device]\nD2=Kiva300\n" +
        std::string(50000, '=') + "\n[Device\nD3=Series Flash\n";
    config = configOf(mixed);
    EXPECT_EQ(config.mode, StartupMode::Normal);
    EXPECT_EQ(config.versionText, "V\xC3\x28\xFF");
    EXPECT_EQ(config.devices.front(), "Tarn20");  // the first of duplicate keys wins
    EXPECT_EQ(config.devices.at(1), "Kiva300");
}

TEST(StartupConfig, IndentedLinesAreKeysNotContinuations) {
    auto config = configOf("[System]\n  Version = V3\n[Device]\nD1=Tarn20\n\tD2=Kiva300\n");
    EXPECT_EQ(config.versionText, "V3");
    EXPECT_EQ(config.devices, (Names{"Tarn20", "Kiva300"}));
}

// The Setup.ini shipped beside the program: every listed serial flash device
// has its section, a size within the 24-bit address range and ids whose low
// bytes are not 0, and no name is listed twice.
TEST(ShippedSetup, DeviceTableIsComplete) {
    auto setup = IniFile::load(SONOPROG_SETUP_INI);
    ASSERT_TRUE(setup.loaded());
    auto config = app::readStartupConfig(setup);
    EXPECT_EQ(config.mode, StartupMode::Normal);
    EXPECT_FALSE(config.versionText.empty());
    EXPECT_EQ(config.devices, (Names{"Tarn20", "Kiva300", "Series Flash"}));
    ASSERT_GE(config.serialFlashDevices.size(), 10u);
    std::set<std::string> seen;
    std::set<std::pair<std::int64_t, std::int64_t>> ids;
    for (const auto& name : config.serialFlashDevices) {
        SCOPED_TRACE(name);
        std::string lower;
        for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(seen.insert(lower).second) << "listed twice";
        EXPECT_TRUE(setup.hasSection(name));
        const auto size = setup.readInteger(name, "Size", 0, true);
        const auto mid = setup.readInteger(name, "MID", 0, true);
        const auto did = setup.readInteger(name, "DID", 0, true);
        EXPECT_GT(size, 0);
        EXPECT_LE(size, 16777216);
        EXPECT_EQ(size & (size - 1), 0) << "not a power of two";
        EXPECT_NE(mid & 0xFF, 0);
        EXPECT_NE(did & 0xFF, 0);
        EXPECT_TRUE(ids.emplace(mid & 0xFF, did & 0xFF).second) << "ids shared with another entry";
    }
}

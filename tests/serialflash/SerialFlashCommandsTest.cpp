#include <gtest/gtest.h>

#include <set>

#include "core/IniFile.h"
#include "serialflash/SerialFlashCommands.h"
#include "serialflash/SerialFlashDevices.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;
using serialflash::SerialFlashCommands;
using serialflash::SerialFlashDevice;

namespace {

core::IniFile table() {
    return core::IniFile::fromText(test::kSerialFlashSetup);
}

}  // namespace

TEST(SerialFlashDeviceTable, ReadsSizeAndIdsInEveryNumberForm) {
    auto ini = table();
    SerialFlashDevice w = serialflash::readDevice(ini, "W25Q80");
    EXPECT_EQ(w.size, 1048576);
    EXPECT_EQ(w.midByte(), 0xEF);  // "0x"
    EXPECT_EQ(w.didByte(), 0x13);  // "$"
    EXPECT_TRUE(w.idsConfigured());
    EXPECT_EQ(serialflash::readDevice(ini, "Wide").size, 256);  // "0X"
    // Section names match without regard to case, as the desktop reader does.
    EXPECT_EQ(serialflash::readDevice(ini, "w25q80").size, 1048576);
}

TEST(SerialFlashDeviceTable, OnlyTheLowByteOfAnIdCounts) {
    auto ini = table();
    SerialFlashDevice wide = serialflash::readDevice(ini, "Wide");
    EXPECT_EQ(wide.mid, 0x1EF);
    EXPECT_EQ(wide.midByte(), 0xEF);
    EXPECT_TRUE(wide.idsConfigured());
    SerialFlashDevice hundred = serialflash::readDevice(ini, "Hundred");
    EXPECT_EQ(hundred.didByte(), 0x00);  // 0x100
    EXPECT_FALSE(hundred.idsConfigured());
}

TEST(SerialFlashDeviceTable, MissingSectionsTextAndEmptyNamesReadAsZero) {
    auto ini = core::IniFile::fromText(
        "Size=5\nMID=1\nDID=1\n[Texty]\nSize=big\nMID=0xZZ\nDID=\n[NoSize]\nMID=0xEF\n");
    for (const char* name : {"Absent", "Texty", ""}) {
        SerialFlashDevice d = serialflash::readDevice(ini, name);
        EXPECT_EQ(d.size, 0) << name;
        EXPECT_EQ(d.mid, 0) << name;
        EXPECT_EQ(d.did, 0) << name;
        EXPECT_FALSE(d.idsConfigured()) << name;
    }
    EXPECT_EQ(serialflash::readDevice(ini, "NoSize").size, 0);
}

TEST(SerialFlashDeviceTable, LookupReadsSetupIniAnewEachTime) {
    test::SerialFlashWriter bench;
    EXPECT_EQ(serialflash::lookupDevice(bench.paths, "W25Q80").size, 1048576);
    bench.dir.write("Setup.ini", std::string("[W25Q80]\nSize=2048\nMID=1\nDID=2\n"));
    SerialFlashDevice d = serialflash::lookupDevice(bench.paths, "W25Q80");
    EXPECT_EQ(d.size, 2048);
    EXPECT_EQ(d.midByte(), 1);
    std::filesystem::remove(bench.paths.setupIni());
    EXPECT_EQ(serialflash::lookupDevice(bench.paths, "W25Q80").size, 0);
}

TEST(SerialFlashDeviceTable, ListsNamesFromIndexZeroToNumberSkippingGaps) {
    auto ini = core::IniFile::fromText(
        "[Series Flash List]\nNumber=2\nDevName1=A\nDevName2=B\nDevName3=Beyond\n");
    EXPECT_EQ(serialflash::listDeviceNames(ini), (std::vector<std::string>{"A", "B"}));
    auto fromZero = core::IniFile::fromText(
        "[Series Flash List]\nNumber=0x3\nDevName0=Z\nDevName2=\nDevName3=C\n");
    EXPECT_EQ(serialflash::listDeviceNames(fromZero), (std::vector<std::string>{"Z", "C"}));
    EXPECT_TRUE(serialflash::listDeviceNames(core::IniFile::fromText("")).empty());
    auto negative = core::IniFile::fromText("[Series Flash List]\nNumber=-4\nDevName0=A\n");
    EXPECT_TRUE(serialflash::listDeviceNames(negative).empty());
}

TEST(SerialFlashDeviceTable, ListsDevicesWithTheirSectionsInListOrder) {
    auto devices = serialflash::listDevices(table());
    ASSERT_EQ(devices.size(), 4u);  // "Huge" is beyond the Writer's addresses
    EXPECT_EQ(devices[0].name, "W25Q80");
    EXPECT_EQ(devices[0].size, 1048576);
    EXPECT_EQ(devices[1].name, "NoSize");
    EXPECT_EQ(devices[1].size, 0);
    EXPECT_EQ(devices[2].name, "Wide");
    EXPECT_EQ(devices[2].midByte(), 0xEF);
    EXPECT_EQ(devices[3].name, "Hundred");
}

// A Size the 24-bit addresses cannot reach refuses the device as it is read:
// it reads as a missing section, and the list leaves it out.
TEST(SerialFlashDeviceTable, DevicesBeyondTheWritersAddressesAreRefusedAsTheyAreRead) {
    const struct {
        const char* size;
        std::int64_t shown;
        std::int64_t refused;
    } sizes[] = {
        {"16777216", 16777216, 0},
        {"0x1000001", 0, 16777217},
        {"33554432", 0, 33554432},
        {"4294967296", 0, 4294967296},
    };
    for (const auto& row : sizes) {
        const auto ini = core::IniFile::fromText(
            std::string(
                "[Series Flash List]\nNumber=2\nDevName1=Dev\nDevName2=Small\n[Dev]\nSize=") +
            row.size + "\nMID=0xEF\nDID=0x13\n[Small]\nSize=4096\nMID=0xEF\nDID=0x13\n");
        const SerialFlashDevice d = serialflash::readDevice(ini, "Dev");
        EXPECT_EQ(d.size, row.shown) << row.size;
        EXPECT_EQ(d.refusedSize, row.refused) << row.size;
        EXPECT_EQ(d.idsConfigured(), row.refused == 0) << row.size;
        const auto names = serialflash::listDeviceNames(ini);
        const auto refused = serialflash::refusedDevices(ini);
        if (row.refused == 0) {
            EXPECT_EQ(names, (std::vector<std::string>{"Dev", "Small"}));
            EXPECT_TRUE(refused.empty());
        } else {
            EXPECT_EQ(names, (std::vector<std::string>{"Small"})) << row.size;
            ASSERT_EQ(refused.size(), 1u) << row.size;
            EXPECT_EQ(serialflash::refusalText(refused[0]),
                      "serial flash device \"Dev\" is left out: its Size " +
                          std::to_string(row.refused) +
                          " is beyond the 16777216 bytes the Writer can address");
        }
    }
}

TEST(SerialFlashDeviceTable, ShippedTableIsComplete) {
    auto ini = core::IniFile::load(SONOPROG_DEFAULT_SETUP);
    ASSERT_TRUE(ini.loaded());
    auto devices = serialflash::listDevices(ini);
    ASSERT_FALSE(devices.empty());
    std::set<std::string> seen;
    for (const auto& d : devices) {
        EXPECT_TRUE(ini.hasSection(d.name)) << d.name;
        EXPECT_GT(d.size, 0) << d.name;
        EXPECT_LE(d.size, 1 << 24) << d.name;
        EXPECT_TRUE(d.idsConfigured()) << d.name;
        EXPECT_TRUE(seen.insert(d.name).second) << d.name << " listed twice";
    }
}

TEST(SerialFlashStatuses, EachCommandHasItsOwnMessages) {
    EXPECT_EQ(serialflash::detectStatusMessage(1), "Speed failed!");
    EXPECT_EQ(serialflash::detectStatusMessage(2), "Manufacturer's ID failed!");
    EXPECT_EQ(serialflash::detectStatusMessage(3), "Device ID failed!");
    EXPECT_EQ(serialflash::detectStatusMessage(0x10), "Failed!");
    EXPECT_EQ(serialflash::eraseStatusMessage(0x10), "Can not remove momory protect!");
    EXPECT_EQ(serialflash::eraseStatusMessage(0x20), "Can not write memory!");
    EXPECT_EQ(serialflash::eraseStatusMessage(0x21), "Can not start to erase memory!");
    EXPECT_EQ(serialflash::eraseStatusMessage(0x22), "Can not end of erase memory!");
    EXPECT_EQ(serialflash::eraseStatusMessage(0x11), "Failed!");
    EXPECT_EQ(serialflash::writeStatusMessage(0x10), "Can not write memory!");
    EXPECT_EQ(serialflash::writeStatusMessage(0x11), "Can not start to write memory!");
    EXPECT_EQ(serialflash::writeStatusMessage(0x12), "Can not end of write memory!");
    EXPECT_EQ(serialflash::writeStatusMessage(0x03), "Failed!");
}

TEST(SerialFlashCommandSet, OnePacketCarriesTheOperationFromDetectToDisable) {
    test::SerialFlashWriter bench;
    SerialFlashCommands commands(bench.link);
    const core::CommandResult detected = commands.detect(0xEF, 0x13);
    EXPECT_TRUE(detected.ok());
    EXPECT_TRUE(detected.message().empty());
    const core::CommandResult erased = commands.erase();
    EXPECT_TRUE(erased.ok());
    EXPECT_TRUE(erased.message().empty());
    commands.blockData()[0] = 0x5A;
    const core::CommandResult written = commands.writeBlock(0x123456 % (1u << 20), 1);
    EXPECT_TRUE(written.ok());
    EXPECT_TRUE(written.message().empty());
    ASSERT_TRUE(commands.readBlock(0x23456, 48).ok());
    const std::uint8_t* data = commands.readData();
    EXPECT_EQ(data[0], 0x5A);
    EXPECT_EQ(data[1], 0xFF);
    EXPECT_TRUE(commands.disable().ok());

    auto sent = bench.commands();
    ASSERT_EQ(sent.size(), 5u);
    core::Packet detect{};
    detect[0] = 0x30, detect[2] = 0x10, detect[3] = 0xEF, detect[4] = 0x13;
    EXPECT_EQ(sent[0], detect);
    core::Packet erase = detect;  // still holds the detect bytes
    erase[0] = 0x31;
    EXPECT_EQ(sent[1], erase);
    EXPECT_EQ(sent[2][0], 0x32);
    EXPECT_EQ(core::get24(sent[2], 2), 0x23456u);
    EXPECT_EQ(sent[2][5], 1);
    EXPECT_EQ(sent[2][16], 0x5A);
    EXPECT_EQ(sent[3][0], 0x33);
    EXPECT_EQ(sent[3][5], 48);
    EXPECT_EQ(sent[4][0], 0x3F);
    EXPECT_TRUE(bench.writer.protocolErrors().empty());
}

TEST(SerialFlashCommandSet, FailuresComeBackAsTheTextToLog) {
    test::SerialFlashWriter bench;
    SerialFlashCommands commands(bench.link);
    // A refusing chip is a chip failure with its status, never a transfer failure.
    const auto chipFailure = [](const core::CommandResult& r, std::string_view text,
                                std::uint8_t status) {
        EXPECT_TRUE(r.chipFailed()) << text;
        EXPECT_FALSE(r.transferFailed()) << text;
        EXPECT_EQ(r.message(), text);
        EXPECT_EQ(r.status(), status) << text;
    };
    chipFailure(commands.detect(0xEF, 0x14), "Device ID failed!", 0x03);
    chipFailure(commands.detect(0xC2, 0x13), "Manufacturer's ID failed!", 0x02);
    const core::CommandResult detected = commands.detect(0xEF, 0x13);
    ASSERT_TRUE(detected.ok());
    ASSERT_TRUE(detected.message().empty());
    bench.chip->statuses().failNth(0x31, 1, 0x21);
    chipFailure(commands.erase(), "Can not start to erase memory!", 0x21);
    bench.chip->statuses().failAll(0x32, 0x12);
    chipFailure(commands.writeBlock(0, 48), "Can not end of write memory!", 0x12);
    bench.writer.failFrom(bench.writer.transferCount() + 1);
    // A dead Writer is a transfer failure for every command, whatever it examines.
    for (const core::CommandResult& r :
         {commands.writeBlock(0, 48), commands.readBlock(0, 48), commands.disable()}) {
        EXPECT_TRUE(r.transferFailed());
        EXPECT_FALSE(r.chipFailed());
        EXPECT_EQ(r.message(), "USB failed!");
    }
    ASSERT_EQ(bench.prompter.boxes.size(), 3u);
    EXPECT_EQ(bench.prompter.boxes[0].caption, "ERROR");
}

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <functional>

#include "core/YieldHook.h"
#include "gui/ControlLock.h"
#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "serialflash/SerialFlashPage.h"
#include "tests/support/SerialFlashFixture.h"

using namespace sonoprog;

namespace {

// A yield hook that looks at the window from inside the operation's loop.
class Probe final : public core::YieldHook {
public:
    void yield() override {
        ++count;
        if (onYield) onYield();
    }
    std::function<void()> onYield;
    int count = 0;
};

const char* const kLockedNames[] = {"BT_NOR_LoadFile", "BT_NOR_Blank", "BT_NOR_Write",
                                    "BT_NOR_Verify", "CB_NOR_Device"};

struct SerialFlashTabFixture : ::testing::Test {
    test::SerialFlashWriter bench;
    QComboBox deviceSel;
    QTabWidget pcMain;
    Probe yield;
    test::ScriptedFileChooser files;
    test::FixedClock clock;
    gui::TabEnvironment env{&deviceSel, &pcMain, bench.prompter, files,
                            yield,      clock,   bench.link,     bench.paths};
    serialflash::SerialFlashPage tab{env};

    SerialFlashTabFixture() {
        for (const char* name : {"W25Q80", "NoSize", "Wide", "Hundred"})
            tab.addDevice(QString::fromLatin1(name));
        tab.selectFirstDevice();
    }

    template <typename T>
    T* child(const char* name) {
        return tab.findChild<T*>(QString::fromLatin1(name));
    }
    QString field(const char* name) { return child<QLineEdit>(name)->text(); }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }

    // Enabled state of the seven controls the lock switches.
    std::vector<bool> lockedControlsEnabled() {
        std::vector<bool> states;
        for (const char* name : kLockedNames) states.push_back(child<QWidget>(name)->isEnabled());
        states.push_back(deviceSel.isEnabled());
        states.push_back(!gui::ControlLock::isLocked(pcMain));
        return states;
    }

    // The operator picks entry `index` from the list.
    void pick(int index) {
        tab.deviceList()->setCurrentIndex(index);
        Q_EMIT tab.deviceList()->activated(index);
    }
};

}  // namespace

TEST_F(SerialFlashTabFixture, ControlsCarryTheirNamesAndFitThePage) {
    for (const char* name :
         {"ED_NOR_MemSize", "ED_NOR_LoadFile", "ED_NOR_FileSize", "ED_NOR_ChkSum"}) {
        ASSERT_NE(child<QLineEdit>(name), nullptr) << name;
        EXPECT_TRUE(child<QLineEdit>(name)->isReadOnly()) << name;
        EXPECT_EQ(child<QLineEdit>(name)->focusPolicy(), Qt::NoFocus) << name;
    }
    EXPECT_EQ(child<QComboBox>("CB_NOR_Device"), tab.deviceList());
    EXPECT_FALSE(tab.deviceList()->isEditable());
    EXPECT_EQ(button("BT_NOR_LoadFile")->text(), "Load File");
    EXPECT_EQ(button("BT_NOR_Blank")->text(), "Blank Check");
    EXPECT_EQ(button("BT_NOR_Write")->text(), "Write");
    EXPECT_EQ(button("BT_NOR_Verify")->text(), "Verify");
    EXPECT_NE(child<gui::LogPane>("RE_NOR_State"), nullptr);
    EXPECT_NE(child<gui::Gauge>("CG_NOR_Progress"), nullptr);
    EXPECT_LE(tab.minimumSizeHint().width(), 771);
    EXPECT_LE(tab.minimumSizeHint().height(), 530);
}

// Start-up looks the device it shows up, without the box of a pick: Memory
// Size is there and Blank Check runs on that device at once.
TEST_F(SerialFlashTabFixture, StartUpLooksTheShownDeviceUpWithoutABox) {
    EXPECT_EQ(tab.deviceList()->currentText(), "W25Q80");
    EXPECT_EQ(tab.deviceList()->count(), 4);
    EXPECT_EQ(field("ED_NOR_MemSize"), "1048576");
    EXPECT_TRUE(bench.prompter.boxes.empty());
    button("BT_NOR_Blank")->click();
    EXPECT_TRUE(child<gui::LogPane>("RE_NOR_State")->lineTexts().contains("    [O] Passed!"));
    tab.deviceList()->setCurrentIndex(1);  // other selections made in code stay silent
    EXPECT_EQ(field("ED_NOR_MemSize"), "1048576");

    serialflash::SerialFlashPage noSize{env};
    noSize.addDevice(QStringLiteral("NoSize"));
    noSize.selectFirstDevice();
    EXPECT_EQ(noSize.findChild<QLineEdit*>(QStringLiteral("ED_NOR_MemSize"))->text(), "0");
    EXPECT_TRUE(bench.prompter.boxes.empty());
}

TEST_F(SerialFlashTabFixture, OperatorsPickRunsTheLookupEvenForTheShownEntry) {
    Q_EMIT tab.deviceList()->activated(0);
    EXPECT_EQ(field("ED_NOR_MemSize"), "1048576");
    EXPECT_TRUE(bench.prompter.boxes.empty());
    QTest::keyClick(tab.deviceList(), Qt::Key_Down);  // to "NoSize"
    EXPECT_EQ(tab.deviceList()->currentText(), "NoSize");
    EXPECT_EQ(field("ED_NOR_MemSize"), "0");
    ASSERT_EQ(bench.prompter.boxes.size(), 1u);
    EXPECT_EQ(bench.prompter.boxes[0].text, "Failed to get device infomation!");
    EXPECT_TRUE(child<gui::LogPane>("RE_NOR_State")->lineTexts().isEmpty());
}

TEST_F(SerialFlashTabFixture, OperationLocksTheSevenControlsAndUnlocksThem) {
    pick(2);  // "Wide", 256 bytes
    std::vector<std::vector<bool>> during;
    yield.onYield = [&] { during.push_back(lockedControlsEnabled()); };
    QTest::mouseClick(button("BT_NOR_Blank"), Qt::LeftButton);
    ASSERT_EQ(during.size(), 6u);
    for (const auto& states : during) EXPECT_EQ(states, std::vector<bool>(7, false));
    EXPECT_EQ(lockedControlsEnabled(), std::vector<bool>(7, true));
    auto lines = child<gui::LogPane>("RE_NOR_State")->lineTexts();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.front(), "[ BLANK CHECK ]");
    EXPECT_TRUE(lines.contains("    [O] Passed!"));
    EXPECT_EQ(lines.back(), "  -> Done!");
    EXPECT_EQ(child<gui::Gauge>("CG_NOR_Progress")->progress(), 94);  // 240 * 100 / 256 + 1
}

TEST_F(SerialFlashTabFixture, FailedOperationsUnlockToo) {
    pick(0);
    std::uint8_t programmed = 0x00;
    bench.chip->memory().write(0, &programmed, 1);
    std::vector<std::vector<bool>> during;
    yield.onYield = [&] { during.push_back(lockedControlsEnabled()); };
    button("BT_NOR_Blank")->click();
    ASSERT_EQ(during.size(), 1u);
    EXPECT_EQ(during[0], std::vector<bool>(7, false));
    EXPECT_EQ(lockedControlsEnabled(), std::vector<bool>(7, true));
    EXPECT_TRUE(
        child<gui::LogPane>("RE_NOR_State")->lineTexts().contains("    [X] Chip is not blank!"));

    pick(3);  // ids not configured: fails before any loop
    button("BT_NOR_Verify")->click();
    EXPECT_EQ(lockedControlsEnabled(), std::vector<bool>(7, true));
    EXPECT_TRUE(child<gui::LogPane>("RE_NOR_State")
                    ->lineTexts()
                    .contains("    [X] Failed to get device infomation!"));
}

TEST_F(SerialFlashTabFixture, LoadAndWriteThroughThePage) {
    std::vector<std::uint8_t> file{0x61, 0x62, 0x63};
    auto path = bench.dir.write("abc.bin", file);
    files.openAnswers.push_back(path.string());
    button("BT_NOR_LoadFile")->click();
    EXPECT_EQ(field("ED_NOR_LoadFile"), QString::fromStdString(path.string()));
    EXPECT_EQ(field("ED_NOR_FileSize"), "3");
    EXPECT_EQ(field("ED_NOR_ChkSum"), "00000126");
    pick(0);
    button("BT_NOR_Write")->click();
    EXPECT_EQ(bench.chipBytes(0, 4), (std::vector<std::uint8_t>{0x61, 0x62, 0x63, 0xFF}));
    EXPECT_EQ(child<gui::Gauge>("CG_NOR_Progress")->progress(), 100);
    EXPECT_EQ(field("ED_NOR_MemSize"), "1048576");  // operations leave the size alone
    EXPECT_EQ(lockedControlsEnabled(), std::vector<bool>(7, true));

    // An image larger than the device is refused before the chip is touched.
    files.openAnswers.push_back(
        bench.dir.write("wide.bin", std::vector<std::uint8_t>(257, 0)).string());
    button("BT_NOR_LoadFile")->click();
    pick(2);  // "Wide", 256 bytes
    bench.writer.clearLog();
    button("BT_NOR_Write")->click();
    EXPECT_TRUE(child<gui::LogPane>("RE_NOR_State")
                    ->lineTexts()
                    .contains("    [X] Wronging range of file size!"));
    EXPECT_EQ(bench.codes(), (std::vector<std::uint8_t>{0x3F}));
    EXPECT_EQ(bench.chipBytes(0, 4), (std::vector<std::uint8_t>{0x61, 0x62, 0x63, 0xFF}));
}

#include <gtest/gtest.h>

#include <QImage>
#include <QScrollBar>
#include <QTextBlock>

#include "core/OperationFrame.h"
#include "core/OperationLog.h"
#include "gui/Gauge.h"
#include "gui/LogPane.h"
#include "link/usb/UsbEventPump.h"
#include "tests/support/Fakes.h"

using namespace sonoprog;

namespace {

struct Shown {
    QString text;
    QColor colour;
    bool bold;
};

// Text, colour and weight of each line as the pane holds them.
std::vector<Shown> shownLines(const gui::LogPane& pane) {
    std::vector<Shown> out;
    const QStringList texts = pane.lineTexts();
    QTextBlock block = pane.document()->begin();
    for (const QString& text : texts) {
        QTextCharFormat format;
        for (auto it = block.begin(); !it.atEnd(); ++it) format = it.fragment().charFormat();
        out.push_back({text, format.foreground().color(), format.fontWeight() >= QFont::Bold});
        block = block.next();
    }
    return out;
}

struct PaneFixture : ::testing::Test {
    gui::LogPane pane;
    gui::Gauge gauge;
    gui::PaneAdapter adapter{pane, gauge};
    core::OperationLog log{adapter};
    test::RecordingLock lock;
    test::FixedClock clock;
};

}  // namespace

TEST_F(PaneFixture, LinesKeepTheirColourAndWeight) {
    EXPECT_EQ(pane.font().family(), "Tahoma");
    EXPECT_EQ(pane.font().pixelSize(), 13);
    EXPECT_TRUE(pane.isReadOnly());
    const QColor text = pane.palette().color(QPalette::Text);
    {
        core::OperationFrame frame(log, lock, clock, "[ WRITE ]", core::TimeLines::Yes);
        frame.step("  -> Chip detect...");
        frame.fail("USB failed!");
        frame.step("  -> Disable chip...");
        frame.warn("Cancel!");
        frame.pass("Device: Tarn20");
        frame.step("  -> Done!");
    }
    auto lines = shownLines(pane);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0].text, "[ WRITE ]");
    EXPECT_TRUE(lines[0].bold);
    EXPECT_EQ(lines[0].colour, text);
    EXPECT_EQ(lines[1].text, "Start: 04:50:07");
    EXPECT_EQ(lines[1].colour, QColor(0, 128, 0));
    EXPECT_FALSE(lines[1].bold);
    EXPECT_EQ(lines[3].text, "    [X] USB failed!");
    EXPECT_EQ(lines[3].colour, QColor(255, 0, 0));
    // A plain line right after a fail line is in the default colour again.
    EXPECT_EQ(lines[4].text, "  -> Disable chip...");
    EXPECT_EQ(lines[4].colour, text);
    EXPECT_FALSE(lines[4].bold);
    EXPECT_EQ(lines[5].text, "    [!] Cancel!");
    EXPECT_EQ(lines[5].colour, QColor(255, 0, 0));
    EXPECT_EQ(lines[6].text, "    [O] Device: Tarn20");
    EXPECT_EQ(lines[6].colour, QColor(0, 0, 255));
    EXPECT_EQ(lines[7].text, "  -> Done!");
    EXPECT_EQ(lines[8].text, "End: 04:50:07");
    EXPECT_EQ(lines[8].colour, QColor(0, 128, 0));
    EXPECT_FALSE(lock.locked);
}

TEST_F(PaneFixture, EveryOperationStartsWithAnEmptyPane) {
    log.step("");
    log.step("  -> second");
    EXPECT_EQ(pane.lineTexts(), (QStringList{"", "  -> second"}));
    { core::OperationFrame frame(log, lock, clock, "[ VERIFY ]"); }
    EXPECT_EQ(pane.lineTexts(), (QStringList{"[ VERIFY ]"}));
    // Cleared the plain way too, the next line is the first one.
    pane.clear();
    EXPECT_TRUE(pane.lineTexts().isEmpty());
    log.step("  -> Done!");
    EXPECT_EQ(pane.lineTexts(), (QStringList{"  -> Done!"}));
}

TEST_F(PaneFixture, NewestLineStaysInView) {
    pane.resize(300, 120);
    pane.show();
    QScrollBar* bar = pane.verticalScrollBar();
    // After every single line, not only once the lines stop coming.
    for (int i = 0; i < 200; ++i) {
        log.pass("line " + std::to_string(i));
        ASSERT_EQ(bar->value(), bar->maximum()) << i;
    }
    EXPECT_GT(bar->maximum(), 0);
    // Each line is one block of its own text, and the pane keeps no undo copies.
    EXPECT_EQ(pane.document()->blockCount(), 200);
    EXPECT_EQ(pane.lineTexts().back(), "    [O] line 199");
    EXPECT_FALSE(pane.document()->isUndoAvailable());
    // Scrolled away by the operator, the next line brings the view back.
    bar->setValue(0);
    log.step("  -> Done!");
    EXPECT_GT(bar->value(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    { core::OperationFrame frame(log, lock, clock, "[ VERIFY ]"); }
    EXPECT_FALSE(pane.isUndoRedoEnabled());  // clearing the pane keeps it off
}

TEST_F(PaneFixture, GaugeClampsAndPaintsSkyBlueOnWhite) {
    log.progress(140);
    EXPECT_EQ(gauge.progress(), 100);
    log.progress(-3);
    EXPECT_EQ(gauge.progress(), 0);
    log.progress(40);
    EXPECT_EQ(gauge.progress(), 40);
    gauge.resize(200, 20);
    QImage image(gauge.size(), QImage::Format_RGB32);
    gauge.render(&image);
    EXPECT_EQ(image.pixelColor(10, 3), QColor(166, 202, 240));
    EXPECT_EQ(image.pixelColor(190, 3), QColor(Qt::white));
    // The percentage is written in the middle of the bar.
    int dark = 0;
    for (int x = 80; x < 120; ++x)
        for (int y = 2; y < 18; ++y)
            if (image.pixelColor(x, y).lightness() < 100) ++dark;
    EXPECT_GT(dark, 0);
    int darkAtEnds = 0;
    for (int y = 2; y < 18; ++y)
        if (image.pixelColor(20, y).lightness() < 100 || image.pixelColor(180, y).lightness() < 100)
            ++darkAtEnds;
    EXPECT_EQ(darkAtEnds, 0);
}

TEST(UsbEventPump, HooksIntoLibusbOrFallsBackToPolling) {
    link::usb::UsbWriterDevice device;
    link::usb::UsbEventPump pump(device);
    EXPECT_EQ(pump.usesHotplug(), device.hasHotplug());
    if (device.hasHotplug()) {
        EXPECT_GT(pump.notifierCount(), 0);
    } else {
        EXPECT_EQ(pump.notifierCount(), 0);
    }
}

TEST(LogPaneColours, DefaultLinesWrittenWhileTheTabIsLockedKeepTheWindowTextColour) {
    // A locked tab disables the page control, and with it the pane: lines
    // written then must not take the greyed colour for good.
    QWidget page;
    auto* pane = new gui::LogPane(&page);
    gui::Gauge gauge;
    gui::PaneAdapter adapter{*pane, gauge};
    core::OperationLog log{adapter};
    page.setEnabled(false);
    log.heading("[ WRITE ]");
    log.step("  -> Chip detect...");
    page.setEnabled(true);
    const QColor active = pane->palette().color(QPalette::Active, QPalette::Text);
    ASSERT_NE(active, pane->palette().color(QPalette::Disabled, QPalette::Text));
    for (const auto& line : shownLines(*pane))
        EXPECT_EQ(line.colour, active) << line.text.toStdString();
}

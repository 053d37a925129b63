#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "app/MainWindow.h"
#include "editor/EditorPage.h"
#include "gui/Application.h"
#include "production/ProductionPage.h"
#include "serialflash/SerialFlashPage.h"
#include "sim/FolderLock.h"
#include "sim/PersistentWriter.h"
#include "sim/VirtualWriter.h"
#include "tarn/TarnPage.h"
#include "tests/support/Fakes.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using app::MainWindow;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

struct WindowFixture : ::testing::Test {
    // Writes Setup.ini (unless null) beside the "program" and builds Form1.
    MainWindow& start(const char* setupIni) {
        if (setupIni) dir.write("Setup.ini", std::string(setupIni));
        paths = core::AppPaths::forFolder(dir.path());
        window = std::make_unique<MainWindow>(writer, paths, prompter);
        return *window;
    }
    QStringList visibleTabs() const {
        QStringList out;
        for (int i = 0; i < window->PC_Main->count(); ++i)
            if (window->PC_Main->isTabVisible(i)) out << window->PC_Main->tabText(i);
        return out;
    }
    QColor textColour(QWidget* w) const { return w->palette().color(QPalette::Text); }

    test::TempDir dir;
    core::AppPaths paths;
    sim::VirtualWriter writer;
    test::RecordingPrompter prompter;
    std::unique_ptr<MainWindow> window;
};

constexpr const char* kShippedLike =
    "[System]\nVersion=Sonoprog V1.0.0\nEngMode=0\n[Device]\nD1=Tarn20\nD2=Kiva300\n"
    "D3=Series Flash\n[Series Flash List]\nNumber=2\nDevName1=W25Q80\nDevName2=W25Q16\n";

}  // namespace

TEST_F(WindowFixture, LayoutOfForm1) {
    MainWindow& w = start(kShippedLike);
    EXPECT_EQ(w.objectName(), "Form1");
    EXPECT_EQ(w.windowTitle(), "Sonoprog");
    EXPECT_EQ(w.size(), QSize(787, 566));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(w.font().pixelSize(), 13);

    EXPECT_EQ(w.PC_Main->geometry(), QRect(5, 5, 775, 555));
    EXPECT_EQ(w.PC_Main->tabBar()->font().pixelSize(), 11);
    ASSERT_EQ(w.PC_Main->count(), 5);
    const QStringList captions{"Information", "Kiva300 Writer", "Tarn20 Writer",
                               "Series Flash Writer", "Sound Editor"};
    const QStringList names{"PAGE_INFO", "PAGE_Kiva_WRT", "PAGE_Tarn_WRT", "PAGE_NOR_WRT",
                            "PAGE_Sound_Editor"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.PC_Main->tabText(i), captions[i]);
        EXPECT_EQ(w.PC_Main->widget(i)->objectName(), names[i]);
    }
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    // The pages and their controls write in the window's Tahoma 13, the tab
    // buttons in Tahoma 11.
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(names[i].toStdString());
        const QFont pageFont = w.PC_Main->widget(i)->font();
        EXPECT_EQ(pageFont.family(), "Tahoma");
        EXPECT_EQ(pageFont.pixelSize(), 13);
    }
    // Every control of every page, whatever size and weight it uses, in Tahoma:
    // none falls back to the application's own face.
    for (QWidget* control : w.PC_Main->findChildren<QWidget*>()) {
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_EQ(control->font().family(), "Tahoma");
    }
    // The Tarn20 fields: captions bold 16, texts bold 13, as on the other pages.
    auto* tarnCaption = w.PAGE_Tarn_WRT->findChild<QLabel*>(QStringLiteral("LB_Tarn_LoadFile"));
    ASSERT_NE(tarnCaption, nullptr);
    EXPECT_TRUE(tarnCaption->font().bold());
    EXPECT_EQ(tarnCaption->font().pixelSize(), 16);
    EXPECT_TRUE(w.PAGE_Tarn_WRT->ED_Tarn_PageCnt->font().bold());
    EXPECT_EQ(w.PAGE_Tarn_WRT->ED_Tarn_PageCnt->font().pixelSize(), 13);
    EXPECT_EQ(w.PC_Main->tabBar()->font().pixelSize(), 11);
    const QRect firstTab = w.PC_Main->tabBar()->tabRect(0);
    // Buttons 100 wide and 25 high, 3 pixels apart.
    EXPECT_EQ(firstTab.size(), QSize(103, 25));
    EXPECT_EQ(w.PC_Main->tabBar()->tabRect(MainWindow::kPageTarn).left(), firstTab.left() + 103);
    // The selector and the status field lie above the right end of the tab row.
    EXPECT_LT(w.PC_Main->tabBar()->tabRect(MainWindow::kPageSoundEditor).right() + 5, 520);
    // The tab buttons' sheet stays on the tab bar: the pages keep the plain style.
    EXPECT_EQ(w.PAGE_NOR_WRT->style(), QApplication::style());
    EXPECT_EQ(w.PAGE_INFO->style(), QApplication::style());

    EXPECT_EQ(w.CB_DeviceSel->geometry(), QRect(520, 5, 120, 24));
    EXPECT_FALSE(w.CB_DeviceSel->isEditable());
    EXPECT_TRUE(w.CB_DeviceSel->font().bold());
    EXPECT_FALSE(w.CB_DeviceSel->focusPolicy() & Qt::TabFocus);
    EXPECT_EQ(w.ED_WrtCnt->geometry(), QRect(645, 5, 130, 24));
    EXPECT_TRUE(w.ED_WrtCnt->isReadOnly());
    EXPECT_EQ(w.ED_WrtCnt->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    EXPECT_TRUE(w.ED_WrtCnt->font().bold());
    EXPECT_EQ(w.ED_WrtCnt->cursor().shape(), Qt::ArrowCursor);
    EXPECT_FALSE(w.ED_WrtCnt->focusPolicy() & Qt::TabFocus);
}

TEST_F(WindowFixture, InformationPage) {
    MainWindow& w = start(kShippedLike);
    EXPECT_EQ(w.PN_Info_1->geometry(), QRect(0, 5, 765, 180));
    EXPECT_EQ(w.PN_Info_2->geometry(), QRect(0, 195, 765, 325));
    // Raised outside, lowered inside, on both panels.
    for (QFrame* panel : {w.PN_Info_1, w.PN_Info_2}) {
        EXPECT_EQ(panel->frameShape(), QFrame::Box);
        EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
        EXPECT_EQ(panel->frameWidth(), 2);
    }
    EXPECT_EQ(w.LB_Info_WrtName->text(), "Sonoprog");
    EXPECT_EQ(w.LB_Info_WrtName->width(), 765);
    EXPECT_EQ(w.LB_Info_WrtName->height(), 60);
    EXPECT_EQ(w.LB_Info_WrtName->font().pixelSize(), 35);
    EXPECT_TRUE(w.LB_Info_WrtName->font().bold());
    EXPECT_EQ(w.LB_Info_WrtName->alignment(), Qt::AlignCenter);
    EXPECT_FALSE(w.LB_Info_CmpName->text().isEmpty());

    struct Field {
        QLineEdit* edit;
        const char* name;
        const char* label;
        int top;
        bool link;
    };
    const Field fields[] = {
        {w.LB_Info_Ver, "LB_Info_Ver", "Version", 95, false},
        {w.LB_Info_DevSupport, "LB_Info_DevSupport", "Device Supported", 145, false},
        {w.LB_Info_WebSite, "LB_Info_WebSite", "Web Site", 90, true},
        {w.LB_Info_EmailSalse, "LB_Info_EmailSalse", "E-Mail(Sales)", 140, true},
        {w.LB_Info_EmailSupport, "LB_Info_EmailSupport", "E-Mail(Support)", 190, true},
        {w.LB_Info_Tel, "LB_Info_Tel", "Tel", 240, false},
        {w.LB_Info_Fax, "LB_Info_Fax", "Fax", 290, false},
    };
    for (const Field& f : fields) {
        SCOPED_TRACE(f.name);
        EXPECT_EQ(f.edit->objectName(), f.name);
        EXPECT_EQ(f.edit->geometry(), QRect(10, f.top, 745, 24));
        EXPECT_TRUE(f.edit->isReadOnly());
        EXPECT_EQ(f.edit->focusPolicy(), Qt::NoFocus);
        EXPECT_TRUE(f.edit->font().bold());
        EXPECT_EQ(f.edit->font().pixelSize(), 13);
        EXPECT_EQ(f.edit->font().underline(), f.link);
        EXPECT_EQ(f.edit->cursor().shape(), f.link ? Qt::PointingHandCursor : Qt::ArrowCursor);
        if (f.link) {
            EXPECT_EQ(textColour(f.edit), kBlue);
        }
        auto* label = w.findChild<QLabel*>(QString::fromLatin1(f.name) + "_Label");
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), f.label);
        EXPECT_TRUE(label->font().bold());
        EXPECT_EQ(label->font().pixelSize(), 16);
        EXPECT_LT(label->geometry().bottom(), f.top);
    }
}

TEST_F(WindowFixture, LinkFieldsOpenTheirTargets) {
    MainWindow& w = start(kShippedLike);
    std::vector<QUrl> opened;
    w.setUrlOpener([&](const QUrl& url) { opened.push_back(url); });
    QTest::mouseClick(w.LB_Info_WebSite, Qt::LeftButton);
    QTest::mouseClick(w.LB_Info_EmailSalse, Qt::LeftButton);
    QTest::mouseClick(w.LB_Info_EmailSupport, Qt::LeftButton);
    QTest::mouseClick(w.LB_Info_Tel, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], QUrl(w.LB_Info_WebSite->text()));
    EXPECT_EQ(opened[1].toString(), "mailto:" + w.LB_Info_EmailSalse->text());
    EXPECT_EQ(opened[2].toString(), "mailto:" + w.LB_Info_EmailSupport->text());
}

TEST_F(WindowFixture, NormalStartUp) {
    MainWindow& w = start(kShippedLike);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(w.LB_Info_Ver->text(), "Sonoprog V1.0.0");
    ASSERT_EQ(w.CB_DeviceSel->count(), 3);
    EXPECT_EQ(w.CB_DeviceSel->itemText(0), "Tarn20");
    EXPECT_EQ(w.CB_DeviceSel->itemText(1), "Kiva300");
    EXPECT_EQ(w.CB_DeviceSel->itemText(2), "Series Flash");
    EXPECT_EQ(w.CB_DeviceSel->currentIndex(), 0);
    EXPECT_TRUE(w.CB_DeviceSel->isEnabled());
    EXPECT_EQ(w.LB_Info_DevSupport->text(), "Tarn20 / Kiva300 / Series Flash");
    EXPECT_EQ(visibleTabs(), (QStringList{"Information", "Tarn20 Writer", "Sound Editor"}));
    EXPECT_EQ(w.PC_Main->currentIndex(), MainWindow::kPageInfo);
    QComboBox* nor = w.PAGE_NOR_WRT->deviceList();
    ASSERT_EQ(nor->count(), 2);
    EXPECT_EQ(nor->itemText(0), "W25Q80");
    EXPECT_EQ(nor->currentIndex(), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Temp"));
}

TEST_F(WindowFixture, MissingSetupIniLeavesOnlyTheInformationPage) {
    MainWindow& w = start(nullptr);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0],
              (test::Box{"EEEOR", "System file missed or broken! Please install again!",
                         core::BoxIcon::Error}));
    EXPECT_EQ(w.LB_Info_Ver->text(), "Unknow");
    EXPECT_EQ(visibleTabs(), (QStringList{"Information"}));
    EXPECT_EQ(w.PC_Main->currentIndex(), MainWindow::kPageInfo);
    EXPECT_FALSE(w.CB_DeviceSel->isEnabled());
    EXPECT_EQ(w.CB_DeviceSel->count(), 0);
    EXPECT_EQ(w.LB_Info_DevSupport->text(), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Temp"));
}

TEST_F(WindowFixture, EngineeringModeShowsAllPagesAndStaysOnTarn20) {
    MainWindow& w = start(
        "[System]\nVersion=V\nEngMode=1\n[Device]\nD1=Tarn20\nD3=Series Flash\n"
        "[Series Flash List]\nNumber=1\nDevName1=W25Q80\n");
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(visibleTabs().size(), 5);
    EXPECT_EQ(w.PC_Main->currentIndex(), MainWindow::kPageTarn);
    EXPECT_FALSE(w.CB_DeviceSel->isEnabled());
    EXPECT_EQ(w.CB_DeviceSel->count(), 0);
    EXPECT_EQ(w.PAGE_NOR_WRT->deviceList()->count(), 0);
    EXPECT_EQ(w.LB_Info_DevSupport->text(), "");
}

TEST_F(WindowFixture, PickingADeviceShowsItsPages) {
    MainWindow& w =
        start("[System]\nVersion=V\n[Device]\nD1=tarn20\nD2=Kiva300\nD3=Series Flash\n");
    EXPECT_EQ(visibleTabs(), (QStringList{"Information"}));  // differs in case only
    w.PC_Main->setCurrentIndex(MainWindow::kPageKiva);
    w.CB_DeviceSel->setCurrentIndex(1);
    w.CB_DeviceSelChange();
    EXPECT_EQ(visibleTabs(), (QStringList{"Information", "Kiva300 Writer"}));
    EXPECT_EQ(w.PC_Main->currentIndex(), MainWindow::kPageInfo);
    w.CB_DeviceSel->setCurrentIndex(2);
    w.CB_DeviceSelChange();
    EXPECT_EQ(visibleTabs(), (QStringList{"Information", "Series Flash Writer", "Sound Editor"}));
    // Selecting in code does not run the change event; the user's pick does.
    w.CB_DeviceSel->setCurrentIndex(1);
    EXPECT_EQ(visibleTabs(), (QStringList{"Information", "Series Flash Writer", "Sound Editor"}));
    Q_EMIT w.CB_DeviceSel->activated(1);
    EXPECT_EQ(visibleTabs(), (QStringList{"Information", "Kiva300 Writer"}));
}

TEST_F(WindowFixture, WriterStatusFollowsTheCable) {
    MainWindow& w = start(kShippedLike);
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Connect");
    EXPECT_EQ(textColour(w.ED_WrtCnt), kBlue);
    writer.unplug();
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Disconnect");
    EXPECT_EQ(textColour(w.ED_WrtCnt), kRed);
    EXPECT_FALSE(w.writerLink().connected());
    writer.plug();
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Connect");
    EXPECT_EQ(textColour(w.ED_WrtCnt), kBlue);
}

TEST_F(WindowFixture, StartWithoutAWriterShowsDisconnectInRed) {
    writer.unplug();
    MainWindow& w = start(kShippedLike);
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Disconnect");
    EXPECT_EQ(textColour(w.ED_WrtCnt), kRed);
    writer.otherDeviceEvent();
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Disconnect");
}

// A window on a Writer folder that another program has open sees what it
// would see of a Writer that cannot be opened, until the folder is free.
TEST_F(WindowFixture, AWriterFolderInUseShowsDisconnectUntilItIsFree) {
    auto opened = sim::openPersistentWriter(dir / "w", sim::kKiva300File);
    ASSERT_TRUE(opened.writer) << opened.error;
    opened.writer->release();  // handed on, as the window does for its tiles
    sim::FolderLock other(dir / "w");
    ASSERT_TRUE(other.acquire());
    dir.write("Setup.ini", std::string(kShippedLike));
    paths = core::AppPaths::forFolder(dir.path());
    MainWindow w(*opened.writer, paths, prompter);
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Disconnect");
    EXPECT_EQ(textColour(w.ED_WrtCnt), kRed);
    EXPECT_FALSE(w.writerLink().connected());
    other.release();
    opened.writer->otherDeviceEvent();
    EXPECT_EQ(w.ED_WrtCnt->text(), "Writer Connect");
    // Now the window holds the folder.
    EXPECT_FALSE(other.acquire());
}

namespace {
class Throwing final : public QObject {
public:
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw std::runtime_error("Access violation at 00401234");
        if (e->type() == QEvent::User + 1) throw 42;
        return QObject::event(e);
    }
};
}  // namespace

TEST(Application, ExceptionsFromHandlersAreShownAndTheLoopGoesOn) {
    auto* app = qobject_cast<gui::Application*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    std::vector<std::string> shown;
    app->setExceptionReporter([&](const std::string& m) { shown.push_back(m); });
    Throwing target;
    QEvent first(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &first));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::processEvents();
    app->setExceptionReporter({});
    EXPECT_EQ(shown, (std::vector<std::string>{"Access violation at 00401234", ""}));
}

// The window names the desktop entry and the themed icon that the package
// installs, so the task bar shows the program's icon.
TEST(Application, NamesTheInstalledDesktopEntryAndIcon) {
    EXPECT_EQ(QGuiApplication::desktopFileName(), gui::Application::kDesktopFileName);
    const std::string entry =
        test::readText(std::filesystem::path(SONOPROG_SOURCE_DIR) / "packaging/linux" /
                       (std::string(gui::Application::kDesktopFileName) + ".desktop"));
    EXPECT_NE(entry.find("\nIcon=" + std::string(gui::Application::kIconName) + "\n"),
              std::string::npos);
    EXPECT_TRUE(
        std::filesystem::exists(std::filesystem::path(SONOPROG_SOURCE_DIR) / "packaging/icons" /
                                (std::string(gui::Application::kIconName) + ".svg")));
}

TEST_F(WindowFixture, ProductionTabOnlyWhenSetupIniEnablesIt) {
    MainWindow& plain = start(kShippedLike);
    EXPECT_EQ(plain.PC_Main->count(), 5);
    EXPECT_EQ(plain.PAGE_Production, nullptr);
    window.reset();

    MainWindow& bench = start((std::string(kShippedLike) + "[Production]\nEnabled=1\n").c_str());
    ASSERT_EQ(bench.PC_Main->count(), 6);
    EXPECT_EQ(bench.PC_Main->tabText(5), QStringLiteral("Production"));
    ASSERT_NE(bench.PAGE_Production, nullptr);
    EXPECT_TRUE(bench.PC_Main->isTabVisible(5));
    window.reset();

    MainWindow& off = start((std::string(kShippedLike) + "[Production]\nEnabled=0\n").c_str());
    EXPECT_EQ(off.PC_Main->count(), 5);
}

TEST_F(WindowFixture, TheSoundEditorMeasuresItsImageAgainstTheChosenChip) {
    MainWindow& w =
        start((std::string(kShippedLike) + "[W25Q80]\nSize=1048576\nMID=0xEF\nDID=0x13\n").c_str());
    ASSERT_EQ(w.CB_DeviceSel->currentText(), "Tarn20");
    editor::ChipFit fit = w.PAGE_Sound_Editor->chipFit();
    EXPECT_EQ(fit.chip, "Tarn20");
    EXPECT_EQ(fit.capacity, 127008768u);
    EXPECT_EQ(fit.image, 17408u);

    // Series Flash: the Size of the device start-up shows, looked up without a pick.
    w.CB_DeviceSel->setCurrentIndex(2);
    fit = w.PAGE_Sound_Editor->chipFit();
    EXPECT_EQ(fit.chip, "W25Q80");
    EXPECT_EQ(fit.capacity, 1048576u);
    auto* size = w.PAGE_NOR_WRT->findChild<QLineEdit*>("ED_NOR_MemSize");
    ASSERT_NE(size, nullptr);
    size->setText("2097152");
    fit = w.PAGE_Sound_Editor->chipFit();
    EXPECT_EQ(fit.chip, w.PAGE_NOR_WRT->deviceList()->currentText().toStdString());
    EXPECT_EQ(fit.capacity, 2097152u);
    size->setText("");
    EXPECT_FALSE(w.PAGE_Sound_Editor->chipFit().known());

    w.CB_DeviceSel->setCurrentIndex(1);  // Kiva300: no sound image
    EXPECT_FALSE(w.PAGE_Sound_Editor->chipFit().known());
}

#include "app/MainWindow.h"

#include <cstdio>
#include <cstdlib>

#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>

#include "app/MakerInfo.h"
#include "app/StartupConfig.h"
#include "core/IniFile.h"
#include "editor/EditorPage.h"
#include "kiva/KivaPage.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/OperatorView.h"
#include "production/ProductionPage.h"
#include "serialflash/SerialFlashDevices.h"
#include "serialflash/SerialFlashPage.h"
#include "tarn/TarnPage.h"

namespace sonoprog::app {

namespace {

QFont tahoma(int pixelHeight, bool bold) {
    QFont f(QStringLiteral("Tahoma"));
    f.setPixelSize(pixelHeight);
    f.setBold(bold);
    return f;
}

void setTextColour(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Text, colour);
    pal.setColor(QPalette::WindowText, colour);
    w->setPalette(pal);
}

// Tabs drawn as buttons, 25 high and 100 wide.
constexpr const char* kTabButtons =
    "QTabBar::tab { width: 96px; height: 21px; margin-right: 3px; padding: 0px;"
    " border: 2px outset palette(mid); background: palette(button); }"
    "QTabBar::tab:selected { border-style: inset; background: palette(midlight); }";

}  // namespace

MainWindow::MainWindow(link::WriterDevice& device, const core::AppPaths& paths, QWidget* parent)
    : MainWindow(device, paths, qtPrompter_, parent) {}

MainWindow::MainWindow(link::WriterDevice& device, const core::AppPaths& paths,
                       core::Prompter& prompter, QWidget* parent)
    : QWidget(parent),
      paths_(paths),
      qtPrompter_(this),
      boxes_(prompter),
      files_(this),
      link_(device, boxes_),
      monitor_(link_, [this](bool connected) { showWriterStatus(connected); }),
      openUrl_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    buildLayout();
    // Before the creation event: register for device changes, first attempt
    // to open the Writer, first status text.
    monitor_.start();
    FormCreate();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildLayout() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Sonoprog"));
    // Single border, system menu and minimise only: no maximise, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(tahoma(13, false));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    PC_Main = new QTabWidget(this);
    PC_Main->setObjectName(QStringLiteral("PC_Main"));
    PC_Main->setGeometry(5, 5, 775, 555);
    PC_Main->tabBar()->setFont(tahoma(11, false));
    PC_Main->tabBar()->setExpanding(false);
    // On the tab bar alone: set on PC_Main, the sheet would put every widget
    // of every page under the style-sheet style, which makes start-up match
    // CSS rules for a hundred widgets and paint them through the sheet.
    PC_Main->tabBar()->setStyleSheet(QString::fromLatin1(kTabButtons));

    CB_DeviceSel = new QComboBox(this);
    CB_DeviceSel->setObjectName(QStringLiteral("CB_DeviceSel"));
    CB_DeviceSel->setGeometry(520, 5, 120, 24);
    CB_DeviceSel->setEditable(false);
    CB_DeviceSel->setFont(tahoma(13, true));
    CB_DeviceSel->setFocusPolicy(Qt::ClickFocus);
    // Only the user's pick runs the change event, as the selection in code does not.
    connect(CB_DeviceSel, &QComboBox::activated, this, [this](int) { CB_DeviceSelChange(); });

    ED_WrtCnt = new QLineEdit(this);
    ED_WrtCnt->setObjectName(QStringLiteral("ED_WrtCnt"));
    ED_WrtCnt->setGeometry(645, 5, 130, 24);
    ED_WrtCnt->setReadOnly(true);
    ED_WrtCnt->setAlignment(Qt::AlignCenter);
    ED_WrtCnt->setFont(tahoma(13, true));
    ED_WrtCnt->setCursor(Qt::ArrowCursor);
    ED_WrtCnt->setFocusPolicy(Qt::NoFocus);
    ED_WrtCnt->setText(QStringLiteral("Writer Disconnect!"));
    // Units programmed on the virtual Writer are no units: the window says
    // so beside the status, whose own text stays as it is.
    LB_VirtualWriter = new QLabel(QStringLiteral("VIRTUAL"), this);
    LB_VirtualWriter->setObjectName(QStringLiteral("LB_VirtualWriter"));
    LB_VirtualWriter->setGeometry(430, 5, 86, 24);
    LB_VirtualWriter->setAlignment(Qt::AlignCenter);
    LB_VirtualWriter->setFont(tahoma(11, true));
    LB_VirtualWriter->setToolTip(QStringLiteral("The window runs on the virtual Writer."));
    LB_VirtualWriter->setStyleSheet(
        QStringLiteral("QLabel { background: #ff9f1a; color: black; border: 1px solid #b06000; }"));
    LB_VirtualWriter->setVisible(dynamic_cast<const link::usb::UsbWriterDevice*>(&link_.device()) ==
                                 nullptr);

    env_.reset(new gui::TabEnvironment{CB_DeviceSel, PC_Main, boxes_, files_, yield_, clock_, link_,
                                       paths_});
    // An installation's own IvrKeys.bin lives beside the program.
    env_->ivrKeys = ivr::IvrKeys::fromFolder(paths_.programDir);
    // Built inside the window, so that every control starts in the window's
    // font: a page built on its own would lay out each of its texts in the
    // application's font first and again when the tab control takes it.
    PAGE_INFO = new QWidget(PC_Main);
    PAGE_INFO->setObjectName(QStringLiteral("PAGE_INFO"));
    PAGE_Kiva_WRT = new kiva::KivaPage(*env_, PC_Main);
    PAGE_Kiva_WRT->setObjectName(QStringLiteral("PAGE_Kiva_WRT"));
    PAGE_Tarn_WRT = new tarn::TarnPage(*env_, PC_Main);
    PAGE_Tarn_WRT->setObjectName(QStringLiteral("PAGE_Tarn_WRT"));
    PAGE_NOR_WRT = new serialflash::SerialFlashPage(*env_, PC_Main);
    PAGE_NOR_WRT->setObjectName(QStringLiteral("PAGE_NOR_WRT"));
    PAGE_Sound_Editor = new editor::EditorPage(*env_, PC_Main);
    PAGE_Sound_Editor->setObjectName(QStringLiteral("PAGE_Sound_Editor"));
    PC_Main->addTab(PAGE_INFO, QStringLiteral("Information"));
    PC_Main->addTab(PAGE_Kiva_WRT, QStringLiteral("Kiva300 Writer"));
    PC_Main->addTab(PAGE_Tarn_WRT, QStringLiteral("Tarn20 Writer"));
    PC_Main->addTab(PAGE_NOR_WRT, QStringLiteral("Series Flash Writer"));
    PC_Main->addTab(PAGE_Sound_Editor, QStringLiteral("Sound Editor"));
    // The tab control places its page stack when the window is first shown;
    // sized now, the stack is not first sized from its pages (every page's
    // layout worked out, the Series Flash device list measured item by item)
    // only to be placed anew.
    if (auto* stack = PC_Main->findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly))
        stack->resize(PC_Main->size());
    buildInformationPage();
    // The window opens on the Tarn20 page; the normal start-up moves to Information.
    PC_Main->setCurrentIndex(kPageTarn);

    // The Sound Editor measures its image against the chosen chip: the Tarn20's
    // user area, or the Size of the serial flash device the Series Flash page holds.
    auto showEditorChip = [this] {
        const std::string device = gui::toLocal(CB_DeviceSel->currentText());
        if (device == kDeviceTarn20) {
            PAGE_Sound_Editor->setChipCapacity(device, editor::kTarnUserAreaBytes);
            return;
        }
        auto* serialFlashDevice =
            PAGE_NOR_WRT->findChild<QComboBox*>(QStringLiteral("CB_NOR_Device"));
        auto* serialFlashSize =
            PAGE_NOR_WRT->findChild<QLineEdit*>(QStringLiteral("ED_NOR_MemSize"));
        const qulonglong size =
            serialFlashSize ? serialFlashSize->text().trimmed().toULongLong() : 0;
        if (device == kDeviceSeriesFlash && serialFlashDevice && size > 0)
            PAGE_Sound_Editor->setChipCapacity(gui::toLocal(serialFlashDevice->currentText()),
                                               size);
        else
            PAGE_Sound_Editor->setChipCapacity({}, 0);
    };
    connect(CB_DeviceSel, &QComboBox::currentTextChanged, this, showEditorChip);
    if (auto* serialFlashSize =
            PAGE_NOR_WRT->findChild<QLineEdit*>(QStringLiteral("ED_NOR_MemSize")))
        connect(serialFlashSize, &QLineEdit::textChanged, this, showEditorChip);

    // Above the right end of the tab row, visible whichever page is shown.
    CB_DeviceSel->raise();
    ED_WrtCnt->raise();
}

QLineEdit* MainWindow::addLabelledEdit(QWidget* panel, const char* name, const QString& label,
                                       int top, bool link) {
    auto* caption = new QLabel(label, panel);
    caption->setObjectName(QString::fromLatin1(name) + QStringLiteral("_Label"));
    caption->setFont(tahoma(16, true));
    caption->setGeometry(10, top - 22, 745, 19);
    auto* edit = new QLineEdit(panel);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(10, top, 745, 24);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    caption->setBuddy(edit);
    QFont f = tahoma(13, true);
    if (link) {
        f.setUnderline(true);
        setTextColour(edit, QColor(0, 0, 255));
        edit->setCursor(Qt::PointingHandCursor);
        edit->installEventFilter(this);
    } else {
        edit->setCursor(Qt::ArrowCursor);
    }
    edit->setFont(f);
    return edit;
}

void MainWindow::buildInformationPage() {
    auto panel = [this](const char* name, int top, int height) {
        auto* frame = new QFrame(PAGE_INFO);
        frame->setObjectName(QString::fromLatin1(name));
        frame->setGeometry(0, top, 765, height);
        // A raised outer and a lowered inner bevel, one pixel each: a ridge
        // that shows on all four sides.
        frame->setFrameStyle(QFrame::Box | QFrame::Raised);
        frame->setLineWidth(1);
        frame->setMidLineWidth(0);
        return frame;
    };
    auto title = [this](QWidget* parent, const char* name) {
        auto* label = new QLabel(parent);
        label->setObjectName(QString::fromLatin1(name));
        label->setGeometry(0, 10, 765, 60);
        label->setAlignment(Qt::AlignCenter);
        label->setFont(tahoma(35, true));
        return label;
    };

    PN_Info_1 = panel("PN_Info_1", 5, 180);
    LB_Info_WrtName = title(PN_Info_1, "LB_Info_WrtName");
    LB_Info_WrtName->setText(QStringLiteral("Sonoprog"));
    setTextColour(LB_Info_WrtName, Qt::black);
    LB_Info_Ver = addLabelledEdit(PN_Info_1, "LB_Info_Ver", QStringLiteral("Version"), 95, false);
    LB_Info_DevSupport = addLabelledEdit(PN_Info_1, "LB_Info_DevSupport",
                                         QStringLiteral("Device Supported"), 145, false);

    PN_Info_2 = panel("PN_Info_2", 195, 325);
    LB_Info_CmpName = title(PN_Info_2, "LB_Info_CmpName");
    LB_Info_CmpName->setText(QString::fromUtf8(MakerInfo::kCompanyName));
    LB_Info_WebSite =
        addLabelledEdit(PN_Info_2, "LB_Info_WebSite", QStringLiteral("Web Site"), 90, true);
    LB_Info_EmailSalse = addLabelledEdit(PN_Info_2, "LB_Info_EmailSalse",
                                         QStringLiteral("E-Mail(Sales)"), 140, true);
    LB_Info_EmailSupport = addLabelledEdit(PN_Info_2, "LB_Info_EmailSupport",
                                           QStringLiteral("E-Mail(Support)"), 190, true);
    LB_Info_Tel = addLabelledEdit(PN_Info_2, "LB_Info_Tel", QStringLiteral("Tel"), 240, false);
    LB_Info_Fax = addLabelledEdit(PN_Info_2, "LB_Info_Fax", QStringLiteral("Fax"), 290, false);
    LB_Info_WebSite->setText(QString::fromUtf8(MakerInfo::kWebSite));
    LB_Info_EmailSalse->setText(QString::fromUtf8(MakerInfo::kEmailSales));
    LB_Info_EmailSupport->setText(QString::fromUtf8(MakerInfo::kEmailSupport));
    LB_Info_Tel->setText(QString::fromUtf8(MakerInfo::kTel));
    LB_Info_Fax->setText(QString::fromUtf8(MakerInfo::kFax));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == LB_Info_WebSite)
            LB_Info_WebSiteClick();
        else if (watched == LB_Info_EmailSalse)
            LB_Info_EmailSalseClick();
        else if (watched == LB_Info_EmailSupport)
            LB_Info_EmailSupportClick();
    }
    return QWidget::eventFilter(watched, event);
}

// The targets are the texts the fields show; the result of the request is ignored.
void MainWindow::LB_Info_WebSiteClick() {
    openUrl_(QUrl(LB_Info_WebSite->text()));
}

void MainWindow::LB_Info_EmailSalseClick() {
    openUrl_(QUrl(QStringLiteral("mailto:") + LB_Info_EmailSalse->text()));
}

void MainWindow::LB_Info_EmailSupportClick() {
    openUrl_(QUrl(QStringLiteral("mailto:") + LB_Info_EmailSupport->text()));
}

void MainWindow::setWriterTabsVisible(bool kiva, bool tarn, bool serialFlash, bool editor) {
    PC_Main->setTabVisible(kPageKiva, kiva);
    PC_Main->setTabVisible(kPageTarn, tarn);
    PC_Main->setTabVisible(kPageSerialFlash, serialFlash);
    PC_Main->setTabVisible(kPageSoundEditor, editor);
}

void MainWindow::FormCreate() {
    const core::IniFile setup = core::IniFile::load(paths_.setupIni());
    // A cut line changes what the settings say; the operator's terminal hears of it.
    for (const auto& w : setup.lineWarnings()) std::fprintf(stderr, "sonoprog: %s\n", w.c_str());
    PAGE_Sound_Editor->prepareTable();
    PAGE_Sound_Editor->operations().setLargestChip(
        serialflash::largestChipBytes(setup, editor::kTarnUserAreaBytes));
    const StartupConfig config = readStartupConfig(setup);

    switch (config.mode) {
        case StartupMode::Broken:
            boxes_.showMessage(kBrokenSetupCaption, kBrokenSetupText, core::BoxIcon::Error);
            LB_Info_Ver->setText(gui::fromLocal(config.versionText));
            CB_DeviceSel->setEnabled(false);
            setWriterTabsVisible(false, false, false, false);
            break;
        case StartupMode::Engineering:
            LB_Info_Ver->setText(gui::fromLocal(config.versionText));
            CB_DeviceSel->setEnabled(false);
            setWriterTabsVisible(true, true, true, true);
            PAGE_Tarn_WRT->setEngineeringPanelVisible(true);
            break;
        case StartupMode::Normal:
            LB_Info_Ver->setText(gui::fromLocal(config.versionText));
            for (const auto& name : config.devices) CB_DeviceSel->addItem(gui::fromLocal(name));
            for (const auto& name : config.serialFlashDevices)
                PAGE_NOR_WRT->addDevice(gui::fromLocal(name));
            if (!config.serialFlashDevices.empty()) PAGE_NOR_WRT->selectFirstDevice();
            if (CB_DeviceSel->count() > 0) CB_DeviceSel->setCurrentIndex(0);
            CB_DeviceSel->setEnabled(true);
            PAGE_Tarn_WRT->setEngineeringPanelVisible(false);
            CB_DeviceSelChange();
            break;
    }
    LB_Info_DevSupport->setText(gui::fromLocal(config.supportedDevices));
    // The production bench is an addition: without the key the window is as it always was.
    const auto bench = production::readProductionSettings(setup);
    if (bench.enabled && config.mode != StartupMode::Broken) {
        PAGE_Production = new production::ProductionPage(*env_, link_, bench, PC_Main);
        // The tiles' workers open their Writers themselves, the window's own among them.
        PAGE_Production->setWriterHandover([this] { monitor_.lend(); },
                                           [this] { monitor_.takeBack(); });
        PAGE_Production->setDeviceChangeHandler([this] { monitor_.onDeviceChange(); });
        PC_Main->addTab(PAGE_Production, QStringLiteral("Production"));
        auto* f11 = new QShortcut(QKeySequence(Qt::Key_F11), this);
        connect(f11, &QShortcut::activated, this, &MainWindow::showOperatorView);
        connect(PAGE_Production, &production::ProductionPage::operatorViewRequested, this,
                [this](bool on) { on ? showOperatorView() : leaveOperatorView(); });
        // The last job and operator, from the user's state folder.
        if (const auto state =
                core::userStateDir(std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
            !state.empty())
            PAGE_Production->setMemoryFile((state / "sonoprog" / "production.ini").string());
        PAGE_Production->restoreRemembered();
    }
    paths_.ensureTemp();
}

void MainWindow::setWriterIdentity(const std::string& identity) {
    if (PAGE_Production) PAGE_Production->setWriterIdentity(identity);
}

void MainWindow::showOperatorView() {
    if (!PAGE_Production || operatorView_) return;
    productionTab_ = PC_Main->indexOf(PAGE_Production);
    PC_Main->removeTab(productionTab_);
    operatorView_ = std::make_unique<production::OperatorView>();
    connect(operatorView_.get(), &production::OperatorView::leaveRequested, this,
            &MainWindow::leaveOperatorView, Qt::QueuedConnection);
    operatorView_->hold(PAGE_Production);
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    // The screen's size exactly: what the page asks for never makes it larger.
    if (screen) {
        operatorView_->setGeometry(screen->geometry());
        operatorView_->setFixedSize(screen->geometry().size());
    }
    PAGE_Production->setOperatorView(true);
    operatorView_->showFullScreen();
    operatorView_->activateWindow();
}

void MainWindow::leaveOperatorView() {
    if (!operatorView_) return;
    QWidget* page = operatorView_->release();
    operatorView_->hide();
    operatorView_.reset();
    PAGE_Production->setOperatorView(false);
    PC_Main->insertTab(productionTab_, page, QStringLiteral("Production"));
    PC_Main->setCurrentWidget(page);
    activateWindow();
}

void MainWindow::CB_DeviceSelChange() {
    PC_Main->setCurrentIndex(kPageInfo);
    setWriterTabsVisible(false, false, false, false);
    const TabVisibility tabs = tabsForDevice(gui::toLocal(CB_DeviceSel->currentText()));
    setWriterTabsVisible(tabs.kiva, tabs.tarn, tabs.seriesFlash, tabs.soundEditor);
}

void MainWindow::showWriterStatus(bool connected) {
    ED_WrtCnt->setText(connected ? QStringLiteral("Writer Connect")
                                 : QStringLiteral("Writer Disconnect"));
    setTextColour(ED_WrtCnt, connected ? QColor(0, 0, 255) : QColor(255, 0, 0));
}

}  // namespace sonoprog::app

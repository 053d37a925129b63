#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>

#include "core/AppPaths.h"
#include "gui/QtServices.h"
#include "link/ConnectionMonitor.h"
#include "link/Link.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace sonoprog::tarn {
class TarnPage;
}
namespace sonoprog::serialflash {
class SerialFlashPage;
}
namespace sonoprog::kiva {
class KivaPage;
}
namespace sonoprog::editor {
class EditorPage;
}
namespace sonoprog::production {
class OperatorView;
class ProductionPage;
}  // namespace sonoprog::production

namespace sonoprog::app {

// Form1: the program's one window. Construction builds the layout, hands the
// Writer link to the connection monitor (first status) and then runs
// FormCreate (Setup.ini, device lists, visible tabs, Temp).
class MainWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 787;
    static constexpr int kClientHeight = 566;
    // The pages of PC_Main, in tab order.
    enum Page {
        kPageInfo = 0,
        kPageKiva = 1,
        kPageTarn = 2,
        kPageSerialFlash = 3,
        kPageSoundEditor = 4
    };

    MainWindow(link::WriterDevice& device, const core::AppPaths& paths, QWidget* parent = nullptr);
    // Boxes go to `prompter` instead of modal Qt boxes (tests, scripted runs).
    MainWindow(link::WriterDevice& device, const core::AppPaths& paths, core::Prompter& prompter,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    QTabWidget* PC_Main = nullptr;
    QComboBox* CB_DeviceSel = nullptr;
    QLineEdit* ED_WrtCnt = nullptr;
    // Beside the status field when the window runs on the virtual Writer.
    QLabel* LB_VirtualWriter = nullptr;
    QWidget* PAGE_INFO = nullptr;
    kiva::KivaPage* PAGE_Kiva_WRT = nullptr;
    tarn::TarnPage* PAGE_Tarn_WRT = nullptr;
    serialflash::SerialFlashPage* PAGE_NOR_WRT = nullptr;
    editor::EditorPage* PAGE_Sound_Editor = nullptr;
    // Only when Setup.ini has [Production] Enabled=1; the last tab then.
    production::ProductionPage* PAGE_Production = nullptr;

    QFrame* PN_Info_1 = nullptr;
    QLabel* LB_Info_WrtName = nullptr;
    QLineEdit* LB_Info_Ver = nullptr;
    QLineEdit* LB_Info_DevSupport = nullptr;
    QFrame* PN_Info_2 = nullptr;
    QLabel* LB_Info_CmpName = nullptr;
    QLineEdit* LB_Info_WebSite = nullptr;
    QLineEdit* LB_Info_EmailSalse = nullptr;
    QLineEdit* LB_Info_EmailSupport = nullptr;
    QLineEdit* LB_Info_Tel = nullptr;
    QLineEdit* LB_Info_Fax = nullptr;

    link::Link& writerLink() { return link_; }
    // The operator view (F11, or the page's Operator View button): the
    // Production tab alone on the whole screen, its tiles scaled to it; Esc
    // puts it back in its tab. Nothing without a Production tab.
    void showOperatorView();
    void leaveOperatorView();
    production::OperatorView* operatorView() const { return operatorView_.get(); }
    // How the Production page's records name the window's Writer (the
    // --writer it was started with: "sim:/abs/dir", ...).
    void setWriterIdentity(const std::string& identity);

    // The device selector's change event (the user picked a device).
    void CB_DeviceSelChange();
    void LB_Info_WebSiteClick();
    void LB_Info_EmailSalseClick();
    void LB_Info_EmailSupportClick();

    // How the link fields open their targets; the desktop's default handler
    // unless replaced (tests).
    void setUrlOpener(std::function<void(const QUrl&)> opener) { openUrl_ = std::move(opener); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildInformationPage();
    QLineEdit* addLabelledEdit(QWidget* panel, const char* name, const QString& label, int top,
                               bool link);
    void FormCreate();
    void showWriterStatus(bool connected);
    void setWriterTabsVisible(bool kiva, bool tarn, bool serialFlash, bool editor);

    core::AppPaths paths_;
    gui::QtPrompter qtPrompter_;
    core::Prompter& boxes_;
    gui::QtFileChooser files_;
    gui::QtYield yield_;
    core::SystemClock clock_;
    link::Link link_;
    link::ConnectionMonitor monitor_;
    std::unique_ptr<gui::TabEnvironment> env_;
    std::function<void(const QUrl&)> openUrl_;
    std::unique_ptr<production::OperatorView> operatorView_;
    int productionTab_ = -1;
};

}  // namespace sonoprog::app

#pragma once

#include <QWidget>
#include <memory>

#include "AppPaths.h"
#include "ConnectionMonitor.h"
#include "Link.h"
#include "QtServices.h"

class QComboBox;
class QLineEdit;
class QTabWidget;

namespace sonoprog::tarn { class TarnTab; }
namespace sonoprog::serialflash { class NorTab; }
namespace sonoprog::kiva { class KivaTab; }
namespace sonoprog::editor { class EditorTab; }

namespace sonoprog::gui {

// Form1: the program's one window.
class MainWindow final : public QWidget {
    Q_OBJECT
public:
    MainWindow(link::WriterDevice& device, const core::AppPaths& paths, QWidget* parent = nullptr);
    ~MainWindow() override;

    QTabWidget* PC_Main = nullptr;
    QComboBox* CB_DeviceSel = nullptr;
    QLineEdit* ED_WrtCnt = nullptr;
    QWidget* PAGE_INFO = nullptr;
    kiva::KivaTab* PAGE_Kiva_WRT = nullptr;
    tarn::TarnTab* PAGE_Tarn_WRT = nullptr;
    serialflash::NorTab* PAGE_NOR_WRT = nullptr;
    editor::EditorTab* PAGE_Sound_Editor = nullptr;

    link::Link& writerLink() { return link_; }

private:
    void showWriterStatus(bool connected);

    core::AppPaths paths_;
    QtPrompter prompter_;
    QtFileChooser files_;
    QtYield yield_;
    core::SystemClock clock_;
    link::Link link_;
    link::ConnectionMonitor monitor_;
    std::unique_ptr<TabEnvironment> env_;
};

}  // namespace sonoprog::gui

#include "MainWindow.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>

#include "EditorTab.h"
#include "KivaTab.h"
#include "NorTab.h"
#include "TarnTab.h"

namespace sonoprog::gui {

MainWindow::MainWindow(link::WriterDevice& device, const core::AppPaths& paths, QWidget* parent)
    : QWidget(parent),
      paths_(paths),
      prompter_(this),
      files_(this),
      link_(device, prompter_),
      monitor_(link_, [this](bool connected) { showWriterStatus(connected); }) {
    setWindowTitle(QStringLiteral("Sonoprog"));
    setFixedSize(787, 566);

    PC_Main = new QTabWidget(this);
    PC_Main->setGeometry(5, 5, 775, 555);
    CB_DeviceSel = new QComboBox(this);
    CB_DeviceSel->setGeometry(520, 5, 120, 24);
    ED_WrtCnt = new QLineEdit(this);
    ED_WrtCnt->setGeometry(645, 5, 130, 24);
    ED_WrtCnt->setReadOnly(true);
    ED_WrtCnt->setAlignment(Qt::AlignCenter);

    env_.reset(new TabEnvironment{CB_DeviceSel, PC_Main, prompter_, files_, yield_, clock_, link_,
                                  paths_});
    PAGE_INFO = new QWidget;
    PAGE_Kiva_WRT = new kiva::KivaTab(*env_);
    PAGE_Tarn_WRT = new tarn::TarnTab(*env_);
    PAGE_NOR_WRT = new serialflash::NorTab(*env_);
    PAGE_Sound_Editor = new editor::EditorTab(*env_);
    PC_Main->addTab(PAGE_INFO, QStringLiteral("Information"));
    PC_Main->addTab(PAGE_Kiva_WRT, QStringLiteral("Kiva300 Writer"));
    PC_Main->addTab(PAGE_Tarn_WRT, QStringLiteral("Tarn20 Writer"));
    PC_Main->addTab(PAGE_NOR_WRT, QStringLiteral("Series Flash Writer"));
    PC_Main->addTab(PAGE_Sound_Editor, QStringLiteral("Sound Editor"));
    CB_DeviceSel->raise();
    ED_WrtCnt->raise();

    monitor_.start();
}

MainWindow::~MainWindow() = default;

void MainWindow::showWriterStatus(bool connected) {
    ED_WrtCnt->setText(connected ? QStringLiteral("Writer Connect")
                                 : QStringLiteral("Writer Disconnect"));
    QPalette pal = ED_WrtCnt->palette();
    pal.setColor(QPalette::Text, connected ? QColor(0, 0, 255) : QColor(255, 0, 0));
    ED_WrtCnt->setPalette(pal);
}

}  // namespace sonoprog::gui

#pragma once

#include <QComboBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include "QtServices.h"

namespace sonoprog::bench {

// A window of the program's size with the device selector and the tab
// control that a tab page locks, for the figures that run through the window.
class WindowRig {
public:
    WindowRig(core::Prompter& prompter, core::FileChooser& files, core::Clock& clock,
              link::WriterLink& link, const core::AppPaths& paths)
        : env{deviceSel, pcMain, prompter, files, yield, clock, link, paths} {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(deviceSel);
        layout->addWidget(pcMain);
        window.resize(787, 566);
    }

    template <typename Page>
    Page* addPage(Page* page, const char* title) {
        pcMain->addTab(page, QString::fromLatin1(title));
        return page;
    }

    // Shows the window and lets it paint, so that the timed part does not pay
    // for the first paint.
    void showAndSettle();

    QWidget window;
    QComboBox* deviceSel = new QComboBox(&window);
    QTabWidget* pcMain = new QTabWidget(&window);
    gui::QtYield yield;
    gui::TabEnvironment env;
};

}  // namespace sonoprog::bench

#pragma once

#include <QComboBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>

#include "bench/BenchSupport.h"
#include "gui/QtServices.h"

namespace sonoprog::bench {

// A window of the program's size with the device selector and the tab
// control that a tab page locks, for the figures that run through the window.
class WindowRig {
public:
    // The page reports through the services of `rig`, with the window's own yield.
    explicit WindowRig(OperationRig& rig)
        : env{deviceSel, pcMain, rig.prompter, rig.files, yield, rig.clock, rig.link, rig.paths} {
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
    // for the first paint; then times one click of a handler.
    Timed timeClick(const std::function<void()>& click);

    QWidget window;
    QComboBox* deviceSel = new QComboBox(&window);
    QTabWidget* pcMain = new QTabWidget(&window);
    gui::QtYield yield;
    gui::TabEnvironment env;
};

}  // namespace sonoprog::bench

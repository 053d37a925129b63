#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QWidget>
#include <memory>
#include <optional>

#include "gui/QtServices.h"
#include "production/ProductionPage.h"
#include "tests/production/ProductionRig.h"
#include "tests/support/Fakes.h"

namespace sonoprog::test {

// What the window gives the Production page: a tab control that already holds
// a first page, and the tab environment on the rig's Writer. `addPage` puts a
// page in as the window does and brings it to the front.
struct PageHarness {
    explicit PageHarness(std::optional<sim::SocketScript> socket = std::nullopt) : rig(socket) {
        tabs.addTab(new QWidget, QStringLiteral("Information"));
        env = std::make_unique<gui::TabEnvironment>(gui::TabEnvironment{
            &deviceSel, &tabs, rig.prompter, files, yield, rig.clock, *rig.link, rig.paths});
    }

    production::ProductionPage* addPage(const production::ProductionSettings& settings) {
        page = new production::ProductionPage(*env, *rig.link, settings);
        tabs.addTab(page, QStringLiteral("Production"));
        tabs.setCurrentWidget(page);
        page->setRecordsLocation((rig.dir / "records.sqlite").string());
        // Start needs an operator (RequireOperator): one is at the bench.
        page->ED_Prod_Operator->setText(QStringLiteral("Bo"));
        return page;
    }

    // A job of the rig's Kiva300 sample, and its file's path.
    production::LoadedJob makeKivaJob() {
        production::JobRequest r;
        r.target = production::Target::Kiva300;
        r.image = rig.kivaImage();
        r.name = "Chime";
        return rig.makeJob(r);
    }
    std::string kivaJob() { return makeKivaJob().file.string(); }

    ProductionRig rig;
    QComboBox deviceSel;
    QTabWidget tabs;
    ScriptedFileChooser files;
    gui::QtYield yield;
    std::unique_ptr<gui::TabEnvironment> env;
    production::ProductionPage* page = nullptr;
};

}  // namespace sonoprog::test

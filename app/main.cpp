#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "app/ProgramOptions.h"
#include "core/AppPaths.h"
#include "core/Version.h"
#include "gui/Application.h"
#include "gui/QtServices.h"
#include "link/usb/UsbEventPump.h"
#include "link/usb/UsbWriterDevice.h"
#include "sim/PersistentWriter.h"
#include "sim/StandardWriter.h"

using namespace sonoprog;

namespace {

constexpr const char* kProgramName = "Sonoprog";
constexpr const char* kSecondCaption = "Program Starts Failure!";
constexpr const char* kSecondText = "Program has already started!";

// The box of a second start; its text goes to stderr too, so that scripts and
// tests see why the program ended.
int reportSecondInstance(int& argc, char** argv) {
    std::fprintf(stderr, "%s %s\n", kSecondCaption, kSecondText);
    QApplication app(argc, argv);
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kSecondCaption),
                    QString::fromLatin1(kSecondText), QMessageBox::Ok);
    gui::execMessageBox(box);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const app::ProgramOptions options =
        app::parseProgramOptions(std::vector<std::string>(argv + 1, argv + argc));
    switch (options.action) {
        case app::ProgramOptions::Action::Help:
            std::fputs(app::programHelpText("sonoprog").c_str(), stdout);
            return 0;
        case app::ProgramOptions::Action::Version:
            std::printf("%s\n", kVersionText);
            return 0;
        case app::ProgramOptions::Action::Error:
            std::fprintf(stderr, "sonoprog: %s\nTry 'sonoprog --help'.\n", options.error.c_str());
            return 2;
        case app::ProgramOptions::Action::Run:
            break;
    }
    // Held until the process ends. Taken before anything else: a second start
    // makes and opens nothing, not even the Writer folder it names.
    app::InstanceLock instance(app::InstanceLock::lockPath(kProgramName));
    if (!instance.acquired()) return reportSecondInstance(argc, argv);

    // The virtual Writer whose chips live in a folder: a folder or chip file
    // that cannot be used ends the program before the window.
    std::unique_ptr<link::WriterDevice> kept;
    if (options.writer.kind == core::WriterOption::Kind::SimDir) {
        auto opened = sim::openPersistentWriter(options.writer.folder);
        for (const auto& w : opened.warnings) std::fprintf(stderr, "sonoprog: %s\n", w.c_str());
        for (const auto& n : opened.notices) std::fprintf(stderr, "sonoprog: %s\n", n.c_str());
        if (!opened.writer) {
            std::fprintf(stderr, "sonoprog: %s\n", opened.error.c_str());
            return 1;
        }
        kept = std::move(opened.writer);
    }

    gui::Application app(argc, argv);
    try {
        const core::AppPaths paths = core::AppPaths::forRunningProgram();
        std::unique_ptr<link::WriterDevice> device;
        std::unique_ptr<link::usb::UsbEventPump> pump;
        if (options.writer.kind == core::WriterOption::Kind::Usb) {
            auto usb = std::make_unique<link::usb::UsbWriterDevice>();
            usb->setChoice({options.writer.port, options.writer.serial});
            pump = std::make_unique<link::usb::UsbEventPump>(*usb);
            device = std::move(usb);
        } else if (kept) {
            device = std::move(kept);
        } else {
            device = sim::makeStandardWriter();
        }
        app::MainWindow window(*device, paths);
        window.setWriterIdentity(options.writer.recordedIdentity());
        window.show();
        app.exec();
    } catch (const std::exception& e) {
        app.showException(e.what());
    } catch (...) {
        app.showException({});
    }
    return 0;
}

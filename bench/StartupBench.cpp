// Start-up to the first painted window, each run a fresh process: the
// program's window over a Setup.ini with 50 serial flash devices, against a
// bare window with five empty tabs.
#include "bench/StartupBench.h"

#include <unistd.h>
#include <QApplication>
#include <QEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <fstream>
#include <memory>

#include "app/InstanceLock.h"
#include "app/MainWindow.h"
#include "bench/BenchSupport.h"
#include "core/AppPaths.h"
#include "gui/Application.h"
#include "sim/StandardWriter.h"

using namespace sonoprog;

namespace {

constexpr int kDevices = 50;

std::filesystem::path programDir() {
    const auto dir = bench::dataDir() / "startup";
    std::filesystem::create_directories(dir);
    std::ofstream ini(dir / "Setup.ini", std::ios::trunc);
    ini << "[System]\nVersion=Sonoprog V1.0.0\nEngMode=0\n\n"
           "[Device]\nD1=Tarn20\nD2=Kiva300\nD3=Series Flash\n\n"
           "[Series Flash List]\nNumber="
        << kDevices << "\n";
    for (int i = 1; i <= kDevices; ++i) ini << "DevName" << i << "=FLASH" << i << "\n";
    for (int i = 1; i <= kDevices; ++i)
        ini << "\n[FLASH" << i << "]\nSize=" << (1 << (20 + i % 5)) << "\nMID=0xEF\nDID=0x"
            << std::hex << (0x10 + i) << std::dec << "\n";
    return dir;
}

// Ends the process the moment the window has been painted once; nothing after
// the first paint belongs to start-up.
class FirstPaint final : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            QTimer::singleShot(0, [] { std::_Exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }
};

bench::Timed startChild(const char* mode) {
    static const auto dir = programDir();
    const bench::Timed elapsed =
        bench::runProgram({"/proc/self/exe", std::string("--startup-child=") + mode, dir.string()});
    if (elapsed.seconds < 0) bench::fatal(std::string("start-up child failed: ") + mode);
    return elapsed;
}

bench::Timed startProgram() {
    return startChild("program");
}
bench::Timed startBare() {
    return startChild("bare");
}

}  // namespace

int runStartupChild(const std::string& mode, const std::string& dir, int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    FirstPaint firstPaint;
    if (mode == "bare") {
        QApplication app(argc, argv);
        // A window that never paints fails the run instead of hanging it.
        QTimer::singleShot(20000, [] { std::_Exit(3); });
        QWidget window;
        auto* tabs = new QTabWidget(&window);
        for (const char* name : {"Information", "Kiva300 Writer", "Tarn20 Writer",
                                 "Series Flash Writer", "Sound Editor"})
            tabs->addTab(new QWidget, QString::fromLatin1(name));
        (new QVBoxLayout(&window))->addWidget(tabs);
        window.setFixedSize(787, 566);
        window.installEventFilter(&firstPaint);
        window.show();
        return app.exec();
    }
    // The program's own start-up order: the instance guard (under a name of
    // its own, so that a running program does not stop the figure), the
    // application, the window whose construction reads Setup.ini.
    app::InstanceLock instance(app::InstanceLock::lockPath("SonoprogBench"));
    gui::Application app(argc, argv);
    QTimer::singleShot(20000, [] { std::_Exit(3); });
    auto paths = core::AppPaths::forFolder(dir);
    auto writer = sim::makeStandardWriter();
    app::MainWindow window(*writer, paths);
    window.installEventFilter(&firstPaint);
    window.show();
    return app.exec();
}

SONOPROG_SCENARIO("startup/program", startProgram, 3);
SONOPROG_SCENARIO("startup/bare-window", startBare, 3);

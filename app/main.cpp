#include <QApplication>

#include "AppPaths.h"
#include "MainWindow.h"
#include "StandardWriter.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto paths = sonoprog::core::AppPaths::forRunningProgram();
    auto writer = sonoprog::sim::makeStandardWriter();
    sonoprog::gui::MainWindow window(*writer, paths);
    window.show();
    app.exec();
    return 0;
}

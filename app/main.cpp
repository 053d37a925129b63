#include <QApplication>

#include "AppPaths.h"
#include "MainWindow.h"
#include "VirtualWriter.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto paths = sonoprog::core::AppPaths::forRunningProgram();
    sonoprog::sim::VirtualWriter writer;
    sonoprog::gui::MainWindow window(writer, paths);
    window.show();
    app.exec();
    return 0;
}

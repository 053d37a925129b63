#include "Application.h"

#include <QMessageBox>
#include <exception>

#include "QtServices.h"

namespace sonoprog::gui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Sonoprog"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        showException(e.what());
    } catch (...) {
        showException({});
    }
    return false;
}

void Application::showException(const std::string& message) {
    if (reporter_) {
        reporter_(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Sonoprog"), fromLocal(message),
                    QMessageBox::Ok);
    execMessageBox(box);
}

}  // namespace sonoprog::gui

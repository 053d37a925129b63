#include "gui/Application.h"

#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <exception>

#include "gui/QtServices.h"

namespace sonoprog::gui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Sonoprog"));
    // The desktop entry and the icon that an installation puts in the icon
    // theme: the task bar shows the program's own icon, not a blank one.
    setDesktopFileName(QString::fromLatin1(kDesktopFileName));
    setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kIconName)));
    // The window is laid out for Tahoma; where it is missing, a face of
    // similar width keeps captions such as "Series Flash Writer" inside
    // their 100-pixel tab buttons.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                                QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
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

#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace sonoprog::gui {

// The application object. An exception that escapes an event handler is
// shown with its message in a box and the event loop goes on.
class Application final : public QApplication {
    Q_OBJECT
public:
    // Names under which the package installs the desktop entry and the icon.
    static constexpr const char* kDesktopFileName = "org.sonoprog.Sonoprog";
    static constexpr const char* kIconName = "sonoprog";

    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The exception box: caption "Sonoprog", error icon, the message (empty
    // for an exception that is not a std::exception).
    void showException(const std::string& message);
    // Replaces the box (tests).
    void setExceptionReporter(std::function<void(const std::string&)> reporter) {
        reporter_ = std::move(reporter);
    }

private:
    std::function<void(const std::string&)> reporter_;
};

}  // namespace sonoprog::gui

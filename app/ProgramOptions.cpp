#include "app/ProgramOptions.h"

namespace sonoprog::app {

namespace {

// Qt options that take a value; their value must not be read as ours.
bool isQtOptionWithValue(std::string_view arg) {
    for (std::string_view o :
         {"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qmljsdebugger",
          "-style", "-stylesheet", "-session", "-display", "-geometry", "-title",
          "-qwindowgeometry", "-qwindowicon", "-qwindowtitle"})
        if (arg == o) return true;
    return false;
}

}  // namespace

ProgramOptions parseProgramOptions(const std::vector<std::string>& arguments) {
    ProgramOptions options;
    auto fail = [&options](std::string message) {
        options.action = ProgramOptions::Action::Error;
        options.error = std::move(message);
        return options;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        std::optional<std::string> writerValue;
        if (arg == "--help" || arg == "-h") {
            options.action = ProgramOptions::Action::Help;
            return options;
        } else if (arg == "--version") {
            options.action = ProgramOptions::Action::Version;
            return options;
        } else if (arg == "--writer") {
            if (i + 1 >= arguments.size())
                return fail("--writer needs a value: usb, sim or sim:DIR");
            writerValue = arguments[++i];
        } else if (arg.rfind("--writer=", 0) == 0) {
            writerValue = arg.substr(9);
        } else if (isQtOptionWithValue(arg)) {
            ++i;
            continue;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            continue;  // a Qt switch
        } else {
            return fail("unknown argument: " + arg);
        }
        auto writer = core::parseWriterOption(*writerValue);
        if (!writer) return fail("unknown writer: " + *writerValue + " (usb, sim or sim:DIR)");
        options.writer = *writer;
    }
    return options;
}

std::string programHelpText(std::string_view programName) {
    std::string name(programName);
    return "Usage: " + name +
           " [options]\n"
           "Programs Tarn20, serial flash and Kiva300 chips through the Writer.\n"
           "\n"
           "Options:\n"
           "  --writer usb      use the Writer on USB (the default; the first one found)\n"
           "  --writer usb:PORT, --writer usb:serial=TEXT\n"
           "                    use the Writer at this USB port path, or with this serial\n"
           "  --writer sim      use the virtual Writer with blank chips\n"
           "  --writer sim:DIR  use the virtual Writer whose chips are kept in DIR\n"
           "  --version         print the version and exit\n"
           "  -h, --help        print this help and exit\n";
}

}  // namespace sonoprog::app

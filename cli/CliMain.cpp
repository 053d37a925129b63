#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Session.h"
#include "cli/TerminalPane.h"
#include "core/InheritedText.h"
#include "core/Version.h"

using namespace sonoprog::cli;

namespace {

// Help and version are output too: a failed write is no success.
int flushedOrFailed() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return kExitPassed;
    std::fputs("sonoprog-cli: cannot write to standard output\n", stderr);
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = parseArguments(args);
    if (!parsed.invocation) {
        std::fprintf(stderr, "sonoprog-cli: %s\nTry 'sonoprog-cli --help'.\n",
                     parsed.error.c_str());
        // A script reading --json gets its closing object here too.
        if (std::find(args.begin(), std::find(args.begin(), args.end(), "--"), "--json") !=
            args.end())
            std::printf("{\"kind\":\"result\",\"ok\":false,\"exit\":%d,\"message\":%s}\n",
                        kExitUsage, jsonString(parsed.error).c_str());
        return kExitUsage;
    }
    Invocation& inv = *parsed.invocation;
    if (inv.recordsFd) {
        const auto location = sonoprog::core::readInheritedText(*inv.recordsFd);
        if (!location || location->empty()) {
            std::fprintf(stderr, "sonoprog-cli: '--records-fd %d': no records location there\n",
                         *inv.recordsFd);
            return kExitUsage;
        }
        inv.records = *location;
    }
    if (inv.help) {
        std::fputs(usageText().c_str(), stdout);
        return flushedOrFailed();
    }
    if (inv.version) {
        std::printf("%s\n", sonoprog::kVersionText);
        return flushedOrFailed();
    }

    PaneStyle style;
    style.json = inv.json;
    style.colour = !inv.json && ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr;
    style.progressBar = !inv.json && ::isatty(STDERR_FILENO);
    Session session(inv, stdout, stderr, style);
    return runCommand(session);
}

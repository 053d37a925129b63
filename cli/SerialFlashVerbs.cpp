#include <algorithm>
#include <cctype>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/CompareReport.h"
#include "cli/FieldText.h"
#include "core/IniFile.h"
#include "serialflash/SerialFlashDevices.h"
#include "serialflash/SerialFlashOperations.h"

namespace sonoprog::cli {

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Name, size, MID and DID of every device of the list, in list order.
int listDevices(Session& s, const core::IniFile& ini) {
    const auto names = serialflash::listDeviceNames(ini);
    std::size_t width = 4;
    for (const auto& n : names) width = std::max(width, n.size());
    for (const auto& name : names) {
        const serialflash::SerialFlashDevice d = serialflash::readDevice(ini, name);
        std::string line;
        char buf[96];
        if (s.invocation().json) {
            std::snprintf(buf, sizeof buf, ",\"size\":%lld,\"mid\":%lld,\"did\":%lld}",
                          static_cast<long long>(d.size), static_cast<long long>(d.mid),
                          static_cast<long long>(d.did));
            line = "{\"kind\":\"device\",\"name\":" + jsonString(name) + buf;
        } else {
            std::snprintf(buf, sizeof buf, "  %10lld  0x%02llX  0x%02llX",
                          static_cast<long long>(d.size), static_cast<unsigned long long>(d.mid),
                          static_cast<unsigned long long>(d.did));
            line = visibleText(name) + std::string(width - name.size(), ' ') + buf;
        }
        std::fprintf(s.out(), "%s\n", line.c_str());
    }
    return kExitPassed;
}

}  // namespace

// The device is looked up as picking it in the list does; write and verify
// load the image with the tab's Load File first. The Writer is opened only
// when the chip operation runs.
int runSerialFlash(Session& s) {
    const Invocation& inv = s.invocation();
    const std::string_view action = inv.command->action;
    const auto setup = s.paths().setupIni();
    const core::IniFile ini = core::IniFile::load(setup);
    for (const auto& w : ini.lineWarnings()) s.note("warning", w);
    if (!ini.loaded() && action != "load") {
        s.error("cannot read the settings file " + setup.string());
        return kExitFile;
    }
    if (action == "devices") {
        for (const auto& refused : serialflash::refusedDevices(ini))
            s.note("warning", serialflash::refusalText(refused));
        return listDevices(s, ini);
    }

    serialflash::SerialFlashFields fields;
    if (auto device = inv.text("device")) {
        // Typed in any case; the list's own spelling names the section.
        const auto names = serialflash::listDeviceNames(ini);
        const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
            return sameLetters(n, *device);
        });
        if (found == names.end()) {
            if (const auto refused = serialflash::readDevice(ini, *device); refused.refusedSize) {
                s.error(serialflash::refusalText(refused));
                return kExitUsage;
            }
            s.error("'" + *device + "' is not in the serial flash list of " + setup.string() +
                    " (see 'sonoprog-cli serialflash devices')");
            return kExitUsage;
        }
        fields.device = *found;
    }

    serialflash::SerialFlashOperations picker(fields, s.services());
    if (!fields.device.empty()) picker.deviceChange();
    const bool takesImage =
        action == "load" || action == "write" || action == "verify" || action == "compare";
    if (takesImage) {
        if (!picker.loadImage(inv.arguments.at(0))) return s.result(false);
        if (action == "load") return s.exitStatus();
    }
    if (action == "read" && !s.confirmReplace(inv.arguments.at(0))) return s.result(false);
    core::WriterLink* link = s.writerLink();
    if (!link) return s.result(false);
    serialflash::SerialFlashOperations ops(fields, s.services(link));
    // Ctrl+C ends the block loop at the next block; the chip is still disabled.
    StopSignals signals;
    if (action == "compare") {
        core::ImageComparer diff;
        if (!ops.compare(diff)) return s.result(false);
        return reportComparison(s, diff);
    }
    if (action == "probe") {
        std::vector<std::string> answered;
        const bool ok = ops.probe(answered);
        std::string list;
        for (const auto& name : answered) {
            std::fprintf(s.out(),
                         s.invocation().json ? "{\"kind\":\"device\",\"name\":%s}\n" : "%s\n",
                         (s.invocation().json ? jsonString(name) : visibleText(name)).c_str());
            list += (list.empty() ? "" : ", ") + name;
        }
        std::fflush(s.out());
        if (ok) s.setResultMessage(list);
        return s.result(ok);
    }
    const bool ok = action == "blank"   ? ops.blankCheck()
                    : action == "write" ? ops.write()
                    : action == "read"
                        ? ops.read(inv.arguments.at(0), inv.number("length").value_or(0))
                    : action == "erase" ? ops.erase()
                                        : ops.verify();
    if (!ok && gStopRequested.load()) s.markFailed(kExitStopped);
    if (auto at = ops.firstMismatch()) s.addResultMember("first_mismatch", std::to_string(*at));
    return s.result(ok);
}

}  // namespace sonoprog::cli

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Arguments.h"
#include "link/usb/UsbWriterDevice.h"

namespace sonoprog::cli {

class Session;

// One Writer of a gang run: the text its worker gets as --writer, and the
// short name its lines are prefixed with ("1-1.3" for USB, DIR for sim:DIR).
struct GangMember {
    std::string writer;
    std::string id;
    friend bool operator==(const GangMember&, const GangMember&) = default;
};

// The Writers --writers names: "all" (every USB Writer in `attached`) or a
// comma-separated list of what --writer takes. nullopt with `error` set when
// the list cannot be run: a text that names no Writer, a USB Writer that is
// not attached, plain "usb" or "sim" (which of several?), a Writer named
// twice, or no Writer at all.
std::optional<std::vector<GangMember>> gangMembers(
    std::string_view list, const std::vector<link::usb::AttachedWriter>& attached,
    std::string& error);

// The arguments (after the program) a worker runs with: the same job and
// options as the gang, on its one Writer, objects on standard output. The
// records location is never among them (it may hold a password): the worker
// reads it from the inherited descriptor `recordsFd`, or from Setup.ini as
// the gang does.
std::vector<std::string> workerArguments(const Invocation& inv, const std::string& writer,
                                         int recordsFd = -1);

// `produce JOB.json --writers ...`: one worker process per Writer, their
// output merged, the totals over all of them and per Writer. Returns the exit
// status: 1 when a unit failed or a worker ended without its total.
int runGang(Session& s);

}  // namespace sonoprog::cli

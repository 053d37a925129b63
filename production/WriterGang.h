#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/usb/UsbWriterDevice.h"

namespace sonoprog::production {

// One Writer of a gang: the text its worker gets as --writer, and the short
// name its lines are prefixed with ("1-1.3" for USB, DIR for sim:DIR).
struct GangMember {
    std::string writer;
    std::string id;
    friend bool operator==(const GangMember&, const GangMember&) = default;
};

// Why an entry of a Writers list cannot run.
enum class WriterProblem {
    None,
    NotAWriter,   // names no Writer at all ("floppy", "")
    AnyWriter,    // plain "usb" or "sim": which of several?
    NotAttached,  // a USB Writer that is not on the bus now
    Twice,        // the same Writer as an earlier entry, by its port or its folder
};

struct WriterListEntry {
    GangMember member;  // member.writer is the entry's text
    WriterProblem problem = WriterProblem::None;
    std::string error;  // why not, without the option's name; empty when it can run
};

// A Writers list ([Production] Writers=, --writers) read once against the USB
// Writers attached now: "all" (every attached Writer) or a comma-separated
// list of what --writer takes. Two texts that name one Writer (a serial number
// and the port of that Writer, a folder with and without "/.") are the same
// Writer: two loops on one Writer would fight over its socket.
struct WriterList {
    std::vector<WriterListEntry> entries;
    bool all = false;  // the list was "all"
    // The list's first problem as the command line says it ("'--writers':
    // 'x' is no Writer ..."), or empty when every entry can run and there is
    // at least one.
    std::string firstError(std::string_view option) const;
};
WriterList readWriterList(std::string_view list,
                          const std::vector<link::usb::AttachedWriter>& attached);

// The strict reading the command line runs: every entry must be a Writer of
// its own, and a USB Writer must be attached. nullopt with `error` set otherwise.
std::optional<std::vector<GangMember>> gangMembers(
    std::string_view list, const std::vector<link::usb::AttachedWriter>& attached,
    std::string& error);

// Whether reading `list` needs the USB Writers attached ("all", or a usb: entry).
bool listNeedsUsbWriters(std::string_view list);
// The USB Writers attached now, listed once and let go again: the workers
// open their Writers themselves.
std::vector<link::usb::AttachedWriter> attachedUsbWriters();
// "usb:1-1.1 (serial K1), usb:1-1.2", or "no Writer is attached".
std::string describeWriters(const std::vector<link::usb::AttachedWriter>& writers);

// What a worker is given besides the program's name: the same job on its one
// Writer, objects on standard output, the unit loop waiting for chips.
struct WorkerCommand {
    std::string writer;
    std::string jobPath;
    // The records location never goes on the command line (any local user
    // reads it, and a line database's address may hold its password): the
    // worker reads it from this inherited descriptor, or, at -1, from Setup.ini.
    int recordsFd = -1;
    std::string setup;       // --setup, when given
    std::string tempFolder;  // --temp, when given
    bool yes = false;
    std::optional<long long> units;
    std::string operatorName;
    std::optional<long long> quantity;        // --quantity: the gang's, each worker's too
    std::optional<long long> stopAfterFails;  // --stop-after-fails
    std::optional<std::string> lot;           // --lot
};
std::vector<std::string> workerArguments(const WorkerCommand& command);

// Splits a stream's bytes into lines as they come: whole lines go to `each`
// (without their '\n'), a partial last one waits for more.
class LineSplitter {
public:
    template <typename Each>
    void feed(std::string_view bytes, Each each) {
        pending_.append(bytes);
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != std::string::npos;
             start = end + 1)
            each(std::string_view(pending_).substr(start, end - start));
        pending_.erase(0, start);
    }
    // At the stream's end: what is left, as a last line (nullopt when nothing is).
    std::optional<std::string> finish();
    void clear() { pending_.clear(); }

private:
    std::string pending_;
};

}  // namespace sonoprog::production

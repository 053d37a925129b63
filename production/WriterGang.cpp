#include "production/WriterGang.h"

#include <filesystem>
#include <set>
#include <utility>

#include "core/WriterOption.h"

namespace sonoprog::production {

namespace {

// How each problem reads; the command line puts its option's name before the
// rows that say so.
struct ProblemText {
    WriterProblem problem;
    bool optionNamed;
    const char* before;
    const char* after;
};
constexpr ProblemText kProblemTexts[] = {
    {WriterProblem::NotAWriter, true, "'",
     "' is no Writer (expected sim:DIR, usb:PORT or usb:serial=TEXT, or all)"},
    {WriterProblem::AnyWriter, true, "'",
     "' could be any Writer; name each one (sim:DIR, usb:PORT, usb:serial=TEXT)"},
    {WriterProblem::NotAttached, false, "no Writer at ", "; attached: "},
    {WriterProblem::Twice, true, "'", "' names a Writer already in the list"},
};

const ProblemText& textOf(WriterProblem problem) {
    for (const auto& row : kProblemTexts)
        if (row.problem == problem) return row;
    return kProblemTexts[0];
}

// What makes two folders the same virtual Writer.
std::string folderKey(const std::string& folder) {
    std::error_code ec;
    auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(folder, ec), ec);
    return "sim:" + path.lexically_normal().string();
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string WriterList::firstError(std::string_view option) const {
    // "'--writers all'" on the command line, "'Writers=all'" for Setup.ini.
    const std::string name(option);
    if (entries.empty())
        return "'" + name + (name.ends_with('=') ? "" : " ") + "all': no Writer is attached";
    for (const auto& e : entries)
        if (e.problem != WriterProblem::None)
            return textOf(e.problem).optionNamed ? "'" + std::string(option) + "': " + e.error
                                                 : e.error;
    return {};
}

WriterList readWriterList(std::string_view list,
                          const std::vector<link::usb::AttachedWriter>& attached) {
    WriterList result;
    // Blanks around the entries are the list's, not the Writers' ("a, b").
    list = trimmed(list);
    if (list == "all") {
        result.all = true;
        for (const auto& a : attached) {
            WriterListEntry entry;
            entry.member = {"usb:" + a.port, a.port};
            result.entries.push_back(std::move(entry));
        }
        return result;
    }
    std::set<std::string> seen;
    std::string_view rest = list;
    do {
        const auto comma = rest.find(',');
        WriterListEntry entry;
        entry.member.writer = std::string(trimmed(rest.substr(0, comma)));
        entry.member.id = entry.member.writer;
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const auto option = core::parseWriterOption(entry.member.writer);
        std::string key;
        if (!option) {
            entry.problem = WriterProblem::NotAWriter;
        } else if (option->kind == core::WriterOption::Kind::Sim ||
                   (option->kind == core::WriterOption::Kind::Usb && option->port.empty() &&
                    option->serial.empty())) {
            entry.problem = WriterProblem::AnyWriter;
        } else if (option->kind == core::WriterOption::Kind::SimDir) {
            entry.member.id = option->folder;
            key = folderKey(option->folder);
        } else {
            entry.member.id = option->port.empty() ? option->serial : option->port;
            const link::usb::WriterChoice choice{option->port, option->serial};
            entry.problem = WriterProblem::NotAttached;
            for (const auto& a : attached)
                if (choice.matches(a)) {
                    // A serial number and a port may name the same Writer: compare ports then.
                    entry.member.id = a.port;
                    entry.problem = WriterProblem::None;
                    key = "usb:" + a.port;
                    break;
                }
            if (entry.problem == WriterProblem::NotAttached)
                key = "usb:" + option->port + "/" + option->serial;
        }
        if (!key.empty() && !seen.insert(key).second) entry.problem = WriterProblem::Twice;
        if (entry.problem != WriterProblem::None) {
            const auto& text = textOf(entry.problem);
            entry.error = text.before + entry.member.writer + text.after;
            if (entry.problem == WriterProblem::NotAttached)
                entry.error += describeWriters(attached);
        }
        result.entries.push_back(std::move(entry));
    } while (!rest.empty());
    return result;
}

std::optional<std::vector<GangMember>> gangMembers(
    std::string_view list, const std::vector<link::usb::AttachedWriter>& attached,
    std::string& error) {
    const WriterList read = readWriterList(list, attached);
    error = read.firstError("--writers");
    if (!error.empty()) return std::nullopt;
    std::vector<GangMember> members;
    for (const auto& e : read.entries) members.push_back(e.member);
    return members;
}

bool listNeedsUsbWriters(std::string_view list) {
    return trimmed(list) == "all" || list.find("usb") != std::string_view::npos;
}

std::vector<link::usb::AttachedWriter> attachedUsbWriters() {
    link::usb::UsbWriterDevice usb;
    return usb.attachedWriters(false);
}

std::string describeWriters(const std::vector<link::usb::AttachedWriter>& writers) {
    if (writers.empty()) return "no Writer is attached";
    std::string text;
    for (const auto& w : writers) {
        if (!text.empty()) text += ", ";
        text += link::usb::identityText(w);
    }
    return text;
}

std::vector<std::string> workerArguments(const WorkerCommand& c) {
    std::vector<std::string> args = {"--writer", c.writer, "--json"};
    if (!c.setup.empty()) args.insert(args.end(), {"--setup", c.setup});
    if (!c.tempFolder.empty()) args.insert(args.end(), {"--temp", c.tempFolder});
    if (c.recordsFd >= 0) args.insert(args.end(), {"--records-fd", std::to_string(c.recordsFd)});
    if (c.yes) args.push_back("--yes");
    args.insert(args.end(), {"produce", "--trigger", "insert"});
    if (c.units) args.insert(args.end(), {"--units", std::to_string(*c.units)});
    if (!c.operatorName.empty()) args.insert(args.end(), {"--operator", c.operatorName});
    if (c.quantity) args.insert(args.end(), {"--quantity", std::to_string(*c.quantity)});
    if (c.stopAfterFails)
        args.insert(args.end(), {"--stop-after-fails", std::to_string(*c.stopAfterFails)});
    if (c.lot) args.insert(args.end(), {"--lot", *c.lot});
    // After "--": a job file whose name starts with a dash stays a file.
    args.insert(args.end(), {"--", c.jobPath});
    return args;
}

std::optional<std::string> LineSplitter::finish() {
    if (pending_.empty()) return std::nullopt;
    return std::exchange(pending_, {});
}

}  // namespace sonoprog::production

#include "cli/Arguments.h"

#include <algorithm>
#include <utility>

#include "cli/ExitCodes.h"
#include "core/NumberText.h"

namespace sonoprog::cli {

namespace {

// The tab fields an option fills hold signed 32-bit decimal numbers, so no
// number above 2147483647 goes into one (it would turn negative there).
constexpr std::uint64_t kFieldMax = 0x7FFFFFFF;

constexpr OptionRule number(std::string_view name, bool required = false,
                            std::uint64_t max = kFieldMax, std::uint64_t min = 0) {
    return {name, OptionKind::Number, required, max, min};
}

constexpr OptionRule text(std::string_view name, bool required = false) {
    return {name, OptionKind::Text, required, 0};
}

constexpr OptionRule flag(std::string_view name) {
    return {name, OptionKind::Flag, false, 0};
}

constexpr OptionRule named(OptionRule rule, std::string_view value) {
    rule.value = value;
    return rule;
}

constexpr OptionRule page(OptionRule rule) {
    return named(rule, "PAGE");
}

constexpr OptionRule pages(OptionRule rule) {
    return named(rule, "PAGES");
}

constexpr OptionRule device(bool required) {
    return text("device", required);
}

// The short names of the chips, accepted wherever the long ones are.
constexpr std::pair<std::string_view, std::string_view> kChipAliases[] = {
    {"tarn", "tarn20"},
    {"nor", "serialflash"},
    {"kiva", "kiva300"},
};

bool isVariadic(std::string_view argument) {
    return argument.size() > 3 && argument.substr(argument.size() - 3) == "...";
}

// Global options that take a value.
bool isValuedGlobal(std::string_view name) {
    return name == "writer" || name == "writers" || name == "setup" || name == "temp" ||
           name == "records" || name == "records-fd";
}

bool isFlagGlobal(std::string_view name) {
    return name == "yes" || name == "json" || name == "help" || name == "version";
}

bool isFlagOption(std::string_view name) {
    for (const auto& c : commandTable())
        for (const auto& o : c.options)
            if (o.name == name && o.kind == OptionKind::Flag) return true;
    return false;
}

bool isAnyCommandOption(std::string_view name) {
    for (const auto& c : commandTable())
        for (const auto& o : c.options)
            if (o.name == name) return true;
    return false;
}

// Whether a command of `family` declares the option `name`.
bool familyDeclares(std::string_view family, std::string_view name) {
    for (const auto& c : commandTable())
        if (c.family == family)
            for (const auto& o : c.options)
                if (o.name == name) return true;
    return false;
}

std::string placeholder(const OptionRule& o) {
    if (!o.value.empty()) return std::string(o.value);
    return o.kind == OptionKind::Number ? "N" : "NAME";
}

std::string commandName(const CommandRule& c) {
    return c.action.empty() ? std::string(c.family)
                            : std::string(c.family) + " " + std::string(c.action);
}

const CommandRule* oneWordCommand(std::string_view family) {
    for (const auto& c : commandTable())
        if (c.family == family && c.action.empty()) return &c;
    return nullptr;
}

std::string actionsOf(std::string_view family) {
    std::string list;
    for (const auto& c : commandTable()) {
        if (c.family != family) continue;
        if (!list.empty()) list += ", ";
        list += c.action.empty() ? std::string("(none)") : std::string(c.action);
    }
    return list;
}

}  // namespace

const std::vector<CommandRule>& commandTable() {
    static const std::vector<CommandRule> table = {
        {"tarn20", "load", {"IMAGE"}, {pages(number("info-page"))}},
        {"tarn20",
         "write",
         {"IMAGE"},
         {page(number("start")), pages(number("count")), pages(number("info-page"))}},
        {"tarn20",
         "verify",
         {"IMAGE"},
         {page(number("start")), pages(number("count")), pages(number("info-page")),
          named(number("allow-error"), "BYTES")}},
        {"tarn20", "read", {}, {}},
        {"tarn20", "blank", {}, {}},
        {"tarn20",
         "compare",
         {"IMAGE"},
         {page(number("start")), pages(number("count")), pages(number("info-page")),
          flag("no-mirror")}},
        {"serialflash", "devices", {}, {}},
        {"serialflash", "probe", {}, {}},
        {"serialflash", "load", {"IMAGE"}, {}},
        {"serialflash", "blank", {}, {device(true)}},
        {"serialflash", "write", {"IMAGE"}, {device(true)}},
        {"serialflash", "verify", {"IMAGE"}, {device(true)}},
        {"serialflash", "compare", {"IMAGE"}, {device(true)}},
        // The Writer addresses 24 bits: no device holds more than 16 MiB.
        {"serialflash",
         "read",
         {"FILE"},
         {device(true), named(number("length", false, 1u << 24, 1), "BYTES")}},
        {"serialflash", "erase", {}, {device(true)}},
        {"kiva300", "load", {"DAT"}, {}},
        {"kiva300", "blank", {}, {}},
        {"kiva300", "write", {"DAT"}, {}},
        {"kiva300", "verify", {"DAT"}, {}},
        {"kiva300", "compare", {"DAT"}, {}},
        {"editor", "new", {"PROJECT.log"}, {}},
        {"editor", "add", {"PROJECT.log", "FILE..."}, {number("section", false, 1023)}},
        {"editor",
         "import",
         {"PROJECT.log", "FILE..."},
         {number("section", false, 1023), named(number("rate"), "HZ"), flag("mono"),
          flag("no-normalize"), named(text("trim-db"), "DB"), named(text("out"), "DIR")}},
        {"editor", "list", {"PROJECT.log"}, {}},
        {"editor", "remove", {"PROJECT.log"}, {number("section", true, 1023)}},
        {"editor",
         "move",
         {"PROJECT.log"},
         {number("section", true, 1023), flag("up"), flag("down")}},
        {"editor", "refresh", {"PROJECT.log"}, {}},
        {"editor", "build", {"PROJECT.log", "OUT.bin"}, {}},
        {"writers", "", {}, {}},
        // Larger images than 16 MiB are no Kiva300 image; refused rather than allocated.
        {"ivr",
         "decode",
         {"DAT", "OUT.bin"},
         {named(number("length", false, 1u << 24, 1), "BYTES")}},
        {"ivr",
         "encode",
         {"IMAGE", "OUT.dat"},
         {number("data-offset", true, 0x7FFF), number("start", true, 0x7FFFFFFF),
          number("end", true, 0x7FFFFFFF)}},
        {"job",
         "new",
         {"JOB.json"},
         {named(text("target", true), "tarn20|serialflash|kiva300"),
          named(text("image", true), "IMAGE"), device(false), named(text("name"), "TEXT"),
          page(number("start")), pages(number("count")), pages(number("info-page")),
          named(number("allow-error"), "BYTES"), flag("blank")}},
        {"job", "show", {"JOB.json"}, {}},
        {"produce",
         "",
         {"JOB.json"},
         {number("units"), named(text("trigger"), "insert|enter"), text("operator"),
          named(number("wait"), "SECONDS"), named(text("lot"), "TEXT"),
          number("quantity", false, kFieldMax, 1), number("stop-after-fails")}},
        {"records",
         "",
         {},
         {named(text("job"), "JOB.json"), named(text("since"), "TIME"),
          named(text("until"), "TIME"), named(text("station"), "STATION"),
          named(text("writer"), "WRITER"), named(text("result"), "pass|fail|reset"),
          named(text("lot"), "TEXT"), flag("csv")}},
        {"records", "summary", {}, {named(text("job"), "JOB.json")}},
        {"production", "password", {}, {}},
        {"production", "socket-reset", {"WRITER"}, {}},
        {"serve", "", {}, {named(text("listen"), "ADDR:PORT")}},
    };
    return table;
}

std::string_view chipName(std::string_view word) {
    for (const auto& [shortName, longName] : kChipAliases)
        if (word == shortName) return longName;
    return word;
}

std::optional<std::uint64_t> Invocation::number(std::string_view name) const {
    auto it = numbers.find(name);
    if (it == numbers.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> Invocation::text(std::string_view name) const {
    auto it = texts.find(name);
    if (it == texts.end()) return std::nullopt;
    return it->second;
}

std::string usageText() {
    std::string u =
        "Usage: sonoprog-cli [--writer usb|sim|sim:DIR] [--setup FILE] [--temp DIR] "
        "[--records FILE|URL] [--yes] [--json] COMMAND ...\n";
    for (const auto& c : commandTable()) {
        std::string line = "  " + std::string(c.family);
        // Actions line up after the family names; a longer one takes one blank.
        if (!c.action.empty()) line.resize(std::max<std::size_t>(line.size() + 1, 15), ' ');
        line += std::string(c.action);
        for (auto a : c.arguments) line += " " + std::string(a);
        for (const auto& o : c.options) {
            std::string opt = "--" + std::string(o.name);
            if (o.kind != OptionKind::Flag) opt += " " + placeholder(o);
            line += o.required ? " " + opt : " [" + opt + "]";
        }
        u += line + "\n";
    }
    u += "Options:\n"
         "  --writer usb|sim|sim:DIR  the real Writer (default), the virtual Writer with blank\n"
         "                            chips, or the virtual Writer keeping its chips in DIR\n"
         "           usb:PORT         the Writer at this USB port path (1-1.3; see 'writers')\n"
         "           usb:serial=TEXT  the Writer reporting this serial number\n"
         "  --writers all|W1,W2,...   produce only: every Writer named (as --writer takes them)\n"
         "                            or every USB Writer attached, one worker process each\n"
         "  --setup FILE              settings file instead of Setup.ini beside the program\n"
         "  --temp DIR                folder for the log files instead of Temp beside the program\n"
         "  --records FILE|URL        the production records: a file (default:\n"
         "                            $XDG_STATE_HOME/sonoprog/records.sqlite) or a\n"
         "                            line's database, postgresql://...\n"
         "  --records-fd N            --records read from the inherited descriptor N\n"
         "  --yes                     answer Yes to every question (default: No)\n"
         "  --json                    one JSON object per log line\n"
         "  --help, --version\n"
         "The chips answer to short names as well: tarn for tarn20, nor for serialflash,\n"
         "kiva for kiva300 (also as a job's --target).\n"
         "Numbers are decimal or 0x-hexadecimal.\n"
         "Exit status:\n";
    for (const auto& m : kExitMeanings) {
        std::string code = std::to_string(m.code);
        code.resize(5, ' ');
        u += "  " + code + std::string(m.meaning) + "\n";
    }
    u += "  ('produce' exits 1 when a unit failed.)\n";
    return u;
}

ParseResult parseArguments(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<std::string> words;  // family, action, positional arguments
    std::vector<std::pair<std::string, std::string>> commandOptions;  // name, value
    std::vector<std::string> valuelessCommandOptions;
    auto fail = [](std::string message) { return ParseResult{std::nullopt, std::move(message)}; };

    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            if (!optionsEnded && arg.size() > 1 && arg[0] == '-')
                return fail("unknown option '" + arg + "'");
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (!isFlagGlobal(name) && !isValuedGlobal(name) && !isAnyCommandOption(name))
            return fail("unknown option '--" + name + "'");
        if (isFlagGlobal(name)) {
            if (value) return fail("option '--" + name + "' takes no value");
            if (name == "yes") inv.yes = true;
            if (name == "json") inv.json = true;
            if (name == "help") inv.help = true;
            if (name == "version") inv.version = true;
            continue;
        }
        // After the command's word, an option the command declares is the
        // command's even where a global option has its name: `records
        // --writer WRITER` picks the records of a Writer.
        const bool global =
            isValuedGlobal(name) && !(!words.empty() && familyDeclares(chipName(words[0]), name));
        if (!value && !global && isFlagOption(name)) {
            valuelessCommandOptions.push_back(name);
            continue;
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                if (global) return fail("option '--" + name + "' needs a value");
                valuelessCommandOptions.push_back(name);
                continue;
            }
            value = args[++i];
        }
        if (!global) {
            commandOptions.emplace_back(name, *value);
        } else if (name == "writer") {
            auto choice = core::parseWriterOption(*value);
            if (!choice)
                return fail("'--writer " + *value +
                            "': expected usb, sim or sim:DIR (or usb:PORT, usb:serial=TEXT)");
            inv.writer = *choice;
            inv.writerNamed = true;
        } else if (name == "writers") {
            if (value->empty()) return fail("option '--writers' needs a value");
            inv.writers = *value;
        } else if (name == "records-fd") {
            const auto fd = core::parseOptionNumber(*value);
            if (!fd || *fd > 0x7FFFFFFF)
                return fail("'--records-fd " + *value + "': expected a descriptor number");
            inv.recordsFd = static_cast<int>(*fd);
        } else {  // setup, temp, records
            if (value->empty()) return fail("option '--" + name + "' needs a value");
            (name == "setup" ? inv.setup : name == "temp" ? inv.temp : inv.records) = *value;
        }
    }

    if (inv.records && inv.recordsFd) return fail("'--records' or '--records-fd', not both");
    if (inv.help || inv.version) return {inv, {}};
    if (words.empty()) return fail("no command given");
    words[0] = std::string(chipName(words[0]));
    const std::string& family = words[0];
    if (actionsOf(family).empty()) return fail("unknown command '" + family + "'");
    if (words.size() >= 2)
        for (const auto& c : commandTable())
            if (c.family == family && !c.action.empty() && c.action == words[1]) inv.command = &c;
    // A command of one word ("produce JOB.json") takes what follows as its arguments.
    std::size_t firstArgument = 2;
    if (!inv.command && (inv.command = oneWordCommand(family))) firstArgument = 1;
    if (!inv.command && words.size() < 2)
        return fail("'" + family + "' needs one of: " + actionsOf(family));
    if (!inv.command)
        return fail("unknown command '" + family + " " + words[1] + "' (" + family +
                    " takes: " + actionsOf(family) + ")");
    const CommandRule& cmd = *inv.command;
    const std::string name = commandName(cmd);

    inv.arguments.assign(words.begin() + static_cast<std::ptrdiff_t>(firstArgument), words.end());
    if (inv.arguments.size() < cmd.arguments.size())
        return fail("'" + name + "' needs " + std::string(cmd.arguments[inv.arguments.size()]));
    const bool variadic = !cmd.arguments.empty() && isVariadic(cmd.arguments.back());
    if (!variadic && inv.arguments.size() > cmd.arguments.size())
        return fail("'" + name + "': unexpected argument '" + inv.arguments[cmd.arguments.size()] +
                    "'");
    for (const auto& a : inv.arguments)
        if (a.empty()) return fail("'" + name + "': an empty file name");

    auto findOption = [&](std::string_view optName) -> const OptionRule* {
        for (const auto& o : cmd.options)
            if (o.name == optName) return &o;
        return nullptr;
    };
    for (const auto& optName : valuelessCommandOptions) {
        const OptionRule* rule = findOption(optName);
        if (!rule) return fail("'" + name + "': unknown option '--" + optName + "'");
        if (rule->kind == OptionKind::Flag) {
            inv.flags[optName] = true;
            continue;
        }
        return fail("option '--" + optName + "' needs a value");
    }
    for (const auto& [optName, value] : commandOptions) {
        const OptionRule* rule = findOption(optName);
        if (!rule) return fail("'" + name + "': unknown option '--" + optName + "'");
        if (rule->kind == OptionKind::Flag)
            return fail("option '--" + optName + "' takes no value");
        if (rule->kind == OptionKind::Text) {
            if (value.empty()) return fail("option '--" + optName + "' needs a value");
            inv.texts[optName] = value;
            continue;
        }
        auto n = core::parseOptionNumber(value);
        if (!n)
            return fail("'--" + optName + " " + value +
                        "': not a number (decimal or 0x-hexadecimal)");
        if (*n > rule->max || *n < rule->min)
            return fail("'--" + optName + " " + value + "': " +
                        (rule->min == 0 ? "at most " + std::to_string(rule->max)
                                        : "from " + std::to_string(rule->min) + " to " +
                                              std::to_string(rule->max)));
        inv.numbers[optName] = *n;
    }
    for (const auto& o : cmd.options)
        if (o.required && !inv.numbers.count(o.name) && !inv.texts.count(o.name))
            return fail("'" + name + "' needs --" + std::string(o.name));
    if (inv.writers) {
        if (cmd.family != "produce") return fail("'--writers' goes with 'produce' only");
        if (inv.writerNamed) return fail("'--writer' or '--writers', not both");
        // The workers' standard input is no keyboard, and one keyboard could
        // not start several sockets anyway.
        if (inv.text("trigger").value_or("insert") == "enter")
            return fail("'--trigger enter' takes one Writer; several are started by insertion");
    }
    return {inv, {}};
}

}  // namespace sonoprog::cli

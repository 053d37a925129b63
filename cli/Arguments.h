#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/WriterOption.h"

namespace sonoprog::cli {

enum class OptionKind { Number, Text, Flag };

struct OptionRule {
    std::string_view name;  // without the leading "--"
    OptionKind kind;
    bool required = false;
    // Numbers only: the range of the field or value the option fills.
    std::uint64_t max = 0x7FFFFFFF;
    std::uint64_t min = 0;
    std::string_view value = {};  // the usage's name of the value; N or NAME without
};

struct CommandRule {
    std::string_view family;  // "tarn"
    std::string_view action;  // "write"; empty for a command of one word
    // "IMAGE", in order, all required; a last one ending in "..." ("FILE...")
    // takes one or more.
    std::vector<std::string_view> arguments;
    std::vector<OptionRule> options;
};

// The long name of a chip for its short one ("nor": "serialflash"); any other
// word as it stands.
std::string_view chipName(std::string_view word);

// Every command of the front end, in the order the usage lists them.
const std::vector<CommandRule>& commandTable();

struct Invocation {
    // global options
    core::WriterOption writer;
    bool writerNamed = false;  // --writer was given (else the default)
    // produce only: several Writers at once, "all" or a comma-separated list
    // of what --writer takes
    std::optional<std::string> writers;
    std::optional<std::string> setup;
    std::optional<std::string> temp;
    std::optional<std::string> records;  // the records database instead of the default
    // --records read from this inherited descriptor: a worker's, whose
    // command line anyone may read
    std::optional<int> recordsFd;
    bool yes = false;
    bool json = false;
    bool help = false;
    bool version = false;

    const CommandRule* command = nullptr;  // null with --help / --version alone
    std::vector<std::string> arguments;
    std::map<std::string, std::uint64_t, std::less<>> numbers;
    std::map<std::string, std::string, std::less<>> texts;

    std::optional<std::uint64_t> number(std::string_view name) const;
    std::optional<std::string> text(std::string_view name) const;
    bool flag(std::string_view name) const { return flags.count(std::string(name)) > 0; }
    std::map<std::string, bool, std::less<>> flags;
};

struct ParseResult {
    std::optional<Invocation> invocation;
    std::string error;  // a usage error when invocation is empty
};

// Global options may stand anywhere; "--name value" and "--name=value" both
// work; "--" ends the options. Numbers are decimal or 0x-hexadecimal.
ParseResult parseArguments(const std::vector<std::string>& args);

std::string usageText();

}  // namespace sonoprog::cli

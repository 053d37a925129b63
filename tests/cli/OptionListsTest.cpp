#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/Arguments.h"
#include "cli/ExitCodes.h"

using namespace sonoprog::cli;

namespace {

std::string sourceFile(const std::string& relative) {
    std::ifstream in(std::string(SONOPROG_SOURCE_DIR) + "/" + relative);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every "--name" of a text; `dashes` is how the text writes "--".
std::set<std::string> optionsIn(const std::string& text, const std::string& dashes) {
    std::set<std::string> names;
    const std::regex option(dashes + "([a-z][a-z]*(?:" + (dashes == "--" ? "-" : "\\\\-") +
                            "[a-z]+)*)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it) {
        std::string name = (*it)[1];
        name = std::regex_replace(name, std::regex("\\\\-"), "-");
        names.insert(name);
    }
    return names;
}

}  // namespace

// The help, the manual page and the shell's completion name the same options,
// and the latter two every command the help lists.
TEST(OptionLists, HelpManualPageAndCompletionAgree) {
    const std::string help = usageText();
    const std::string manual = sourceFile("packaging/man/sonoprog-cli.1.in");
    const std::string completion = sourceFile("packaging/completion/sonoprog-cli");
    ASSERT_FALSE(manual.empty());
    ASSERT_FALSE(completion.empty());

    const auto fromHelp = optionsIn(help, "--");
    EXPECT_GT(fromHelp.size(), 30u);
    EXPECT_EQ(optionsIn(manual, "\\\\-\\\\-"), fromHelp);
    EXPECT_EQ(optionsIn(completion, "--"), fromHelp);

    for (const auto& c : commandTable()) {
        const std::string family(c.family), action(c.action);
        EXPECT_TRUE(std::regex_search(completion,
                                      std::regex("compgen -W \"(?:[a-z0-9]+ )*" + family + "\\b")))
            << family;
        if (action.empty()) continue;
        EXPECT_NE(manual.find(family + " " + action), std::string::npos) << family << " " << action;
        EXPECT_TRUE(
            std::regex_search(completion, std::regex(family + "\\) subs=\"[a-z ]*\\b" + action +
                                                     "\\b|" + family + "/" + action + "\\)")))
            << family << " " << action;
    }
    // The exit statuses, in the help and on the manual page alike.
    for (const auto& m : kExitMeanings) {
        EXPECT_NE(help.find("  " + std::to_string(m.code) + " "), std::string::npos) << m.code;
        EXPECT_NE(manual.find(".B " + std::to_string(m.code) + "\n"), std::string::npos) << m.code;
    }
}

TEST(ExitStatus, TheWorseCauseWinsAndFailLinesSayTheirCause) {
    struct Case {
        int a, b, worse;
    } orders[] = {
        {kExitPassed, kExitFailed, kExitFailed},   {kExitFailed, kExitFile, kExitFile},
        {kExitFile, kExitNoWriter, kExitNoWriter}, {kExitNoWriter, kExitUsage, kExitUsage},
        {kExitUsage, kExitStopped, kExitStopped},  {kExitPassed, kExitPassed, kExitPassed},
    };
    for (const auto& c : orders) {
        EXPECT_EQ(worseExit(c.a, c.b), c.worse) << c.a << " " << c.b;
        EXPECT_EQ(worseExit(c.b, c.a), c.worse) << c.b << " " << c.a;
    }
    struct Line {
        const char* bare;
        int code;
    } lines[] = {
        {"USB failed!", kExitNoWriter},
        {"Can't open this file!", kExitFile},
        {"Failed to open DAT file: /x.bin", kExitFile},
        {"his file was modified! /x.bin", kExitFile},
        {"Failed to create read file!", kExitFile},
        {"Verify failed!", kExitFailed},
        {"Chip is not blank!", kExitFailed},
        {"Failed to read page: 0x000001 (USB failed!)!", kExitFailed},
    };
    for (const auto& l : lines) EXPECT_EQ(exitForFailText(l.bare), l.code) << l.bare;
}

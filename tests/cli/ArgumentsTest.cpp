#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cli/Arguments.h"

using namespace sonoprog::cli;
using WriterChoice = sonoprog::core::WriterOption;

namespace {

Invocation parsed(const std::vector<std::string>& args) {
    auto r = parseArguments(args);
    EXPECT_TRUE(r.invocation) << r.error;
    return r.invocation.value_or(Invocation{});
}

std::string usageError(const std::vector<std::string>& args) {
    auto r = parseArguments(args);
    EXPECT_FALSE(r.invocation);
    return r.error;
}

}  // namespace

TEST(Arguments, CommandWithDefaultsAndGlobalOptionsAnywhere) {
    auto inv = parsed({"tarn", "write", "a.bin"});
    ASSERT_NE(inv.command, nullptr);
    EXPECT_EQ(inv.command->family, "tarn20");
    EXPECT_EQ(inv.command->action, "write");
    EXPECT_EQ(inv.arguments, std::vector<std::string>{"a.bin"});
    EXPECT_TRUE(inv.numbers.empty());
    EXPECT_EQ(inv.writer.kind, WriterChoice::Kind::Usb);
    EXPECT_FALSE(inv.yes);
    EXPECT_FALSE(inv.json);

    auto all =
        parsed({"--json", "tarn", "--writer", "sim:/tmp/w", "verify", "--start=0x10", "img.bin",
                "--count", "20", "--yes", "--allow-error", "0", "--temp=/t", "--setup", "/s.ini"});
    ASSERT_NE(all.command, nullptr);
    EXPECT_EQ(all.command->action, "verify");
    EXPECT_TRUE(all.json);
    EXPECT_TRUE(all.yes);
    EXPECT_EQ(all.writer.kind, WriterChoice::Kind::SimDir);
    EXPECT_EQ(all.writer.folder, "/tmp/w");
    EXPECT_EQ(all.number("start"), 16u);
    EXPECT_EQ(all.number("count"), 20u);
    EXPECT_EQ(all.number("allow-error"), 0u);
    EXPECT_FALSE(all.number("info-page"));
    EXPECT_EQ(all.temp, "/t");
    EXPECT_EQ(all.setup, "/s.ini");
    EXPECT_EQ(all.arguments, std::vector<std::string>{"img.bin"});
}

TEST(Arguments, DoubleDashLetsFileNamesStartWithADash) {
    auto inv = parsed({"kiva", "write", "--", "-odd.dat"});
    EXPECT_EQ(inv.arguments, std::vector<std::string>{"-odd.dat"});
    EXPECT_NE(usageError({"kiva", "write", "-odd.dat"}).find("unknown option '-odd.dat'"),
              std::string::npos);
}

TEST(Arguments, WriterChoices) {
    EXPECT_EQ(parsed({"--writer", "sim", "kiva", "blank"}).writer.kind, WriterChoice::Kind::Sim);
    EXPECT_EQ(parsed({"--writer=usb", "kiva", "blank"}).writer.kind, WriterChoice::Kind::Usb);
    for (std::string bad : {"sim:", "simx", "USB", ""})
        EXPECT_NE(
            usageError({"--writer", bad, "kiva", "blank"}).find("expected usb, sim or sim:DIR"),
            std::string::npos)
            << bad;
}

TEST(Arguments, AWriterIsPickedByPortOrSerialNumber) {
    const auto byPort = parsed({"--writer", "usb:1-1.3", "kiva", "blank"}).writer;
    EXPECT_EQ(byPort.kind, WriterChoice::Kind::Usb);
    EXPECT_EQ(byPort.port, "1-1.3");
    EXPECT_EQ(byPort.serial, "");
    EXPECT_EQ(byPort.text(), "usb:1-1.3");
    const auto bySerial = parsed({"--writer=usb:serial=A7:00 x", "kiva", "blank"}).writer;
    EXPECT_EQ(bySerial.serial, "A7:00 x") << "the serial number is taken as it stands";
    EXPECT_EQ(bySerial.port, "");
    EXPECT_EQ(bySerial.text(), "usb:serial=A7:00 x");
    EXPECT_EQ(parsed({"--writer", "usb:2-10.4.1", "kiva", "blank"}).writer.port, "2-10.4.1");
    // Not a port path: letters, missing numbers, an empty serial number, too many tiers.
    for (std::string bad : {"usb:", "usb:1", "usb:1-", "usb:1-1.", "usb:a-1", "usb:1-1..2",
                            "usb:serial=", "usb:1-1.2.3.4.5.6.7.8", "usb:-1"})
        EXPECT_NE(usageError({"--writer", bad, "kiva", "blank"}).find("usb:PORT, usb:serial=TEXT"),
                  std::string::npos)
            << bad;
}

TEST(Arguments, WritersIsACommandOfOneWord) {
    auto inv = parsed({"writers", "--json"});
    ASSERT_NE(inv.command, nullptr);
    EXPECT_EQ(inv.command->family, "writers");
    EXPECT_TRUE(inv.json);
    EXPECT_TRUE(inv.arguments.empty());
    EXPECT_NE(usageError({"writers", "extra"}).find("'writers': unexpected argument 'extra'"),
              std::string::npos);
    EXPECT_NE(usageError({"writers", "--start", "1"}).find("'writers': unknown option '--start'"),
              std::string::npos);
    EXPECT_NE(usageText().find("\n  writers\n"), std::string::npos);
}

TEST(Arguments, NumbersAreDecimalOrHexAndNeverSilentlyZero) {
    EXPECT_EQ(parsed({"tarn", "write", "a", "--start", "0X1e480"}).number("start"), 0x1E480u);
    EXPECT_EQ(parsed({"tarn", "write", "a", "--count", "2147483647"}).number("count"), 2147483647u);
    for (std::string bad : {"", "abc", "12x", "-1", "+5", " 5", "0x", "1.5", "0b101"})
        EXPECT_NE(usageError({"tarn", "write", "a", "--start", bad}).find("--start"),
                  std::string::npos)
            << "'" << bad << "'";
    EXPECT_NE(
        usageError({"tarn", "write", "a", "--count", "4294967296"}).find("at most 2147483647"),
        std::string::npos);
    EXPECT_NE(usageError({"ivr", "encode", "i", "o", "--data-offset", "0x8000", "--start", "0",
                          "--end", "0"})
                  .find("at most 32767"),
              std::string::npos);
}

TEST(Arguments, UsageErrorsSayWhatIsWrong) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "no command given"},
        {{"flash", "write"}, "unknown command 'flash'"},
        {{"tarn"}, "'tarn20' needs one of: load, write, verify, read, blank, compare"},
        {{"tarn", "erase"}, "unknown command 'tarn20 erase'"},
        {{"tarn", "write"}, "'tarn20 write' needs IMAGE"},
        {{"editor", "build", "p.log"}, "'editor build' needs OUT.bin"},
        {{"tarn", "read", "extra"}, "'tarn20 read': unexpected argument 'extra'"},
        {{"tarn", "load", "a", "--start", "1"}, "'tarn20 load': unknown option '--start'"},
        {{"tarn", "write", "a", "--bogus"}, "unknown option '--bogus'"},
        {{"--frob", "tarn", "write", "a"}, "unknown option '--frob'"},
        {{"kiva", "write", "a", "--device", "X"}, "'kiva300 write': unknown option '--device'"},
        {{"tarn", "write", "a", "--start"}, "option '--start' needs a value"},
        {{"nor", "blank"}, "'serialflash blank' needs --device"},
        {{"nor", "blank", "--device="}, "option '--device' needs a value"},
        {{"--writer"}, "option '--writer' needs a value"},
        {{"--yes=1", "kiva", "blank"}, "option '--yes' takes no value"},
        {{"kiva", "load", ""}, "an empty file name"},
        {{"ivr", "encode", "i", "o", "--start", "0", "--end", "8"}, "needs --data-offset"},
    };
    for (const auto& c : cases)
        EXPECT_NE(usageError(c.args).find(c.message), std::string::npos)
            << "got: " << usageError(c.args);
}

TEST(Arguments, HelpAndVersionNeedNoCommand) {
    EXPECT_TRUE(parsed({"--help"}).help);
    EXPECT_TRUE(parsed({"--version"}).version);
    EXPECT_TRUE(parsed({"tarn", "--help"}).help);
}

TEST(Arguments, UsageListsEveryCommandOnce) {
    std::string usage = usageText();
    std::set<std::string> seen;
    for (const auto& c : commandTable()) {
        std::string name = std::string(c.family) + " " + std::string(c.action);
        EXPECT_TRUE(seen.insert(name).second) << name << " twice in the table";
        std::string start = "  " + std::string(c.family);
        if (c.action.empty()) {
            // A command of one word: its name alone, or followed by its arguments.
            EXPECT_TRUE(usage.find(start + "\n") != std::string::npos ||
                        usage.find(start + " ") != std::string::npos)
                << name;
            continue;
        }
        start.resize(std::max<std::size_t>(start.size() + 1, 15), ' ');
        EXPECT_NE(usage.find(start + std::string(c.action)), std::string::npos) << name;
    }
    EXPECT_EQ(seen.size(), 39u);
    EXPECT_NE(usage.find("  serve [--listen ADDR:PORT]\n"), std::string::npos);
    EXPECT_NE(
        usage.find("  produce JOB.json [--units N] [--trigger insert|enter] [--operator NAME] "
                   "[--wait SECONDS] [--lot TEXT] [--quantity N] [--stop-after-fails N]\n"),
        std::string::npos);
    EXPECT_NE(usage.find("  records      summary [--job JOB.json]\n"), std::string::npos);
    EXPECT_NE(
        usage.find("  job          new JOB.json --target tarn20|serialflash|kiva300 --image IMAGE"),
        std::string::npos);
    EXPECT_NE(
        usage.find("  tarn20       verify IMAGE [--start PAGE] [--count PAGES] [--info-page PAGES] "
                   "[--allow-error BYTES]\n"),
        std::string::npos);
    EXPECT_NE(usage.find("  ivr          encode IMAGE OUT.dat --data-offset N --start N --end N\n"),
              std::string::npos);
}

TEST(Arguments, EditorFileListsAndFlags) {
    auto inv = parsed({"editor", "import", "p.log", "a.mp3", "b.flac", "--mono", "--trim-db", "-45",
                       "--rate", "11025"});
    ASSERT_NE(inv.command, nullptr);
    EXPECT_EQ(inv.arguments, (std::vector<std::string>{"p.log", "a.mp3", "b.flac"}));
    EXPECT_TRUE(inv.flag("mono"));
    EXPECT_FALSE(inv.flag("no-normalize"));
    EXPECT_EQ(inv.text("trim-db"), "-45");  // a negative value is a value, not an option
    EXPECT_EQ(inv.number("rate"), 11025u);
    // A flag never eats the word after it.
    auto moved = parsed({"editor", "move", "p.log", "--up", "--section", "3"});
    EXPECT_TRUE(moved.flag("up"));
    EXPECT_EQ(moved.number("section"), 3u);

    EXPECT_EQ(usageError({"editor", "add", "p.log"}), "'editor add' needs FILE...");
    EXPECT_EQ(usageError({"editor", "list", "p.log", "x"}),
              "'editor list': unexpected argument 'x'");
    EXPECT_EQ(usageError({"editor", "move", "p.log", "--section", "1", "--up=1"}),
              "option '--up' takes no value");
    EXPECT_EQ(usageError({"editor", "add", "p.log", "a.wav", "--mono"}),
              "'editor add': unknown option '--mono'");
    EXPECT_EQ(usageError({"editor", "remove", "p.log", "--section", "1024"}),
              "'--section 1024': at most 1023");
    EXPECT_NE(usageText().find("  editor       move PROJECT.log --section N [--up] [--down]\n"),
              std::string::npos);
    EXPECT_NE(
        usageText().find("  editor       import PROJECT.log FILE... [--section N] [--rate HZ] "
                         "[--mono] [--no-normalize] [--trim-db DB] [--out DIR]\n"),
        std::string::npos);
}

TEST(Arguments, ProductionCommandsOfOneWordFlagsAndTheRecordsOption) {
    auto produce = parsed({"--records", "/r.sqlite", "produce", "job.json", "--units", "3",
                           "--trigger=insert", "--operator", "Ana"});
    ASSERT_NE(produce.command, nullptr);
    EXPECT_EQ(produce.command->family, "produce");
    EXPECT_EQ(produce.command->action, "");
    EXPECT_EQ(produce.arguments, std::vector<std::string>{"job.json"});
    EXPECT_EQ(produce.records, "/r.sqlite");
    EXPECT_EQ(produce.number("units"), 3u);
    EXPECT_EQ(produce.text("trigger"), "insert");
    EXPECT_EQ(produce.text("operator"), "Ana");

    auto exportCsv = parsed({"records", "--csv", "--job", "j.json"});
    ASSERT_NE(exportCsv.command, nullptr);
    EXPECT_EQ(exportCsv.command->action, "");
    EXPECT_TRUE(exportCsv.flag("csv"));
    EXPECT_TRUE(exportCsv.arguments.empty());
    EXPECT_EQ(exportCsv.text("job"), "j.json");
    EXPECT_EQ(parsed({"records", "summary"}).command->action, "summary");
    EXPECT_FALSE(parsed({"records"}).flag("csv"));
    // After the command, its own --writer is the filter, not the Writer to use.
    auto byWriter = parsed({"--writer", "sim", "records", "--writer", "usb:1-1.3 serial=W0042"});
    EXPECT_EQ(byWriter.text("writer"), "usb:1-1.3 serial=W0042");
    EXPECT_EQ(byWriter.writer.kind, WriterChoice::Kind::Sim);
    EXPECT_EQ(usageError({"records", "summary", "--writer", "sim"}),
              "'records summary': unknown option '--writer'");

    auto job =
        parsed({"job", "new", "j.json", "--target", "kiva300", "--blank", "--image", "a.dat"});
    EXPECT_TRUE(job.flag("blank"));
    EXPECT_EQ(job.text("image"), "a.dat");
    EXPECT_EQ(job.arguments, std::vector<std::string>{"j.json"});

    // A worker's records location comes through a descriptor it inherits.
    EXPECT_EQ(parsed({"--records-fd", "7", "produce", "job.json"}).recordsFd, 7);
    EXPECT_EQ(usageError({"--records-fd", "x", "records"}),
              "'--records-fd x': expected a descriptor number");
    EXPECT_EQ(usageError({"--records-fd", "3", "--records", "r", "records"}),
              "'--records' or '--records-fd', not both");
    EXPECT_EQ(parsed({"produce", "job.json", "--wait", "30"}).number("wait"), 30u);

    EXPECT_EQ(usageError({"produce"}), "'produce' needs JOB.json");
    EXPECT_EQ(usageError({"records", "--csv", "x"}), "'records': unexpected argument 'x'");
    EXPECT_EQ(usageError({"job", "new", "j", "--target", "tarn20", "--image", "a", "--blank=1"}),
              "option '--blank' takes no value");
    EXPECT_EQ(usageError({"job", "show", "j", "--blank"}), "'job show': unknown option '--blank'");
    EXPECT_EQ(usageError({"job", "new", "j", "--image", "a"}), "'job new' needs --target");
    EXPECT_EQ(usageError({"job"}), "'job' needs one of: new, show");
    EXPECT_EQ(usageError({"--records", "", "records"}), "option '--records' needs a value");
}

TEST(Arguments, EveryChipAnswersToItsShortAndLongName) {
    struct Case {
        std::vector<std::string> shortForm;
        std::string family;
    } cases[] = {
        {{"tarn", "compare", "a.bin", "--no-mirror"}, "tarn20"},
        {{"nor", "read", "out.bin", "--device", "W25Q80", "--length", "4096"}, "serialflash"},
        {{"kiva", "compare", "a.dat"}, "kiva300"},
    };
    for (const auto& c : cases) {
        auto longForm = c.shortForm;
        longForm[0] = c.family;
        const Invocation byShort = parsed(c.shortForm);
        const Invocation byLong = parsed(longForm);
        ASSERT_NE(byShort.command, nullptr) << c.family;
        EXPECT_EQ(byShort.command, byLong.command) << c.family;
        EXPECT_EQ(byShort.command->family, c.family);
        EXPECT_EQ(byShort.arguments, byLong.arguments);
        EXPECT_EQ(byShort.numbers, byLong.numbers);
        EXPECT_EQ(byShort.flags, byLong.flags);
        // Help lists the long names only.
        EXPECT_NE(usageText().find("\n  " + c.family + " "), std::string::npos);
        EXPECT_EQ(usageText().find("\n  " + c.shortForm[0] + " "), std::string::npos);
    }
    EXPECT_EQ(usageError({"nor", "read", "o.bin", "--device", "X", "--length", "0x1000001"}),
              "'--length 0x1000001': from 1 to 16777216");
}

// Several Writers on one bus: each known by its port path and serial number,
// listed with whether someone holds it, and one of them picked by either.

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>

#include "sim/KivaChip.h"
#include "tests/cli/CliRunner.h"
#include "tests/link/usb/BackendFixture.h"
#include "tests/link/usb/EchoChip.h"

using namespace sonoprog;
using namespace std::chrono_literals;
using link::usb::AttachedWriter;

namespace {

test::UsbDeviceShape withSerial(std::string serial) {
    test::UsbDeviceShape shape;
    shape.serial = std::move(serial);
    return shape;
}

std::vector<std::string> portsOf(const std::vector<AttachedWriter>& writers) {
    std::vector<std::string> ports;
    for (const auto& w : writers) ports.push_back(w.port);
    return ports;
}

struct SeveralWriters : test::BackendFixture {
    // Plugs in a Writer with the echo chip at `port`.
    test::EmulatedWriter& add(const std::string& port, const std::string& serial = {}) {
        attached.push_back(std::make_unique<test::EmulatedWriter>(bus, test::echoWriter(),
                                                                  withSerial(serial), port));
        attached.back()->plug();
        return *attached.back();
    }
    bool listsSoon(std::size_t count) {
        return pumpUntil([&] { return device.attachedWriters(false).size() == count; });
    }
    std::uint64_t transfersOf(test::EmulatedWriter& w) {
        return w.withWriter([](sim::VirtualWriter& v) { return v.transferCount(); });
    }

    std::vector<std::unique_ptr<test::EmulatedWriter>> attached;
};

}  // namespace

TEST_F(SeveralWriters, TwoWritersAreListedWithPortAndSerialAndPickedByPort) {
    auto& first = add("1-1", "SP-0001");
    auto& second = add("1-2");
    ASSERT_TRUE(listsSoon(2));
    EXPECT_EQ(
        device.attachedWriters(true),
        (std::vector<AttachedWriter>{{"1-1", "SP-0001", false, false}, {"1-2", "", false, false}}));

    device.setChoice({"1-2", ""});
    ASSERT_TRUE(device.discover());
    EXPECT_EQ(device.found().port, "1-2");
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(echoes(0x21));
    EXPECT_EQ(transfersOf(second), 3u);
    EXPECT_EQ(transfersOf(first), 0u) << "the other Writer never saw a transfer";

    // Another program (its own libusb context) sees the open one as in use;
    // this device sees it as its own.
    link::usb::UsbWriterDevice other;
    auto seen = other.attachedWriters(true);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_FALSE(seen[0].inUse);
    EXPECT_TRUE(seen[1].inUse);
    EXPECT_FALSE(device.attachedWriters(true)[1].inUse);
    EXPECT_TRUE(second.claimed()) << "looking did not take the claim away";
    EXPECT_FALSE(first.claimed()) << "the probe let go of the free one again";

    device.release();
    EXPECT_FALSE(other.attachedWriters(true)[1].inUse);

    // The other program can now have it, and this one cannot while it does.
    other.setChoice({"1-2", ""});
    ASSERT_TRUE(other.discover());
    ASSERT_TRUE(other.open());
    ASSERT_TRUE(device.discover());
    EXPECT_FALSE(device.open());
    EXPECT_TRUE(device.attachedWriters(true)[1].inUse);
}

TEST_F(SeveralWriters, FourWritersBehindAHubAreListedByPortAndPickedBySerial) {
    bus.addHub("1-1");
    pumpFor(50ms);
    // Plugged out of order: the list goes by port, not by arrival.
    auto& third = add("1-1.3", "S3");
    auto& first = add("1-1.1", "S1");
    auto& fourth = add("1-1.4", "S4");
    auto& second = add("1-1.2", "S2");
    ASSERT_TRUE(listsSoon(4));
    const auto listed = device.attachedWriters(true);
    EXPECT_EQ(portsOf(listed), (std::vector<std::string>{"1-1.1", "1-1.2", "1-1.3", "1-1.4"}));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        EXPECT_EQ(listed[i].serial, "S" + std::to_string(i + 1));
        EXPECT_FALSE(listed[i].inUse);
    }

    device.setChoice({"", "S3"});
    ASSERT_TRUE(device.discover());
    EXPECT_EQ(device.found(), (AttachedWriter{"1-1.3", "S3", false, false}));
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(echoes(0x33));
    EXPECT_EQ(transfersOf(third), 3u);
    for (auto* idle : {&first, &second, &fourth}) EXPECT_EQ(transfersOf(*idle), 0u);

    // Pulled out, the chosen one is not stood in for by its neighbours ...
    device.release();
    third.unplug();
    ASSERT_TRUE(listsSoon(3));
    EXPECT_FALSE(device.discover());
    // ... and plugged back in (under a new device number) it is found again.
    third.plug();
    ASSERT_TRUE(listsSoon(4));
    ASSERT_TRUE(device.discover());
    EXPECT_EQ(device.found().port, "1-1.3");
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(echoes(0x34));
    EXPECT_EQ(transfersOf(third), 6u);
}

TEST_F(SeveralWriters, WithoutAChoiceTheFirstWriterFoundIsTaken) {
    add("1-4");
    add("1-3");
    ASSERT_TRUE(listsSoon(2));
    EXPECT_TRUE(device.choice().any());
    ASSERT_TRUE(device.discover());
    EXPECT_FALSE(device.found().port.empty());
    ASSERT_TRUE(device.open());
    EXPECT_TRUE(echoes(1));
}

namespace {

// The command line on the same emulated bus: the child inherits the
// testbed through the preload library and its environment.
struct WritersCommand : SeveralWriters {
    WritersCommand() {
        bus.addHub("1-1");
        pumpFor(50ms);
    }
    // `units` > 0: that many chips go through its socket, one after the other.
    test::EmulatedWriter& addKiva(const std::string& port, const std::string& serial,
                                  std::uint32_t units = 0) {
        auto w = std::make_unique<sim::VirtualWriter>();
        w->addChip(std::make_shared<sim::KivaChip>());
        if (units > 0)
            w->setSocket(std::make_unique<sim::SocketModel>(sim::SocketScript{units, {}}));
        attached.push_back(
            std::make_unique<test::EmulatedWriter>(bus, std::move(w), withSerial(serial), port));
        attached.back()->plug();
        return *attached.back();
    }
    test::CliRun cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--temp", (dir.path() / "Temp").string()});
        // The test's own records, never the user's (whose sockets `writers` would list).
        if (std::find(args.begin(), args.end(), "--records") == args.end())
            args.insert(args.begin(), {"--records", (dir.path() / "records.sqlite").string()});
        test::CliRun run;
        test::withinDeadline("sonoprog-cli on the emulated bus", std::chrono::seconds(60),
                             [&] { run = test::runCli(args); });
        return run;
    }
};

}  // namespace

TEST_F(WritersCommand, ListsTheAttachedWritersAsTextAndJson) {
    EXPECT_EQ(cli({"writers"}).out, "No Writer is attached.\n");
    EXPECT_EQ(cli({"writers", "--json"}).out,
              "{\"kind\":\"result\",\"ok\":true,\"exit\":0,\"message\":\"done\"}\n");

    addKiva("1-1.2", "");
    auto& held = addKiva("1-1.1", "SONO-77");
    ASSERT_TRUE(listsSoon(2));
    device.setChoice({"1-1.1", ""});
    ASSERT_TRUE(device.discover() && device.open());  // this program holds 1-1.1

    auto text = cli({"writers"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out,
              "PORT   SERIAL   STATE\n"
              "1-1.1  SONO-77  in use\n"
              "1-1.2  -        free\n");
    auto json = cli({"writers", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(json.out,
              "{\"kind\":\"writer\",\"port\":\"1-1.1\",\"writer\":\"usb:1-1.1\",\"serial\":\"SONO-"
              "77\",\"inUse\":true,"
              "\"access\":true}\n"
              "{\"kind\":\"writer\",\"port\":\"1-1.2\",\"writer\":\"usb:1-1.2\",\"serial\":null,"
              "\"inUse\":false,"
              "\"access\":true}\n"
              "{\"kind\":\"result\",\"ok\":true,\"exit\":0,\"message\":\"done\"}\n");
    EXPECT_TRUE(held.claimed());
}

TEST_F(WritersCommand, TheWriterOptionPicksOneOrSaysWhichAreThere) {
    auto& left = addKiva("1-1.1", "K1");
    auto& right = addKiva("1-1.2", "K2");
    ASSERT_TRUE(listsSoon(2));

    auto several = cli({"--writer", "usb", "kiva", "blank"});
    EXPECT_EQ(several.status, 2);
    EXPECT_NE(several.err.find("several Writers are attached: usb:1-1.1 (serial K1), usb:1-1.2 "
                               "(serial K2); name one with --writer usb:PORT"),
              std::string::npos)
        << several.err;

    auto missing = cli({"--writer", "usb:1-1.9", "kiva", "blank"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("no Writer at usb:1-1.9; attached: usb:1-1.1 (serial K1), "
                               "usb:1-1.2 (serial K2)"),
              std::string::npos)
        << missing.err;
    auto noSerial = cli({"--writer", "usb:serial=K9", "kiva", "blank"});
    EXPECT_EQ(noSerial.status, 3);
    EXPECT_NE(noSerial.err.find("no Writer at usb:serial=K9; attached: "), std::string::npos);
    EXPECT_EQ(transfersOf(left) + transfersOf(right), 0u) << "a Writer not found is sent nothing";

    auto byPort = cli({"--writer", "usb:1-1.2", "kiva", "blank"});
    EXPECT_EQ(byPort.status, 0) << byPort.err << byPort.out;
    EXPECT_GT(transfersOf(right), 0u);
    EXPECT_EQ(transfersOf(left), 0u);

    const auto rightBefore = transfersOf(right);
    auto bySerial = cli({"--writer", "usb:serial=K1", "kiva", "blank"});
    EXPECT_EQ(bySerial.status, 0) << bySerial.err << bySerial.out;
    EXPECT_GT(transfersOf(left), 0u);
    EXPECT_EQ(transfersOf(right), rightBefore);

    // With one Writer left, plain "usb" takes it.
    left.unplug();
    ASSERT_TRUE(listsSoon(1));
    auto only = cli({"--writer", "usb", "kiva", "blank"});
    EXPECT_EQ(only.status, 0) << only.err;
    EXPECT_EQ(transfersOf(right), rightBefore * 2);
}

// A gang over every Writer attached: each worker opens its own, its lines
// carry the port, and its records the port and serial number of the Writer
// that programmed the unit.
TEST_F(WritersCommand, AGangRunsOnEveryWriterAttachedAndRecordsWhichOne) {
    auto& left = addKiva("1-1.1", "K1", 2);
    auto& right = addKiva("1-1.2", "", 2);
    ASSERT_TRUE(listsSoon(2));
    const auto dat = dir.path() / "chime.dat";
    std::filesystem::copy_file(test::sample("kiva300-demo.dat"), dat);
    const auto job = (dir.path() / "chime.json").string();
    ASSERT_EQ(
        cli({"--writer", "sim", "job", "new", job, "--target", "kiva300", "--image", dat.string()})
            .status,
        0);
    const auto records = (dir.path() / "records.sqlite").string();

    auto gang = cli({"--records", records, "produce", job, "--units", "2", "--writers", "all"});
    EXPECT_EQ(gang.status, 0) << gang.err;
    for (const char* port : {"1-1.1", "1-1.2"})
        for (const char* unit : {"] UNIT 1 PASS ", "] UNIT 2 PASS "})
            EXPECT_NE(gang.out.find("[" + std::string(port) + unit), std::string::npos) << gang.out;
    EXPECT_EQ(test::lastLines(gang, 3),
              (std::vector<std::string>{"TOTAL 4 PASS 4 FAIL 0 YIELD 100.0%",
                                        "[1-1.1] TOTAL 2 PASS 2 FAIL 0 YIELD 100.0%",
                                        "[1-1.2] TOTAL 2 PASS 2 FAIL 0 YIELD 100.0%"}));
    EXPECT_GT(transfersOf(left), 0u);
    EXPECT_GT(transfersOf(right), 0u);

    // The workers were given the ports; the serial number is the opened Writer's own.
    std::map<std::string, int> perWriter;
    const auto listed = cli({"--records", records, "--json", "records"});
    for (const auto& line : listed.bodyLines())
        ++perWriter[nlohmann::json::parse(line).at("writer").get<std::string>()];
    EXPECT_EQ(perWriter,
              (std::map<std::string, int>{{"usb:1-1.1 (serial K1)", 2}, {"usb:1-1.2", 2}}));
    // Each socket counted by the Writer its units name, and listed with it.
    std::map<std::string, int> sockets;
    for (const auto& line : cli({"--records", records, "--json", "writers"}).bodyLines()) {
        const auto j = nlohmann::json::parse(line);
        if (j.at("kind") == "writer") sockets[j.at("port")] = j.value("socket_insertions", -1);
    }
    EXPECT_EQ(sockets, (std::map<std::string, int>{{"1-1.1", 2}, {"1-1.2", 2}}));
}

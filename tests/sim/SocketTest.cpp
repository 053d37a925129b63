#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/IniFile.h"
#include "sim/PersistentWriter.h"
#include "sim/Socket.h"
#include "sim/WriterSettings.h"
#include "tests/support/TempDir.h"

using namespace sonoprog;
using sim::SocketModel;
using sim::SocketScript;

namespace {

constexpr std::uint8_t kKivaDetectRead = 0x20, kKivaRead = 0x21, kKivaEndRead = 0x22;
constexpr std::uint8_t kKivaDetectProgram = 0x23, kKivaProgram = 0x24, kKivaEndProgram = 0x25;
constexpr std::uint8_t kTarnDetect = 0x10, kTarnRelease = 0x11, kTarnProgram = 0x12;

// One command through the socket as the Writer runs it: the socket's own
// status, or the chip's (0, a chip that always answers).
std::uint8_t send(SocketModel& socket, std::uint8_t code) {
    const std::uint8_t status = socket.beforeCommand(code).value_or(0);
    socket.afterCommand(code, status);
    return status;
}

// The insertion poll: detect and its closing command; true when a chip answered.
bool poll(SocketModel& socket, std::uint8_t detect = kKivaDetectRead,
          std::uint8_t close = kKivaEndRead) {
    const bool answered = send(socket, detect) == 0;
    send(socket, close);
    return answered;
}

// A Kiva300 write: programming pass, then the verify pass. Returns the detect status.
std::uint8_t kivaUnit(SocketModel& socket) {
    const std::uint8_t status = send(socket, kKivaDetectProgram);
    if (status == 0) send(socket, kKivaProgram);
    send(socket, kKivaEndProgram);
    if (status != 0) return status;
    send(socket, kKivaDetectRead);
    send(socket, kKivaRead);
    send(socket, kKivaEndRead);
    return 0;
}

}  // namespace

TEST(Socket, EachChipIsSeenInsertedProgrammedAndTakenOut) {
    SocketModel socket(SocketScript{3, {2}});
    int inserts = 0;
    socket.setInsertHandler([&] { ++inserts; });
    std::vector<std::string> seen;
    for (int unit = 1; unit <= 3; ++unit) {
        // The insertion poll: after a bad chip the socket is seen empty once more.
        int emptyPolls = 0;
        while (!poll(socket)) ASSERT_LT(++emptyPolls, 2) << unit;
        EXPECT_EQ(emptyPolls, unit == 3 ? 1 : 0) << unit;
        EXPECT_EQ(socket.chipNumber(), static_cast<std::uint32_t>(unit));
        const std::uint8_t status = kivaUnit(socket);
        seen.push_back(std::to_string(unit) + ":" + std::to_string(status));
        // The loop polls until the socket is empty before it waits for the next chip.
        int polls = 1;
        while (poll(socket)) ++polls;
        // A good chip is seen once more after its unit; a bad one already fails.
        EXPECT_EQ(polls, unit == 2 ? 1 : 2) << unit;
        // The empty socket got the next chip, if any is left.
        EXPECT_EQ(socket.chipPresent(), unit == 1) << unit;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1:0", "2:16", "3:0"}));
    EXPECT_EQ(inserts, 2);  // chips 2 and 3; the first was in the socket from the start
    // Every chip used: the socket stays empty, with the Kiva300's "Device ID failed" status.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(send(socket, kKivaDetectRead), 0x20);
    EXPECT_EQ(socket.chipsLeft(), 0u);
}

TEST(Socket, TwoPassUnitIsNotMistakenForItsPoll) {
    // A Tarn20 unit is a write and a verify, each a detect, data and a release.
    SocketModel socket(SocketScript{2, {}});
    ASSERT_TRUE(poll(socket, kTarnDetect, kTarnRelease));
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(send(socket, kTarnDetect), 0);
        send(socket, kTarnProgram);
        send(socket, kTarnRelease);
        EXPECT_TRUE(socket.chipPresent());
    }
    EXPECT_TRUE(poll(socket, kTarnDetect, kTarnRelease));
    EXPECT_FALSE(poll(socket, kTarnDetect, kTarnRelease));
    EXPECT_EQ(send(socket, kTarnDetect), 0);  // chip 2 went in after the empty poll
    EXPECT_EQ(socket.chipNumber(), 2u);
}

TEST(Socket, EmptyAndBadStatusesAreEachTargetsOwn) {
    SocketModel empty(SocketScript{0, {}});
    EXPECT_EQ(send(empty, kTarnDetect), 0x40);
    EXPECT_EQ(send(empty, 0x30), 0x02);
    EXPECT_EQ(send(empty, kKivaDetectProgram), 0x20);
    SocketModel bad(SocketScript{1, {1}});
    ASSERT_TRUE(poll(bad, 0x30, 0x3F));
    EXPECT_EQ(send(bad, 0x30), 0x01);
    send(bad, 0x3F);
    ASSERT_TRUE(poll(bad, kTarnDetect, kTarnRelease) == false);
}

// The operator's hand: after the empty poll the next chip takes its swap time
// to go in; a poll before then still finds the socket empty, and the chip's
// moment of insertion is the end of the swap, not the poll that finds it.
TEST(Socket, TheNextChipGoesInOnceItsSwapHasPassed) {
    using namespace std::chrono_literals;
    SocketModel socket(SocketScript{3, {}, 500ms});
    auto now = SocketModel::Clock::time_point{} + 1h;
    socket.setClock([&] { return now; });
    ASSERT_TRUE(poll(socket));
    kivaUnit(socket);
    ASSERT_TRUE(poll(socket));   // the poll after the unit sees it: it is taken out
    ASSERT_FALSE(poll(socket));  // empty: the swap starts
    const auto emptySeen = now;
    now += 250ms;
    EXPECT_FALSE(poll(socket));  // a later empty poll does not restart the swap
    now += 249ms;
    EXPECT_FALSE(poll(socket));
    EXPECT_FALSE(socket.insertedAt());
    now += 120ms;
    EXPECT_TRUE(poll(socket));
    EXPECT_EQ(socket.chipNumber(), 2u);
    EXPECT_EQ(socket.insertedAt(), emptySeen + 500ms);

    // Without a swap the chip is in by the end of the empty poll.
    socket.setSwap(0ms);
    kivaUnit(socket);
    ASSERT_TRUE(poll(socket));
    now += 1s;
    EXPECT_FALSE(poll(socket));
    EXPECT_EQ(socket.insertedAt(), now);
    EXPECT_TRUE(poll(socket));
    EXPECT_EQ(socket.chipNumber(), 3u);
}

TEST(Socket, WriterIniScriptsTheSocket) {
    auto s = sim::readWriterSettings(
        core::IniFile::fromText("[Socket]\nUnits=6\nBad=3, 7,x,0\nSwapMs=800\n"));
    ASSERT_TRUE(s.socket);
    EXPECT_EQ(s.socket->units, 6u);
    EXPECT_EQ(s.socket->bad, (std::set<std::uint32_t>{3, 7}));
    EXPECT_EQ(s.socket->swap, std::chrono::milliseconds(800));
    EXPECT_EQ(s.warnings.size(), 2u);  // "x" and 0 are passed over
    auto tooSlow =
        sim::readWriterSettings(core::IniFile::fromText("[Socket]\nUnits=1\nSwapMs=600001\n"));
    EXPECT_EQ(tooSlow.socket->swap, std::chrono::milliseconds(0));
    EXPECT_EQ(tooSlow.warnings.size(), 1u);
    EXPECT_FALSE(sim::readWriterSettings(core::IniFile::fromText("[Writer]\nFailFrom=0\n")).socket);
}

TEST(Socket, PersistentWriterWithoutTheSectionKeepsAChipInTheSocket) {
    test::TempDir dir;
    auto plain = sim::openPersistentWriter(dir / "plain");
    ASSERT_TRUE(plain.writer);
    EXPECT_EQ(plain.writer->socket(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir / "plain" / sim::kKiva300FileName));

    dir.write("line/writer.ini", std::string("[Socket]\nUnits=2\n"));
    auto scripted = sim::openPersistentWriter(dir / "line");
    ASSERT_TRUE(scripted.writer) << scripted.error;
    ASSERT_NE(scripted.writer->socket(), nullptr);
    EXPECT_TRUE(scripted.writer->socket()->chipPresent());
    // The chips leave with their units: none is kept in the folder.
    EXPECT_FALSE(std::filesystem::exists(dir / "line" / sim::kKiva300FileName));
}

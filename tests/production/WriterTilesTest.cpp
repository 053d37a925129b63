#include <gtest/gtest.h>
#include <signal.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>

#include "gui/ControlLock.h"
#include "gui/Gauge.h"
#include "gui/QtServices.h"
#include "link/ConnectionMonitor.h"
#include "production/ProductionPage.h"
#include "production/WriterTile.h"
#include "sim/FolderLock.h"
#include "sim/PersistentWriter.h"
#include "tests/production/PageHarness.h"
#include "tests/support/EventWait.h"

namespace sonoprog::test {
namespace {

struct CountingSounds final : production::UnitSounds {
    void passed() override { ++passes; }
    void failed() override { ++fails; }
    int passes = 0;
    int fails = 0;
};

using test::waitUntil;

QString statusOf(const production::WriterTile* tile) {
    return tile->PN_Tile_Status->shownText();
}

// The Production tab with a Writers list of virtual Writers, each tile's
// worker the real sonoprog-cli built in this tree.
struct TilesFixture : ::testing::Test, PageHarness {
    TilesFixture() { rig.paths.setupOverride = rig.dir / "Setup.ini"; }

    // A Writer folder whose socket holds `socket` (writer.ini's [Socket]).
    std::string writerDir(const std::string& name, const std::string& socket) {
        const auto dir = rig.dir / name;
        std::filesystem::create_directories(dir);
        rig.dir.write(name + "/writer.ini", "[Socket]\n" + socket);
        return "sim:" + dir.string();
    }

    production::ProductionPage* makePage(const std::string& writers) {
        production::ProductionSettings settings;
        settings.enabled = true;
        settings.writers = writers;
        addPage(settings);
        page->setWorkerProgram(QStringLiteral(SONOPROG_CLI_PATH));
        page->setSounds(&sounds);
        return page;
    }

    CountingSounds sounds;
};

TEST_F(TilesFixture, WorkersGetTheRecordsAddressThroughADescriptorNeverOnTheirCommandLine) {
    // The page opens the line's store itself too: its station file stays here.
    ::setenv("XDG_STATE_HOME", (rig.dir / "state").c_str(), 1);
    // A worker that writes down its arguments (what `ps` shows) and what its
    // descriptor holds.
    const auto stub = rig.dir.write("worker.sh",
                                    "#!/bin/bash\n"
                                    "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                                    "while [ $# -gt 0 ]; do\n"
                                    "  [ \"$1\" = --records-fd ] && cat <&\"$2\" > \"$0.records\"\n"
                                    "  shift\n"
                                    "done\n");
    std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
    const std::string addresses[] = {
        "postgresql://bench:s3cret@/line?host=/nx",
        "postgresql:///line?host=/nx&password=s3cret",
        "postgres:///line?password=s3cret&host=/nx",
        "postgresql://bench:s3%63ret@/line?host=/nx",
        "postgresql:///line?host=/nx&%70assword=s3cret",
        (rig.dir / "own.sqlite").string(),
    };
    const auto read = [](const std::filesystem::path& file) {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const auto& address : addresses) {
        SCOPED_TRACE(address);
        std::filesystem::remove(stub.string() + ".args");
        std::filesystem::remove(stub.string() + ".records");
        makePage(writerDir("a", "Units=1\n"));
        page->setWorkerProgram(QString::fromStdString(stub.string()));
        page->setRecordsLocation(address);
        ASSERT_TRUE(page->openJob(kivaJob()));
        page->BT_Prod_StartClick();
        ASSERT_TRUE(waitUntil([&] { return !page->tiles()[0]->running(); }));
        const std::string args = read(stub.string() + ".args");
        EXPECT_NE(args.find("--records-fd\n"), std::string::npos) << args;
        for (const char* secret : {"s3cret", "s3%63ret", "postgres"})
            EXPECT_EQ(args.find(secret), std::string::npos) << args;
        EXPECT_EQ(read(stub.string() + ".records"), address);
    }
    ::unsetenv("XDG_STATE_HOME");
}

TEST_F(TilesFixture, ThreeWritersOneRefusedThenRestartedOneKilledAllStopped) {
    const auto good = writerDir("a", "Units=3\n");
    const auto bad = writerDir("b", "Units=4\nBad=2\n");
    const auto busy = writerDir("c", "Units=2\n");
    // Another process has the third Writer: its worker cannot open it.
    sim::FolderLock held(rig.dir / "c");
    ASSERT_TRUE(held.acquire());

    makePage(good + ", " + bad + "," + busy);
    EXPECT_TRUE(page->ED_Prod_Writers->isVisibleTo(page));
    EXPECT_FALSE(page->PN_Prod_Status->isVisibleTo(page));
    const auto& tiles = page->tiles();
    ASSERT_EQ(tiles.size(), 3u);
    // The tile goes by the Writer's folder name, the whole text its tooltip.
    EXPECT_EQ(tiles[1]->LB_Tile_Writer->text(), QStringLiteral("b"));
    EXPECT_EQ(tiles[1]->LB_Tile_Writer->toolTip(), QString::fromStdString(bad));

    ASSERT_TRUE(page->openJob(kivaJob()));
    page->ED_Prod_Operator->setText(QStringLiteral("Ana"));
    page->BT_Prod_StartClick();
    // Start returns at once: the loops run in the workers.
    EXPECT_TRUE(gui::ControlLock::isLocked(tabs));

    ASSERT_TRUE(waitUntil([&] {
        return tiles[0]->report().counters().total() == 3 &&
               tiles[1]->report().counters().total() == 4 && !tiles[2]->running();
    }));
    EXPECT_EQ(tiles[0]->LB_Tile_Counters->text(),
              QStringLiteral("PASS 3   FAIL 0   TOTAL 3   SOCKET 3"));
    EXPECT_EQ(tiles[1]->LB_Tile_Counters->text(),
              QStringLiteral("PASS 3   FAIL 1   TOTAL 4   SOCKET 4"));
    EXPECT_EQ(statusOf(tiles[0]), QStringLiteral("PASS"));
    EXPECT_EQ(statusOf(tiles[1]), QStringLiteral("PASS"));
    EXPECT_TRUE(statusOf(tiles[2]).startsWith(QStringLiteral("STOPPED\nthe virtual Writer in ")));
    EXPECT_TRUE(statusOf(tiles[2]).contains(QStringLiteral("is in use by another process")));
    // The failing tile stopped only itself.
    EXPECT_TRUE(tiles[0]->running() && tiles[1]->running() && page->running());
    EXPECT_TRUE(tiles[2]->BT_Tile_Restart->isEnabled());
    EXPECT_FALSE(tiles[0]->BT_Tile_Restart->isEnabled());
    EXPECT_EQ(sounds.passes, 6);
    EXPECT_EQ(sounds.fails, 1);
    ASSERT_EQ(page->LV_Prod_Units->count(), 7);
    EXPECT_EQ(page->LV_Prod_Units
                  ->findItems(QStringLiteral("^\\[b\\] UNIT 2 FAIL .*s VDD failed!$"),
                              Qt::MatchRegularExpression)
                  .size(),
              1);
    EXPECT_EQ(page->LB_Prod_Counters->text(),
              QStringLiteral("PASS 6   FAIL 1   TOTAL 7   YIELD 85.7%"));

    // Let go, the third Writer restarts on its own tile; the others run on untouched.
    const qint64 firstPid = tiles[0]->workerPid();
    const qint64 secondPid = tiles[1]->workerPid();
    held.release();
    tiles[2]->BT_Tile_Restart->click();
    ASSERT_TRUE(waitUntil([&] { return tiles[2]->report().counters().total() == 2; }));
    EXPECT_EQ(statusOf(tiles[2]), QStringLiteral("PASS"));
    EXPECT_EQ(tiles[0]->workerPid(), firstPid);
    EXPECT_EQ(tiles[1]->workerPid(), secondPid);

    // A worker killed outright: its tile says so, the others do not notice.
    ASSERT_EQ(::kill(static_cast<pid_t>(firstPid), SIGKILL), 0);
    ASSERT_TRUE(waitUntil([&] { return !tiles[0]->running(); }));
    EXPECT_EQ(statusOf(tiles[0]), QStringLiteral("Writer Disconnect"));
    EXPECT_TRUE(tiles[1]->running() && tiles[2]->running() && page->running());

    // Stop ends every worker; the tab is the operator's again.
    page->BT_Prod_StopClick();
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));
    EXPECT_EQ(statusOf(tiles[1]), QStringLiteral("PASS"));  // ended after its unit, not killed
    EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
    EXPECT_TRUE(page->BT_Prod_Start->isEnabled());

    // Each worker wrote its own records, under its own Writer.
    std::string error;
    auto store = records::openRecordStore((rig.dir / "records.sqlite").string(), {}, error);
    ASSERT_TRUE(store) << error;
    std::map<std::string, int> perWriter;
    for (const auto& r : store->query({})) {
        ++perWriter[r.writer];
        EXPECT_EQ(r.operatorName, "Ana");
    }
    EXPECT_EQ(perWriter, (std::map<std::string, int>{{good, 3}, {bad, 4}, {busy, 2}}));
}

// A lot of three over two Writers of three chips each: the tab stops both
// workers once three units have passed between them (alone, each would pass
// three), and each tile counts its socket, amber from [Socket] Life=2 on.
TEST_F(TilesFixture, ALotsQuantityStopsEveryWorkerAndTheTilesCountTheirSockets) {
    rig.dir.write("Setup.ini", "[Socket]\nLife=2\n");
    makePage(writerDir("a", "Units=3\n") + "," + writerDir("b", "Units=3\n"));
    ASSERT_TRUE(page->openJob(kivaJob()));
    page->ED_Prod_Quantity->setText(QStringLiteral("3"));
    page->BT_Prod_StartClick();
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));  // no Stop

    EXPECT_TRUE(page->LB_Prod_Counters->text().endsWith(QStringLiteral("REMAINING 0 of 3")));
    long long passed = 0;
    for (const auto* tile : page->tiles()) {
        const long long units = tile->report().counters().total();
        passed += tile->report().counters().passed;
        SCOPED_TRACE(tile->writer());
        if (units == 0) continue;  // the other Writer passed the lot first
        EXPECT_TRUE(
            tile->LB_Tile_Counters->text().endsWith(QStringLiteral("   SOCKET %1").arg(units)));
        EXPECT_EQ(tile->LB_Tile_Socket->isVisibleTo(tile), units >= 2);
    }
    // The third pass stops both; a unit the other Writer had begun runs to its end.
    EXPECT_GE(passed, 3);
    EXPECT_LE(passed, 4);
}

// A Writer that goes away mid-run (the virtual Writer's transfers fail from
// a point on) fails its own unit and its tile says "Writer Disconnect"; back
// again, the tile's Restart carries on with a new worker. The other Writer
// never notices.
TEST_F(TilesFixture, APulledWriterCarriesOnAfterARestart) {
    const auto steady = writerDir("a", "Units=3\n");
    const auto pulled = writerDir("b", "Units=5\n");
    rig.dir.write("b/writer.ini", std::string("[Writer]\nFailFrom=300\n[Socket]\nUnits=5\n"));
    makePage(steady + "," + pulled);
    const auto& tiles = page->tiles();
    ASSERT_EQ(tiles.size(), 2u);
    ASSERT_TRUE(page->openJob(kivaJob()));
    page->BT_Prod_StartClick();
    ASSERT_TRUE(waitUntil([&] {
        return tiles[0]->report().counters().total() == 3 &&
               statusOf(tiles[1]) == QStringLiteral("Writer Disconnect");
    }));
    const auto lost = tiles[1]->report().counters();
    EXPECT_GE(lost.failed, 1);
    EXPECT_TRUE(tiles[1]->running());  // its worker keeps trying
    EXPECT_TRUE(tiles[1]->BT_Tile_Restart->isEnabled());

    // Plugged in again; the operator restarts its tile.
    rig.dir.write("b/writer.ini", std::string("[Socket]\nUnits=2\n"));
    const qint64 oldWorker = tiles[1]->workerPid();
    const qint64 steadyWorker = tiles[0]->workerPid();
    tiles[1]->BT_Tile_Restart->click();
    ASSERT_TRUE(
        waitUntil([&] { return tiles[1]->report().counters().total() == lost.total() + 2; }));
    EXPECT_NE(tiles[1]->workerPid(), oldWorker);
    EXPECT_EQ(statusOf(tiles[1]), QStringLiteral("PASS"));
    EXPECT_EQ(tiles[1]->report().counters().passed, lost.passed + 2);
    EXPECT_EQ(tiles[0]->workerPid(), steadyWorker);
    EXPECT_EQ(tiles[0]->report().counters(), (records::Counters{3, 0}));
    page->BT_Prod_StopClick();
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));
}

// A worker that does not heed the stop signal is killed after the grace
// period; the window never waits on it meanwhile.
TEST_F(TilesFixture, AStuckWorkerIsKilledAfterTheGrace) {
    const auto stubborn =
        rig.dir.write("stubborn.sh", std::string("#!/bin/sh\ntrap '' INT\n"
                                                 "echo '{\"kind\":\"progress\",\"percent\":20}'\n"
                                                 "exec sleep 60\n"));
    std::filesystem::permissions(stubborn, std::filesystem::perms::owner_all);
    makePage(writerDir("a", "Units=1\n") + "," + "usb:1-1.4" + ",usb:nowhere=1");
    page->setWorkerProgram(QString::fromStdString(stubborn.string()));
    page->setStopGrace(std::chrono::milliseconds(300));
    const auto& tiles = page->tiles();
    ASSERT_EQ(tiles.size(), 3u);
    // A text that names no Writer gets a tile that says so and never starts.
    EXPECT_EQ(statusOf(tiles[2]), QStringLiteral("STOPPED\nnot a Writer: usb:nowhere=1"));
    EXPECT_FALSE(tiles[2]->usable());

    ASSERT_TRUE(page->openJob(kivaJob()));
    const auto started = std::chrono::steady_clock::now();
    page->BT_Prod_StartClick();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_FALSE(tiles[2]->running());
    ASSERT_TRUE(waitUntil([&] {
        return tiles[0]->CG_Tile_Progress->progress() == 20 &&
               tiles[1]->CG_Tile_Progress->progress() == 20;
    }));
    EXPECT_EQ(statusOf(tiles[0]), QStringLiteral("PROGRAMMING"));

    page->BT_Prod_StopClick();
    EXPECT_TRUE(page->running());  // not killed at once
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));
    EXPECT_EQ(statusOf(tiles[0]), QStringLiteral("Writer Disconnect"));
    EXPECT_EQ(statusOf(tiles[1]), QStringLiteral("Writer Disconnect"));
    EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
}

// The window holds its own Writer (here a virtual one, whose folder lock
// stands for the USB claim); its tile's worker can only open it because the
// window hands it over for the run and takes it back after the last worker.
TEST_F(TilesFixture, TheWindowsOwnWriterIsHandedToItsTileForTheRun) {
    const auto own = writerDir("own", "Units=2\n");
    auto opened = sim::openPersistentWriter(rig.dir / "own");
    ASSERT_TRUE(opened.writer) << opened.error;
    link::Link windowLink(*opened.writer, rig.prompter);
    std::vector<bool> shown;
    link::ConnectionMonitor monitor(windowLink, [&](bool c) { shown.push_back(c); });
    monitor.start();
    ASSERT_TRUE(windowLink.connected());

    makePage(own);
    page->setWriterHandover([&] { monitor.lend(); }, [&] { monitor.takeBack(); });
    ASSERT_TRUE(page->openJob(kivaJob()));
    page->BT_Prod_StartClick();
    EXPECT_TRUE(monitor.lent());
    EXPECT_FALSE(opened.writer->isOpen());
    const auto* tile = page->tiles().at(0);
    ASSERT_TRUE(
        waitUntil([&] { return tile->report().counters().total() == 2 || !tile->running(); }));
    ASSERT_EQ(tile->report().counters().passed, 2) << statusOf(tile).toStdString();

    page->BT_Prod_StopClick();
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));
    EXPECT_FALSE(monitor.lent());
    EXPECT_TRUE(windowLink.connected());
    EXPECT_TRUE(opened.writer->isOpen());
    EXPECT_EQ(shown, (std::vector<bool>{true, true}));
}

TEST_F(TilesFixture, WithoutAWritersListTheTabKeepsItsOneWriter) {
    makePage("");
    EXPECT_TRUE(page->tiles().empty());
    EXPECT_FALSE(page->ED_Prod_Writers->isVisibleTo(page));
    EXPECT_TRUE(page->PN_Prod_Status->isVisibleTo(page));
    EXPECT_TRUE(page->RE_Prod_State->isVisibleTo(page));
    EXPECT_EQ(page->findChildren<production::WriterTile*>().size(), 0);
    EXPECT_EQ(production::readProductionSettings(
                  core::IniFile::fromText("[Production]\nWriters=usb:1-1.3,usb:1-1.4\n"))
                  .writers,
              "usb:1-1.3,usb:1-1.4");
}

TEST_F(TilesFixture, AllListsTheAttachedWritersAgainAtEachStart) {
    std::vector<link::usb::AttachedWriter> attached{{"1-2", ""}};
    production::ProductionSettings settings;
    settings.enabled = true;
    settings.writers = "all";
    // The page lists once when it is built (with libusb here: no Writers in a
    // test); Start lists again and builds the tiles for what is attached now.
    page = new production::ProductionPage(*env, *rig.link, settings);
    tabs.addTab(page, QStringLiteral("Production"));
    page->setAttachedWriters([&] { return attached; });
    page->setWorkerProgram(QStringLiteral("/bin/true"));
    page->ED_Prod_Operator->setText(QStringLiteral("Bo"));
    ASSERT_TRUE(page->openJob(kivaJob()));
    attached = {{"1-2", ""}, {"1-3", ""}};
    page->BT_Prod_StartClick();
    ASSERT_EQ(page->tiles().size(), 2u);
    EXPECT_EQ(page->tiles()[1]->writer(), "usb:1-3");
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));

    // No worker program: every tile says so and the tab is not left locked.
    page->setWorkerProgram(QString::fromStdString((rig.dir / "missing-cli").string()));
    page->BT_Prod_StartClick();
    ASSERT_TRUE(waitUntil([&] { return !page->running(); }));
    for (auto* t : page->tiles())
        EXPECT_EQ(statusOf(t).toStdString(),
                  "STOPPED\ncannot start " + (rig.dir / "missing-cli").string());
    EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
    EXPECT_TRUE(page->BT_Prod_Start->isEnabled());
}

}  // namespace
}  // namespace sonoprog::test

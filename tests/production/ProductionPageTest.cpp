#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <fstream>

#include "gui/ControlLock.h"
#include "gui/QtServices.h"
#include "production/EngineerBanner.h"
#include "production/EngineerPassword.h"
#include "production/ProductionPage.h"
#include "tests/production/PageHarness.h"
#include "tests/support/EventWait.h"

namespace sonoprog::test {
namespace {

class RecordingSounds final : public production::UnitSounds {
public:
    void passed() override { played("pass"); }
    void failed() override { played("fail"); }
    void played(const std::string& sound) {
        heard.push_back(sound);
        if (onSound) onSound();
    }
    std::vector<std::string> heard;
    std::function<void()> onSound;
};

using test::waitUntil;

bool runsToItsEnd(const production::ProductionPage& page) {
    return waitUntil([&] { return !page.running(); });
}

// The page inside a tab control as the window holds it, on the rig's Writer.
struct PageFixture : ::testing::Test, PageHarness {
    PageFixture() : PageHarness(sim::SocketScript{3, {2}}) {
        production::ProductionSettings settings;
        settings.enabled = true;
        settings.engineerPassword = *production::makePasswordHash("letmein", 1000);
        addPage(settings);
        page->setWriterIdentity("sim:bench");
        page->setSounds(&sounds);
        page->setPollInterval(std::chrono::milliseconds(0));
        page->setPasswordAsker([this]() -> std::optional<std::string> {
            if (passwords.empty()) return std::nullopt;
            auto next = passwords.front();
            passwords.pop_front();
            return next;
        });
    }

    // Another page at the bench, on `link`, recording into its own file.
    std::unique_ptr<production::ProductionPage> benchPage(
        link::Link& link, const std::string& file, production::ProductionSettings settings = {}) {
        settings.enabled = true;
        auto bench = std::make_unique<production::ProductionPage>(*env, link, settings);
        bench->setRecordsLocation((rig.dir / file).string());
        bench->setPollInterval(std::chrono::milliseconds(0));
        bench->setSounds(&sounds);
        return bench;
    }
    std::vector<records::UnitRecord> recordsIn(const std::string& file) {
        std::string error;
        auto store = records::openRecordStore((rig.dir / file).string(), {}, error);
        EXPECT_TRUE(store) << error;
        return store ? store->query({}) : std::vector<records::UnitRecord>{};
    }

    RecordingSounds sounds;
    std::deque<std::string> passwords;
};

TEST_F(PageFixture, RunLocksTheTabCountsAndRecordsEveryUnit) {
    const auto job = rig.makeJob([&] {
        production::JobRequest r;
        r.target = production::Target::Kiva300;
        r.image = rig.kivaImage();
        r.name = "Chime";
        return r;
    }());
    EXPECT_FALSE(page->BT_Prod_Start->isEnabled());  // no job yet
    ASSERT_TRUE(page->openJob(job.file.string()));
    EXPECT_TRUE(page->LB_Prod_JobInfo->text().contains(QStringLiteral("Chime")));
    EXPECT_TRUE(page->LB_Prod_JobInfo->text().contains(
        QString::fromStdString(job.job.imageSha256.substr(0, 12))));
    EXPECT_EQ(page->PN_Prod_Status->shownText(), QStringLiteral("READY"));
    ASSERT_TRUE(page->BT_Prod_Start->isEnabled());
    page->ED_Prod_Operator->setText(QStringLiteral("Ana"));

    struct Seen {
        bool tabsLocked, jobLocked, stopEnabled;
        QString status;
    };
    std::vector<Seen> seen;
    sounds.onSound = [&] {
        seen.push_back({gui::ControlLock::isLocked(tabs), !page->BT_Prod_OpenJob->isEnabled(),
                        page->BT_Prod_Stop->isEnabled(), page->PN_Prod_Status->shownText()});
        if (sounds.heard.size() == 1) {
            // The operator cannot leave; a wrong password changes nothing.
            passwords = {"guess"};
            page->BT_Prod_UnlockClick();
            EXPECT_TRUE(gui::ControlLock::isLocked(tabs));
            EXPECT_FALSE(page->engineerUnlocked());
        }
        if (sounds.heard.size() == 3) page->BT_Prod_StopClick();
    };
    page->BT_Prod_StartClick();
    ASSERT_TRUE(runsToItsEnd(*page));

    EXPECT_EQ(sounds.heard, (std::vector<std::string>{"pass", "fail", "pass"}));
    ASSERT_EQ(seen.size(), 3u);
    for (const auto& s : seen) {
        EXPECT_TRUE(s.tabsLocked);
        EXPECT_TRUE(s.jobLocked);
        EXPECT_TRUE(s.stopEnabled);
    }
    EXPECT_EQ(seen[0].status, QStringLiteral("PASS"));
    EXPECT_EQ(seen[1].status, QStringLiteral("FAIL\nVDD failed!"));
    EXPECT_EQ(rig.prompter.boxes.size(), 1u);  // the wrong password
    EXPECT_EQ(rig.prompter.boxes.at(0).text, "Wrong password!");

    // Stopped: unlocked again, the counters and the last units shown.
    EXPECT_FALSE(page->running());
    EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
    EXPECT_TRUE(page->BT_Prod_Start->isEnabled());
    EXPECT_FALSE(page->BT_Prod_Stop->isEnabled());
    EXPECT_EQ(page->LB_Prod_Counters->text(),
              QStringLiteral("PASS 2   FAIL 1   TOTAL 3   YIELD 66.7%\nSOCKET 3"));
    ASSERT_EQ(page->LV_Prod_Units->count(), 3);
    EXPECT_TRUE(page->LV_Prod_Units->item(0)->text().startsWith(QStringLiteral("UNIT 3 PASS")));
    EXPECT_TRUE(page->LV_Prod_Units->item(1)->text().startsWith(QStringLiteral("UNIT 2 FAIL")));
    EXPECT_TRUE(page->LV_Prod_Units->item(1)->text().endsWith(QStringLiteral("VDD failed!")));

    // The same records as the command line writes.
    std::string error;
    auto store = records::openRecordStore((rig.dir / "records.sqlite").string(), {}, error);
    ASSERT_TRUE(store) << error;
    const auto all = store->query({});
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].operatorName, "Ana");
    EXPECT_EQ(all[0].writer, "sim:bench");
    EXPECT_EQ(all[1].failLine, "    [X]  VDD failed!");
}

TEST_F(PageFixture, EngineerUnlocksARunningLoopAndResetsTheCounters) {
    production::JobRequest r;
    r.target = production::Target::Kiva300;
    r.image = rig.kivaImage();
    const auto job = rig.makeJob(r);
    ASSERT_TRUE(page->openJob(job.file.string()));
    sounds.onSound = [&] {
        if (sounds.heard.size() != 1) {
            page->BT_Prod_StopClick();
            return;
        }
        EXPECT_FALSE(page->BT_Prod_Reset->isEnabled());  // not while the operator runs
        passwords = {"letmein"};
        page->BT_Prod_UnlockClick();
        EXPECT_TRUE(page->engineerUnlocked());
        EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
        EXPECT_TRUE(page->BT_Prod_OpenJob->isEnabled());
        EXPECT_FALSE(page->BT_Prod_Start->isEnabled());  // one loop at a time
        EXPECT_TRUE(page->running());
    };
    page->BT_Prod_StartClick();
    ASSERT_TRUE(runsToItsEnd(*page));
    EXPECT_EQ(page->counters(), (records::Counters{1, 1}));

    // Reset needs the engineer: cancelled or wrong, nothing changes.
    passwords = {};
    page->BT_Prod_ResetClick();
    passwords = {"nope"};
    page->BT_Prod_ResetClick();
    EXPECT_EQ(page->counters(), (records::Counters{1, 1}));
    passwords = {"letmein"};
    page->BT_Prod_ResetClick();
    EXPECT_EQ(page->counters(), (records::Counters{}));
    EXPECT_EQ(page->LB_Prod_Counters->text(),
              QStringLiteral("PASS 0   FAIL 0   TOTAL 0   YIELD 0.0%\nSOCKET 2"));
    // Reopening the job reads the counters from the records: the reset holds.
    ASSERT_TRUE(page->openJob(job.file.string()));
    EXPECT_EQ(page->counters(), (records::Counters{}));
}

// A lot of two on three chips, the second bad: the run ends by itself once two
// units have passed, every record carries the lot, and the socket's count and
// its life ([Socket] Life=3) show under the panel.
TEST_F(PageFixture, ALotsQuantityEndsTheRunAndTheSocketCountShows) {
    rig.paths.setupOverride = rig.dir / "Setup.ini";
    rig.dir.write("Setup.ini", "[Socket]\nLife=3\n");
    ASSERT_TRUE(page->openJob(kivaJob()));
    page->ED_Prod_Lot->setText(QStringLiteral("L-42"));
    page->ED_Prod_Quantity->setText(QStringLiteral("2"));
    page->BT_Prod_StartClick();
    EXPECT_TRUE(page->LB_Prod_Counters->text().endsWith(QStringLiteral("REMAINING 2 of 2")));
    ASSERT_TRUE(runsToItsEnd(*page));  // no Stop

    EXPECT_EQ(sounds.heard, (std::vector<std::string>{"pass", "fail", "pass"}));
    EXPECT_EQ(
        page->LB_Prod_Counters->text(),
        QStringLiteral("PASS 2   FAIL 1   TOTAL 3   YIELD 66.7%\nREMAINING 0 of 2   SOCKET 3"));
    EXPECT_TRUE(page->LB_Prod_Socket->isVisibleTo(page));
    EXPECT_EQ(page->LB_Prod_Socket->text(),
              QStringLiteral("The socket of sim:bench has had 3 insertions, its life is 3; "
                             "replace it."));

    const auto all = recordsIn("records.sqlite");
    ASSERT_EQ(all.size(), 3u);
    for (const auto& unit : all) EXPECT_EQ(unit.lot, "L-42");
}

// Three chips, the second bad: each PASS or FAIL stays on the panel while the
// chip is taken out and until the next one goes in, as on the tiles.
TEST_F(PageFixture, TheResultStaysUntilTheNextChipGoesIn) {
    ASSERT_TRUE(page->openJob(kivaJob()));
    QStringList shown;
    QObject::connect(page->PN_Prod_Status, &production::StatusPanel::shown,
                     [&](const QString& text) {
                         if (shown.isEmpty() || shown.back() != text) shown << text;
                     });
    sounds.onSound = [&] {
        if (sounds.heard.size() == 3) page->BT_Prod_StopClick();
    };
    page->BT_Prod_StartClick();
    ASSERT_TRUE(runsToItsEnd(*page));
    EXPECT_EQ(sounds.heard.size(), 3u);
    EXPECT_EQ(shown, (QStringList{"INSERT CHIP", "PROGRAMMING", "PASS", "PROGRAMMING",
                                  "FAIL\nVDD failed!", "PROGRAMMING", "PASS"}));
    EXPECT_TRUE(page->PN_Prod_Status->showsResult());
    // The failed unit's row is red in the list of last units.
    ASSERT_EQ(page->LV_Prod_Units->count(), 3);
    EXPECT_EQ(page->LV_Prod_Units->item(1)->background().color(), QColor(0xff, 0x9b, 0x9b));
    EXPECT_EQ(page->LV_Prod_Units->item(0)->background().style(), Qt::NoBrush);
}

// RequireOperator (on by default): Start without an operator's name says so
// and runs nothing; with the key off it runs.
TEST_F(PageFixture, StartNeedsAnOperatorUnlessSetupSaysOtherwise) {
    EXPECT_TRUE(production::readProductionSettings(core::IniFile::fromText("[Production]\n"))
                    .requireOperator);
    EXPECT_FALSE(production::readProductionSettings(
                     core::IniFile::fromText("[Production]\nRequireOperator=0\n"))
                     .requireOperator);
    const std::string job = kivaJob();
    struct Row {
        bool require;
        const char* name;
        int units;
        std::size_t boxes;
    };
    const Row rows[] = {
        {true, "", 0, 1}, {true, "   ", 0, 1}, {true, "Ana", 1, 0}, {false, "", 1, 0}};
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(n);
        production::ProductionSettings settings;
        settings.requireOperator = row.require;
        const auto bench = benchPage(*rig.link, "r" + std::to_string(n++) + ".sqlite", settings);
        sounds.onSound = [&] { bench->BT_Prod_StopClick(); };
        ASSERT_TRUE(bench->openJob(job));
        bench->ED_Prod_Operator->setText(QString::fromLatin1(row.name));
        rig.prompter.boxes.clear();
        bench->BT_Prod_StartClick();
        ASSERT_TRUE(runsToItsEnd(*bench));
        EXPECT_EQ(bench->counters().total(), row.units);
        EXPECT_EQ(rig.prompter.boxes.size(), row.boxes);
        EXPECT_TRUE(bench->BT_Prod_Start->isEnabled());
    }
}

// The banner's Lock, while the loop runs, gives the tab back to the run's lock.
TEST_F(PageFixture, TheEngineerBannerLocksTheRunningTabAgain) {
    ASSERT_TRUE(page->openJob(kivaJob()));
    EXPECT_FALSE(page->BT_Prod_EditJob->isVisibleTo(page));
    sounds.onSound = [&] {
        if (sounds.heard.size() > 1) {
            page->BT_Prod_StopClick();
            return;
        }
        passwords = {"letmein"};
        page->BT_Prod_UnlockClick();
        EXPECT_TRUE(page->engineerBanner()->active());
        EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
        page->engineerBanner()->BT_Engineer_Lock->click();
        EXPECT_FALSE(page->engineerUnlocked());
        EXPECT_TRUE(page->engineerBanner()->isHidden());
        EXPECT_TRUE(gui::ControlLock::isLocked(tabs));
    };
    page->BT_Prod_StartClick();
    ASSERT_TRUE(runsToItsEnd(*page));
    EXPECT_EQ(sounds.heard.size(), 2u);
    // Idle, the engineer's unlock shows the job editor's button.
    passwords = {"letmein"};
    page->BT_Prod_UnlockClick();
    EXPECT_TRUE(page->BT_Prod_EditJob->isVisibleTo(page));
    EXPECT_TRUE(page->BT_Prod_EditJob->isEnabled());
}

// The last job and operator are there again in the next session's page.
TEST_F(PageFixture, TheLastJobAndOperatorComeBackAfterARestart) {
    const std::string job = kivaJob();
    const std::string memory = (rig.dir / "state" / "production.ini").string();
    page->setMemoryFile(memory);
    ASSERT_TRUE(page->openJob(job));
    page->ED_Prod_Operator->setText(QStringLiteral("Ana"));
    Q_EMIT page->ED_Prod_Operator->editingFinished();

    production::ProductionSettings settings;
    settings.enabled = true;
    production::ProductionPage next(*env, *rig.link, settings);
    next.setMemoryFile(memory);
    next.restoreRemembered();
    EXPECT_EQ(next.ED_Prod_Job->text().toStdString(), job);
    EXPECT_EQ(next.ED_Prod_Operator->text(), QStringLiteral("Ana"));
    EXPECT_TRUE(next.BT_Prod_Start->isEnabled());
}

TEST_F(PageFixture, TheOneWriterLoopRecordsTheWriterItRanOn) {
    const auto bare = benchPage(*rig.link, "r2.sqlite");  // not told a Writer
    bare->ED_Prod_Operator->setText(QStringLiteral("Bo"));
    sounds.onSound = [&] { bare->BT_Prod_StopClick(); };
    ASSERT_TRUE(bare->openJob(kivaJob()));
    bare->BT_Prod_StartClick();
    ASSERT_TRUE(runsToItsEnd(*bare));

    const auto all = recordsIn("r2.sqlite");
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].writer, "sim");  // the rig's virtual Writer, not "usb"
}

// The rig's Writer, whose first data transfer (a unit's; the insertion polls
// send none) waits until the test lets it go, two seconds at most.
class HeldWriter final : public link::WriterDevice {
public:
    explicit HeldWriter(link::WriterDevice& inner) : inner_(inner) {}
    ~HeldWriter() override { letGo(); }
    bool discover() override { return inner_.discover(); }
    bool open() override { return inner_.open(); }
    void release() override { inner_.release(); }
    bool isOpen() const override { return inner_.isOpen(); }
    std::optional<std::string> transfer(link::Endpoint endpoint, std::uint8_t* data,
                                        std::size_t length) override {
        if (endpoint == link::Endpoint::DataOut) {
            std::unique_lock lock(mutex_);
            if (!held_) {
                held_ = holding_ = true;
                released_.wait_for(lock, std::chrono::seconds(2), [this] { return let_; });
                holding_ = false;
            }
        }
        return inner_.transfer(endpoint, data, length);
    }
    void setDeviceChangeHandler(std::function<void()> handler) override {
        inner_.setDeviceChangeHandler(std::move(handler));
    }
    bool holding() {
        std::lock_guard lock(mutex_);
        return holding_;
    }
    void letGo() {
        {
            std::lock_guard lock(mutex_);
            let_ = true;
        }
        released_.notify_all();
    }

private:
    link::WriterDevice& inner_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    bool holding_ = false;
    bool let_ = false;
};

// Start hands the unit loop over and returns to the window's event loop;
// Stop, clicked there while a unit programs, ends the run after that unit.
TEST_F(PageFixture, StartReturnsAndAStopDuringAUnitEndsTheRunAfterIt) {
    HeldWriter held(*rig.writer);
    link::Link link(held, rig.prompter);
    link.setConnected(true);
    const auto bench = benchPage(link, "r3.sqlite");
    auto& one = *bench;
    one.ED_Prod_Operator->setText(QStringLiteral("Bo"));
    bool returned = false;
    // A loop run inside Start could only be stopped from inside it.
    sounds.onSound = [&] {
        if (!returned) one.BT_Prod_StopClick();
    };
    production::JobRequest r;
    r.target = production::Target::Tarn20;  // its pages go out as data transfers
    r.image = rig.tarnImage(20);
    ASSERT_TRUE(one.openJob(rig.makeJob(r).file.string()));

    one.BT_Prod_StartClick();
    returned = true;
    ASSERT_TRUE(one.running());
    ASSERT_TRUE(waitUntil([&] { return held.holding(); }));
    ASSERT_TRUE(waitUntil(
        [&] { return one.PN_Prod_Status->shownText() == QStringLiteral("PROGRAMMING"); }));
    EXPECT_TRUE(gui::ControlLock::isLocked(tabs));
    one.BT_Prod_StopClick();
    EXPECT_TRUE(one.running());  // the unit runs to its end and gets its record
    held.letGo();
    ASSERT_TRUE(runsToItsEnd(one));

    EXPECT_EQ(sounds.heard, (std::vector<std::string>{"pass"}));
    EXPECT_EQ(one.PN_Prod_Status->shownText(), QStringLiteral("PASS"));
    EXPECT_FALSE(gui::ControlLock::isLocked(tabs));
    EXPECT_TRUE(one.BT_Prod_Start->isEnabled());
    EXPECT_EQ(recordsIn("r3.sqlite").size(), 1u);
}

TEST_F(PageFixture, AJobWhoseCheckSumIsNotItsImagesIsRefusedWhenOpened) {
    const auto job = makeKivaJob();
    auto tampered = job.job;
    tampered.checkSum = "FFFF";
    std::ofstream(job.file) << production::jobToJson(tampered);
    EXPECT_FALSE(page->openJob(job.file.string()));
    ASSERT_EQ(rig.prompter.boxes.size(), 1u);
    EXPECT_NE(rig.prompter.boxes[0].text.find("check word FFFF"), std::string::npos)
        << rig.prompter.boxes[0].text;
    EXPECT_FALSE(page->BT_Prod_Start->isEnabled());
}

TEST_F(PageFixture, AnUnlockMakesAnOlderPasswordHashAgainInSetupIni) {
    production::ProductionSettings settings;
    settings.enabled = true;
    settings.engineerPassword = *production::makePasswordHash("letmein", 1000);
    const auto ini = rig.paths.setupIni();
    {
        std::ofstream out(ini, std::ios::binary);
        out << "[Production]\nEnabled=1\nEngineerPassword=" << settings.engineerPassword
            << "\n[Records]\nDatabase=line.sqlite\n";
    }
    const auto older = benchPage(*rig.link, "r3.sqlite", settings);
    older->setPasswordAsker([] { return std::optional<std::string>("letmein"); });
    ASSERT_TRUE(older->openJob(kivaJob()));
    older->BT_Prod_ResetClick();
    EXPECT_TRUE(rig.prompter.boxes.empty()) << "the old hash unlocked";

    const auto setup = core::IniFile::load(ini);
    const auto stored = setup.readString("Production", "EngineerPassword");
    EXPECT_EQ(stored.rfind("pbkdf2-sha256$600000$", 0), 0u) << stored;
    EXPECT_TRUE(production::checkPassword("letmein", stored));
    EXPECT_EQ(setup.readInteger("Production", "Enabled", 0), 1);
    EXPECT_EQ(setup.readString("Records", "Database"), "line.sqlite");
}

TEST_F(PageFixture, NoEngineerPasswordMeansNoUnlock) {
    production::ProductionSettings none;
    none.enabled = true;
    production::ProductionPage bare(*env, *rig.link, none);
    bare.setPasswordAsker([] { return std::optional<std::string>("anything"); });
    bare.setRecordsLocation((rig.dir / "r2.sqlite").string());
    production::JobRequest r;
    r.target = production::Target::Kiva300;
    r.image = rig.kivaImage();
    ASSERT_TRUE(bare.openJob(rig.makeJob(r).file.string()));
    bare.BT_Prod_ResetClick();
    ASSERT_EQ(rig.prompter.boxes.size(), 1u);
    EXPECT_EQ(rig.prompter.boxes[0].text, "No engineer password is set up in Setup.ini.");

    EXPECT_FALSE(production::readProductionSettings(core::IniFile::fromText("")).enabled);
    const auto s = production::readProductionSettings(core::IniFile::fromText(
        "[Production]\nEnabled=1\nEngineerPassword=pbkdf2-sha256$1$ab$cd\n"));
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.engineerPassword, "pbkdf2-sha256$1$ab$cd");
}

}  // namespace
}  // namespace sonoprog::test

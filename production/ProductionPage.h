#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "gui/ControlLock.h"
#include "gui/LogPane.h"
#include "gui/QtServices.h"
#include "link/Link.h"
#include "production/Job.h"
#include "production/ProductionLoop.h"
#include "production/StatusPanel.h"
#include "production/ToneSounds.h"
#include "production/WriterTilesPanel.h"
#include "production/WriterWorkers.h"
#include "records/RecordStore.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;

namespace sonoprog::gui {
class Gauge;
}

namespace sonoprog::production {

class EngineerBanner;
class OneWriterRun;
class WriterTile;

// What the page needs from Setup.ini's [Production] and [Records] sections.
struct ProductionSettings {
    bool enabled = false;          // Enabled=1 shows the tab
    std::string engineerPassword;  // EngineerPassword=, made by `production password`
    std::string recordsDatabase;   // [Records] Database=: the line's records, when set
    // Writers=: "all" or a list of --writer texts; one tile and one worker
    // process each. Empty: the one Writer of the window, in-process.
    std::string writers;
    bool requireOperator = true;  // RequireOperator=: Start needs an operator's name
    bool sounds = true;           // Sounds=0: no PASS and FAIL sounds
    std::string jobsFolder;       // JobsFolder=: where a scanned job is looked for
};
ProductionSettings readProductionSettings(const core::IniFile& setup);

// The "Production" page: a job, the operator, a large status panel, the
// counters and the last units, Start and Stop. It runs the same unit loop as
// `sonoprog-cli produce` (trigger insert), reporting through its own pane and
// gauge: with a Writers list in each tile's worker process, else on a thread
// of its own (OneWriterRun); Start returns at once either way. While the loop runs the tab is
// locked: the operator cannot leave it or change the job until an engineer unlocks it with the
// password; resetting the counters asks for the engineer too.
class ProductionPage final : public QWidget, private LoopListener {
    Q_OBJECT
public:
    ProductionPage(gui::TabEnvironment& env, link::Link& link, ProductionSettings settings,
                   QWidget* parent = nullptr);
    ~ProductionPage() override;

    // Opens a job file (false after a box saying why not).
    bool openJob(const std::string& path);
    void BT_Prod_OpenJobClick();
    void BT_Prod_StartClick();
    void BT_Prod_StopClick();
    void BT_Prod_UnlockClick();
    void BT_Prod_ResetClick();
    // The engineer makes a job, or changes the open one (behind the password).
    void BT_Prod_EditJobClick();
    // A scan (or a path typed) in the job field: a job file's path, or a job
    // of the jobs folder by its file name or the start of its SHA-256.
    void jobScanned();
    // Back to the operator: the tab locked again while a run goes on.
    void lockEngineer();

    // The last job and operator are kept in `file` and opened again from it.
    void setMemoryFile(const std::string& file);
    void restoreRemembered();
    // Laid out for a whole screen (bigger texts, the units list wider, no
    // operations pane) or back for the tab.
    void setOperatorView(bool on);
    bool operatorView() const { return operatorView_; }

    // Where the records go (default: the user's state folder).
    void setRecordsLocation(std::string location) { recordsLocation_ = std::move(location); }
    // How the records name the window's own Writer ("sim:/abs/dir", "usb:1-4"):
    // by default the port a USB Writer was found at, or "sim" for the virtual one.
    void setWriterIdentity(std::string identity) { writerIdentity_ = std::move(identity); }
    std::string writerIdentity() const;
    // Asks for the engineer's password (nullopt: cancelled); a password dialog by default.
    void setPasswordAsker(std::function<std::optional<std::string>()> asker) {
        askPassword_ = std::move(asker);
    }
    void setSounds(UnitSounds* sounds) { sounds_ = sounds; }
    void setPollInterval(std::chrono::milliseconds interval) { pollInterval_ = interval; }
    // With Writers: the program each tile's worker runs (default: sonoprog-cli
    // beside the window program), how long Stop waits for a worker to finish
    // its unit before killing it, and who lists the USB Writers for "all".
    void setWorkerProgram(QString program);
    void setStopGrace(std::chrono::milliseconds grace);
    void setAttachedWriters(std::function<std::vector<link::usb::AttachedWriter>()> lister);
    // With Writers: the window's own Writer is handed over while the workers
    // run (`lend`) and taken back when the last one has ended, so that the
    // worker of that Writer can open it.
    void setWriterHandover(std::function<void()> lend, std::function<void()> takeBack) {
        lendWriter_ = std::move(lend);
        takeBackWriter_ = std::move(takeBack);
    }
    // What the window does when a USB device comes or goes (the connection
    // monitor's look at the Writer). While the one Writer's loop runs, the
    // Writer is the loop's: the page has the look wait for the loop's next pause.
    void setDeviceChangeHandler(std::function<void()> handler) {
        deviceChange_ = std::move(handler);
    }
    // The tiles, one per Writer (none without a Writers list).
    const std::vector<WriterTile*>& tiles() const;
    void restartTile(WriterTile* tile);

    bool running() const { return running_; }
    bool engineerUnlocked() const { return engineer_; }
    EngineerBanner* engineerBanner() const { return banner_; }
    const records::Counters& counters() const { return counters_; }

    QLineEdit* ED_Prod_Job = nullptr;
    QLabel* LB_Prod_JobInfo = nullptr;
    QLineEdit* ED_Prod_Operator = nullptr;
    QLineEdit* ED_Prod_Lot = nullptr;       // recorded with every unit
    QLineEdit* ED_Prod_Quantity = nullptr;  // the units to pass; empty: no limit
    QLineEdit* ED_Prod_Writers = nullptr;   // shown with a Writers list only
    StatusPanel* PN_Prod_Status = nullptr;
    QLabel* LB_Prod_Counters = nullptr;
    QLabel* LB_Prod_Socket = nullptr;  // the socket's wear, when near or at its life
    QListWidget* LV_Prod_Units = nullptr;
    QPushButton* BT_Prod_OpenJob = nullptr;
    QPushButton* BT_Prod_Start = nullptr;
    QPushButton* BT_Prod_Stop = nullptr;
    QPushButton* BT_Prod_Unlock = nullptr;
    QPushButton* BT_Prod_Reset = nullptr;
    QPushButton* BT_Prod_EditJob = nullptr;
    QPushButton* BT_Prod_OperatorView = nullptr;
    gui::LogPane* RE_Prod_State = nullptr;
    gui::Gauge* CG_Prod_Progress = nullptr;

Q_SIGNALS:
    // The Operator View button: show the view (true) or leave it (false).
    void operatorViewRequested(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // LoopListener
    void stateChanged(LoopState state) override;
    void unitFinished(const UnitOutcome& outcome, const records::Counters& counters) override;
    void pollFailed(const std::string& message) override;
    void runAborted(const std::string& message) override;
    void socketWorn(const std::string& message, SocketWear wear) override;

    bool engineerConfirmed();
    records::RecordStore* store();
    void showStatus(const QString& text, const char* colour);
    // A status the tiles show too, in their words and colours.
    void showStatus(TileStatus status, const std::string& detail = {});
    void showCounters();
    // The quantity field's number; nullopt when empty (no limit).
    std::optional<long long> quantity() const;
    // A run starts: what remains of the lot is the whole quantity again.
    void beginQuantity();
    void refreshCounters();
    void updateEnablement();
    bool tileMode() const { return !settings_.writers.empty(); }
    void startTiles();
    WorkerRun workerRun() const;
    void tileUnitFinished(const QString& summary, bool passed);
    void tileEnded();
    void beginTileRun();
    void addUnitLine(const QString& summary, bool passed);
    void setEngineer(bool on);
    // RequireOperator: false, with a box, when Start has no operator's name.
    bool operatorGiven();
    void remember();
    void fitStatusPanel();
    void oneWriterEnded();
    // Runs `task` on the records now, or, while the one Writer's loop runs,
    // at its next pause.
    void withStore(std::function<void()> task);
    void unitSound(bool passed);

    gui::TabEnvironment& env_;
    link::Link& link_;
    ProductionSettings settings_;
    std::unique_ptr<gui::PaneAdapter> paneAdapter_;
    gui::ControlLock runLock_;  // what the operator may not touch while the loop runs
    std::optional<LoadedJob> job_;
    std::unique_ptr<records::RecordStore> store_;
    std::string recordsLocation_;
    std::string writerIdentity_;
    std::function<std::optional<std::string>()> askPassword_;
    std::unique_ptr<ToneSounds> tones_;
    UnitSounds* sounds_ = nullptr;
    std::chrono::milliseconds pollInterval_{250};
    records::Counters counters_;
    std::optional<long long> runQuantity_;       // the running (or last) run's quantity
    long long runPassed_ = 0;                    // its units passed, over every Writer
    std::optional<long long> socketInsertions_;  // the one Writer's socket
    std::atomic<bool> stop_{false};
    bool running_ = false;
    WriterTilesPanel* tilesPanel_ = nullptr;  // with a Writers list only
    std::unique_ptr<OneWriterRun> oneRun_;    // the last one-Writer run
    std::function<void()> deviceChange_;
    std::function<void()> lendWriter_;
    std::function<void()> takeBackWriter_;
    std::string runJobPath_;  // the job the workers run, kept while any runs
    bool engineer_ = false;
    EngineerBanner* banner_ = nullptr;
    std::unique_ptr<QSettings> memory_;
    bool operatorView_ = false;
    QFont tabFont_;
    QFont tabCountersFont_;
};

}  // namespace sonoprog::production

#include "production/ProductionPage.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdlib>

#include "core/FileChooser.h"
#include "core/LineSafe.h"
#include "gui/Gauge.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/EngineerBanner.h"
#include "production/EngineerPassword.h"
#include "production/JobEditor.h"
#include "production/JobScan.h"
#include "production/OneWriterRun.h"
#include "production/OperatorLayout.h"
#include "production/WriterTile.h"
#include "production/WriterTilesPanel.h"
#include "serialflash/SerialFlashDevices.h"

namespace sonoprog::production {

namespace {

template <typename T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton* button(const char* name, const char* caption) {
    auto* b = named(new QPushButton(QString::fromLatin1(caption)), name);
    b->setMinimumSize(110, 30);
    return b;
}

}  // namespace

ProductionSettings readProductionSettings(const core::IniFile& setup) {
    ProductionSettings s;
    s.enabled = setup.readInteger("Production", "Enabled", 0) == 1;
    s.engineerPassword = setup.readString("Production", "EngineerPassword");
    s.recordsDatabase = setup.readString("Records", "Database");
    s.writers = setup.readString("Production", "Writers");
    s.requireOperator = setup.readInteger("Production", "RequireOperator", 1) != 0;
    s.sounds = setup.readInteger("Production", "Sounds", 1) != 0;
    s.jobsFolder = setup.readString("Production", "JobsFolder");
    return s;
}

ProductionPage::ProductionPage(gui::TabEnvironment& env, link::Link& link,
                               ProductionSettings settings, QWidget* parent)
    : QWidget(parent), env_(env), link_(link), settings_(std::move(settings)) {
    setObjectName(QStringLiteral("PAGE_Production"));
    resize(775, 555);

    // The job field takes a path typed or a scan of a job (scanners type and press Enter).
    ED_Prod_Job = named(new QLineEdit, "ED_Prod_Job");
    ED_Prod_Job->setPlaceholderText(QStringLiteral("scan a job, or Open Job"));
    LB_Prod_JobInfo = named(new QLabel, "LB_Prod_JobInfo");
    LB_Prod_JobInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ED_Prod_Operator = named(new QLineEdit, "ED_Prod_Operator");
    ED_Prod_Lot = named(new QLineEdit, "ED_Prod_Lot");
    ED_Prod_Lot->setPlaceholderText(QStringLiteral("scan the lot"));
    ED_Prod_Quantity = named(new QLineEdit, "ED_Prod_Quantity");
    ED_Prod_Quantity->setPlaceholderText(QStringLiteral("no limit"));
    ED_Prod_Quantity->setValidator(new QIntValidator(1, 999999999, ED_Prod_Quantity));
    ED_Prod_Quantity->setMaximumWidth(110);
    BT_Prod_OpenJob = button("BT_Prod_OpenJob", "Open Job");
    BT_Prod_Start = button("BT_Prod_Start", "Start");
    BT_Prod_Stop = button("BT_Prod_Stop", "Stop");
    BT_Prod_Unlock = button("BT_Prod_Unlock", "Engineer");
    BT_Prod_Reset = button("BT_Prod_Reset", "Reset Counters");
    BT_Prod_EditJob = button("BT_Prod_EditJob", "Edit Job");
    BT_Prod_OperatorView = button("BT_Prod_OperatorView", "Operator View");
    BT_Prod_OperatorView->setToolTip(
        QStringLiteral("The Production tab on the whole screen (F11); Esc leaves it."));
    PN_Prod_Status = named(new StatusPanel(TileScale{}), "PN_Prod_Status");
    PN_Prod_Status->setMinimumHeight(90);
    LB_Prod_Counters = named(new QLabel, "LB_Prod_Counters");
    QFont counterFont = LB_Prod_Counters->font();
    counterFont.setPointSize(13);
    counterFont.setBold(true);
    LB_Prod_Counters->setFont(counterFont);
    LB_Prod_Socket = named(new QLabel, "LB_Prod_Socket");
    LB_Prod_Socket->setWordWrap(true);
    LB_Prod_Socket->setStyleSheet(socketNoteStyle());
    LB_Prod_Socket->hide();
    LV_Prod_Units = named(new QListWidget, "LV_Prod_Units");
    // Wide enough for "[1-1.3] UNIT 12 FAIL 3.2s" and the start of its reason.
    LV_Prod_Units->setMinimumWidth(240);
    // A long reason wraps rather than running off to the right.
    LV_Prod_Units->setWordWrap(true);
    LV_Prod_Units->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    banner_ = new EngineerBanner;
    RE_Prod_State = named(new gui::LogPane, "RE_Prod_State");
    CG_Prod_Progress = named(new gui::Gauge, "CG_Prod_Progress");

    auto* jobBox = new QGroupBox(QStringLiteral("Job"));
    auto* grid = new QGridLayout(jobBox);
    grid->addWidget(new QLabel(QStringLiteral("File")), 0, 0);
    grid->addWidget(ED_Prod_Job, 0, 1);
    grid->addWidget(BT_Prod_OpenJob, 0, 2);
    grid->addWidget(LB_Prod_JobInfo, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Operator")), 2, 0);
    auto* people = new QHBoxLayout;
    people->addWidget(ED_Prod_Operator, 2);
    people->addWidget(new QLabel(QStringLiteral("Lot")));
    people->addWidget(ED_Prod_Lot, 2);
    people->addWidget(new QLabel(QStringLiteral("Quantity")));
    people->addWidget(ED_Prod_Quantity, 1);
    grid->addLayout(people, 2, 1, 1, 2);
    ED_Prod_Writers = named(new QLineEdit(this), "ED_Prod_Writers");
    ED_Prod_Writers->setReadOnly(true);
    ED_Prod_Writers->setFocusPolicy(Qt::NoFocus);
    ED_Prod_Writers->setText(gui::fromLocal(settings_.writers));
    ED_Prod_Writers->setCursorPosition(0);  // a long list shows its start
    ED_Prod_Writers->hide();
    if (tileMode()) {
        grid->addWidget(new QLabel(QStringLiteral("Writers")), 3, 0);
        grid->addWidget(ED_Prod_Writers, 3, 1, 1, 2);
        ED_Prod_Writers->show();
    }
    grid->setColumnStretch(1, 1);

    auto* buttons = new QVBoxLayout;
    for (auto* b : {BT_Prod_Start, BT_Prod_Stop, BT_Prod_Unlock, BT_Prod_Reset, BT_Prod_EditJob})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(BT_Prod_OperatorView);

    auto* statusColumn = new QVBoxLayout;
    if (tileMode()) {
        // The Writers' tiles take the big panel's place; the counters below
        // them are the job's, over every Writer.
        tilesPanel_ = new WriterTilesPanel(settings_.writers);
        statusColumn->addWidget(tilesPanel_, 2);
        PN_Prod_Status->setParent(this);
        PN_Prod_Status->hide();
        CG_Prod_Progress->setParent(this);
        CG_Prod_Progress->hide();
    } else {
        statusColumn->addWidget(PN_Prod_Status, 2);
        statusColumn->addWidget(CG_Prod_Progress);
    }
    statusColumn->addWidget(LB_Prod_Counters);
    if (!tileMode())
        statusColumn->addWidget(LB_Prod_Socket);
    else
        LB_Prod_Socket->setParent(this);  // each tile has its own

    auto* middle = new QHBoxLayout;
    middle->addLayout(statusColumn, 3);
    middle->addWidget(LV_Prod_Units, 2);
    middle->addLayout(buttons);

    auto* page = new QVBoxLayout(this);
    page->addWidget(banner_);
    page->addWidget(jobBox);
    page->addLayout(middle, 3);
    if (tileMode()) {
        // The operations' lines are the workers' own: the tiles get the room.
        RE_Prod_State->setParent(this);
        RE_Prod_State->hide();
    } else {
        page->addWidget(RE_Prod_State, 2);
    }

    paneAdapter_ = std::make_unique<gui::PaneAdapter>(*RE_Prod_State, *CG_Prod_Progress);
    runLock_.setControls({BT_Prod_OpenJob, ED_Prod_Job, ED_Prod_Operator, ED_Prod_Lot,
                          ED_Prod_Quantity, BT_Prod_Start, BT_Prod_Reset, env_.deviceSel,
                          env_.pcMain});
    askPassword_ = [this]() -> std::optional<std::string> {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Engineer"),
                                                   QStringLiteral("Engineer password:"),
                                                   QLineEdit::Password, QString(), &ok);
        if (!ok) return std::nullopt;
        return gui::toLocal(text);
    };

    connect(BT_Prod_OpenJob, &QPushButton::clicked, this, &ProductionPage::BT_Prod_OpenJobClick);
    connect(BT_Prod_Start, &QPushButton::clicked, this, &ProductionPage::BT_Prod_StartClick);
    connect(BT_Prod_Stop, &QPushButton::clicked, this, &ProductionPage::BT_Prod_StopClick);
    connect(BT_Prod_Unlock, &QPushButton::clicked, this, &ProductionPage::BT_Prod_UnlockClick);
    connect(BT_Prod_Reset, &QPushButton::clicked, this, &ProductionPage::BT_Prod_ResetClick);
    connect(BT_Prod_EditJob, &QPushButton::clicked, this, &ProductionPage::BT_Prod_EditJobClick);
    connect(BT_Prod_OperatorView, &QPushButton::clicked, this,
            [this] { Q_EMIT operatorViewRequested(!operatorView_); });
    connect(banner_, &EngineerBanner::lockRequested, this, &ProductionPage::lockEngineer);
    // Scanners type and press Enter: each field takes its scan and hands on.
    connect(ED_Prod_Job, &QLineEdit::returnPressed, this, &ProductionPage::jobScanned);
    // The operator's badge, then the lot's label, then the quantity, then Start.
    connect(ED_Prod_Operator, &QLineEdit::returnPressed, this, [this] {
        remember();
        ED_Prod_Lot->setFocus();
        ED_Prod_Lot->selectAll();
    });
    connect(ED_Prod_Operator, &QLineEdit::editingFinished, this, &ProductionPage::remember);
    connect(ED_Prod_Lot, &QLineEdit::returnPressed, this, [this] {
        remember();
        ED_Prod_Quantity->setFocus();
        ED_Prod_Quantity->selectAll();
    });
    connect(ED_Prod_Lot, &QLineEdit::editingFinished, this, &ProductionPage::remember);
    connect(ED_Prod_Quantity, &QLineEdit::returnPressed, this, [this] {
        if (BT_Prod_Start->isEnabled()) BT_Prod_Start->setFocus();
    });
    PN_Prod_Status->installEventFilter(this);
    tabFont_ = font();
    tabCountersFont_ = LB_Prod_Counters->font();
    if (tilesPanel_) {
        connect(tilesPanel_, &WriterTilesPanel::unitFinished, this,
                &ProductionPage::tileUnitFinished);
        connect(tilesPanel_, &WriterTilesPanel::workerEnded, this, &ProductionPage::tileEnded);
        connect(tilesPanel_, &WriterTilesPanel::restartRequested, this,
                &ProductionPage::restartTile);
        tilesPanel_->setSocketLife(readLineSettings(env_.paths.setupIni()).socketLife);
    }
    showStatus(QStringLiteral("OPEN A JOB"), "#d0d0d0");
    showCounters();
    if (tilesPanel_) tilesPanel_->buildTiles();
    updateEnablement();
}

ProductionPage::~ProductionPage() {
    stop_ = true;
    if (tilesPanel_) tilesPanel_->stop();
    if (oneRun_) {
        oneRun_.reset();
        if (deviceChange_) link_.device().setDeviceChangeHandler(deviceChange_);
    }
}

const std::vector<WriterTile*>& ProductionPage::tiles() const {
    static const std::vector<WriterTile*> none;
    return tilesPanel_ ? tilesPanel_->tiles() : none;
}

void ProductionPage::setWorkerProgram(QString program) {
    if (tilesPanel_) tilesPanel_->setWorkerProgram(std::move(program));
}

void ProductionPage::setStopGrace(std::chrono::milliseconds grace) {
    if (tilesPanel_) tilesPanel_->setStopGrace(grace);
}

void ProductionPage::setAttachedWriters(
    std::function<std::vector<link::usb::AttachedWriter>()> lister) {
    if (tilesPanel_) tilesPanel_->setAttachedWriters(std::move(lister));
}

WorkerRun ProductionPage::workerRun() const {
    WorkerRun run;
    run.jobPath = runJobPath_;
    run.operatorName = gui::toLocal(ED_Prod_Operator->text());
    run.records = recordsLocation_.empty() ? settings_.recordsDatabase : recordsLocation_;
    run.setup = env_.paths.setupOverride.string();
    run.tempFolder = env_.paths.tempDir.string();
    run.lot = gui::toLocal(ED_Prod_Lot->text().trimmed());
    // A worker started during the run (a restart) is given what remains of the lot.
    if (runQuantity_) run.quantity = std::max(1LL, *runQuantity_ - runPassed_);
    return run;
}

void ProductionPage::startTiles() {
    if (running_ || !job_) return;
    // "all" is read again at each Start from idle: Writers come and go between runs.
    tilesPanel_->buildTiles();
    runJobPath_ = job_->file.string();
    if (!tilesPanel_->listError().empty()) {
        env_.prompter.showMessage("ERROR", tilesPanel_->listError(), core::BoxIcon::Error);
        return;
    }
    const auto idle = tilesPanel_->idleTiles();
    if (idle.empty()) return;
    beginQuantity();
    beginTileRun();
    const WorkerRun run = workerRun();
    for (auto* tile : idle) tilesPanel_->startWorker(*tile, run);
    tileEnded();  // workers whose program could not even start
}

void ProductionPage::restartTile(WriterTile* tile) {
    if (!tilesPanel_ || !tile || !tile->usable() || !job_ || engineer_) return;
    if (tile->running()) {
        // Its Writer is back: this worker goes, a new one follows (see WriterTile).
        tilesPanel_->restartWhenEnded(*tile);
        return;
    }
    if (!running_) {
        // Nothing else runs: the tab locks as for Start, for this tile alone.
        runJobPath_ = job_->file.string();
        beginQuantity();
        beginTileRun();
    }
    tilesPanel_->startWorker(*tile, workerRun());
    tileEnded();
}

void ProductionPage::tileUnitFinished(const QString& summary, bool passed) {
    addUnitLine(summary, passed);
    if (passed) ++runPassed_;
    refreshCounters();
    unitSound(passed);
    // The lot is done over all the Writers: every worker stops after its unit.
    if (passed && runQuantity_ && runPassed_ == *runQuantity_ && tilesPanel_) tilesPanel_->stop();
}

void ProductionPage::tileEnded() {
    if (tilesPanel_ && tilesPanel_->anyRunning()) {
        updateEnablement();
        return;
    }
    if (!running_) return;
    running_ = false;
    setEngineer(false);
    runLock_.unlock();
    if (takeBackWriter_) takeBackWriter_();
    updateEnablement();
}

void ProductionPage::beginTileRun() {
    running_ = true;
    setEngineer(false);
    runLock_.lock();
    if (lendWriter_) lendWriter_();
}

void ProductionPage::addUnitLine(const QString& summary, bool passed) {
    // The newest first; the last 50 units are what the bench looks back on.
    auto* item = new QListWidgetItem(summary);
    item->setToolTip(summary);
    if (!passed) {
        item->setBackground(QColor(0xff, 0x9b, 0x9b));
        item->setForeground(QColor(0x80, 0, 0));
    }
    LV_Prod_Units->insertItem(0, item);
    while (LV_Prod_Units->count() > 50) delete LV_Prod_Units->takeItem(LV_Prod_Units->count() - 1);
}

void ProductionPage::unitSound(bool passed) {
    if (!settings_.sounds) return;
    UnitSounds* sounds = sounds_;
    if (!sounds) {
        if (!tones_) tones_ = std::make_unique<ToneSounds>();
        sounds = tones_.get();
    }
    passed ? sounds->passed() : sounds->failed();
}

void ProductionPage::showStatus(const QString& text, const char* colour) {
    PN_Prod_Status->showWord(text.section(QLatin1Char('\n'), 0, 0), colour,
                             text.section(QLatin1Char('\n'), 1));
}

void ProductionPage::showStatus(TileStatus status, const std::string& detail) {
    PN_Prod_Status->showStatus(status, detail);
}

void ProductionPage::showCounters() {
    QString text = QStringLiteral("PASS %1   FAIL %2   TOTAL %3   YIELD %4%")
                       .arg(counters_.passed)
                       .arg(counters_.failed)
                       .arg(counters_.total())
                       .arg(QString::fromStdString(records::yieldText(counters_)));
    // The lot and the one Writer's socket on a line of their own, below (the
    // tiles show their own sockets).
    QStringList more;
    if (runQuantity_)
        more << QString::fromStdString(
            remainingLine(std::max(0LL, *runQuantity_ - runPassed_), *runQuantity_));
    if (socketInsertions_ && !tileMode())
        more << QStringLiteral("SOCKET %1").arg(*socketInsertions_);
    if (!more.isEmpty()) text += QLatin1Char('\n') + more.join(QStringLiteral("   "));
    LB_Prod_Counters->setText(text);
}

std::optional<long long> ProductionPage::quantity() const {
    bool ok = false;
    const long long n = ED_Prod_Quantity->text().trimmed().toLongLong(&ok);
    if (!ok || n <= 0) return std::nullopt;
    return n;
}

void ProductionPage::beginQuantity() {
    runQuantity_ = quantity();
    runPassed_ = 0;
    showCounters();
}

void ProductionPage::updateEnablement() {
    BT_Prod_Stop->setEnabled(running_);
    BT_Prod_Start->setEnabled(!running_ && job_.has_value());
    BT_Prod_Reset->setEnabled(job_.has_value() && (!running_ || engineer_));
    BT_Prod_EditJob->setEnabled(engineer_ && !running_);
    BT_Prod_EditJob->setVisible(engineer_);
    BT_Prod_Unlock->setEnabled(!engineer_);
    if (tilesPanel_) {
        for (auto* tile : tilesPanel_->tiles()) tile->setJobOpen(job_.has_value());
        tilesPanel_->setRestartAllowed(job_.has_value() && !engineer_);
    }
}

records::RecordStore* ProductionPage::store() {
    if (store_) return store_.get();
    const std::string location =
        recordsLocation_.empty() ? settings_.recordsDatabase : recordsLocation_;
    std::string error;
    store_ = records::openRecordStore(
        location, records::defaultRecordsPath(std::getenv("XDG_STATE_HOME"), std::getenv("HOME")),
        error);
    if (!store_) env_.prompter.showMessage("ERROR", error, core::BoxIcon::Error);
    // A line's database that stops answering never holds up Stop.
    if (store_) records::setStopFlag(*store_, stop_);
    return store_.get();
}

void ProductionPage::refreshCounters() {
    if (!job_ || !store()) {
        showCounters();
        return;
    }
    withStore([this, sha = job_->fileSha256] {
        counters_ = store_->counters(sha);
        showCounters();
    });
}

void ProductionPage::withStore(std::function<void()> task) {
    if (oneRun_)
        oneRun_->whileParked(std::move(task));
    else
        task();
}

std::string ProductionPage::writerIdentity() const {
    // A Writer on USB is named by the port it was found at, as the command line names it.
    if (auto* usb = dynamic_cast<const link::usb::UsbWriterDevice*>(&link_.device())) {
        if (!usb->found().port.empty()) return link::usb::identityText(usb->found());
        return writerIdentity_.empty() ? "usb" : writerIdentity_;
    }
    // Otherwise the virtual Writer: its folder when the window was told one.
    return writerIdentity_.empty() ? "sim" : writerIdentity_;
}

bool ProductionPage::openJob(const std::string& path) {
    std::string error;
    auto loaded = loadJob(path, error);
    // A job that does not match its image would record units it never programmed.
    if (loaded) {
        if (auto problem = jobImageProblem(*loaded, env_.ivrKeys, env_.paths.setupIni())) {
            error = path + ": " + *problem;
            loaded.reset();
        }
    }
    if (!loaded) {
        env_.prompter.showMessage("ERROR", error, core::BoxIcon::Error);
        return false;
    }
    job_ = std::move(loaded);
    const Job& job = job_->job;
    ED_Prod_Job->setText(gui::fromLocal(path));
    QString target = QString::fromLatin1(targetName(job.target).data());
    if (!job.device.empty())
        target += QStringLiteral(" ") + gui::fromLocal(core::lineSafe(job.device));
    LB_Prod_JobInfo->setText(
        QStringLiteral("%1  |  %2  |  %3  |  SHA-256 %4  |  %5")
            .arg(gui::fromLocal(core::lineSafe(job.name)), target,
                 gui::fromLocal(core::lineSafe(imagePath(job, job_->file).filename().string())),
                 QString::fromStdString(job.imageSha256.substr(0, 12)),
                 gui::fromLocal(job.checkSum)));
    ED_Prod_Job->setCursorPosition(0);
    LV_Prod_Units->clear();
    if (!running_) runQuantity_.reset();  // the last lot's count was the last job's
    showStatus(TileStatus::Ready);
    refreshCounters();
    updateEnablement();
    remember();
    return true;
}

void ProductionPage::jobScanned() {
    const std::string scan = gui::toLocal(ED_Prod_Job->text().trimmed());
    const QString shown = job_ ? gui::fromLocal(job_->file.string()) : QString();
    if (scan.empty() || (job_ && scan == job_->file.string())) {
        ED_Prod_Operator->setFocus();
        return;
    }
    std::error_code ec;
    std::string path;
    if (std::filesystem::is_regular_file(scan, ec)) {
        path = scan;
    } else {
        const auto found = findScannedJob(scan, settings_.jobsFolder);
        if (!found.file) {
            ED_Prod_Job->setText(shown);
            env_.prompter.showMessage("ERROR", found.error, core::BoxIcon::Error);
            return;
        }
        path = found.file->string();
    }
    if (!openJob(path)) {
        ED_Prod_Job->setText(shown);
        return;
    }
    // The operator's badge is the next scan.
    ED_Prod_Operator->setFocus();
    ED_Prod_Operator->selectAll();
}

void ProductionPage::BT_Prod_OpenJobClick() {
    const auto path = env_.files.chooseOpenFile({"Job file|*.json", "json"});
    if (path) openJob(*path);
}

void ProductionPage::BT_Prod_StartClick() {
    if (tileMode()) {
        // Each Writer's loop runs in its worker; the window only renders them.
        if (!operatorGiven()) return;
        startTiles();
        return;
    }
    if (running_ || !job_ || !operatorGiven() || !store()) return;
    running_ = true;
    setEngineer(false);
    stop_ = false;
    runLock_.lock();
    updateEnablement();
    beginQuantity();
    LB_Prod_Socket->hide();  // told again by the loop when the socket is still worn

    // The loop keeps its own copy: an engineer may open another job meanwhile.
    LoopOptions options;
    options.trigger = Trigger::Insert;
    options.operatorName = gui::toLocal(ED_Prod_Operator->text());
    options.writerIdentity = writerIdentity();
    options.pollInterval = pollInterval_;
    options.lot = gui::toLocal(ED_Prod_Lot->text().trimmed());
    options.quantity = runQuantity_;
    oneRun_.reset();
    oneRun_ = std::make_unique<OneWriterRun>(
        OneWriterSetup{*job_, options, *paneAdapter_, env_.prompter, env_.clock, env_.paths, link_,
                       env_.ivrKeys, *store_, *this},
        stop_);
    connect(oneRun_.get(), &OneWriterRun::finished, this, &ProductionPage::oneWriterEnded);
    // The Writer is the loop's now: a device coming or going is looked at
    // between two of its steps.
    if (deviceChange_)
        link_.device().setDeviceChangeHandler(
            [run = oneRun_.get(), change = deviceChange_] { run->whileParked(change); });
    oneRun_->start();
}

void ProductionPage::oneWriterEnded() {
    if (deviceChange_) link_.device().setDeviceChangeHandler(deviceChange_);
    running_ = false;
    setEngineer(false);
    runLock_.unlock();
    updateEnablement();
}

void ProductionPage::BT_Prod_StopClick() {
    stop_ = true;
    if (tilesPanel_) tilesPanel_->stop();
}

bool ProductionPage::engineerConfirmed() {
    if (engineer_) return true;
    const auto password = askPassword_ ? askPassword_() : std::nullopt;
    if (!password) return false;
    if (settings_.engineerPassword.empty() ||
        !checkPassword(*password, settings_.engineerPassword)) {
        env_.prompter.showMessage("ERROR",
                                  settings_.engineerPassword.empty()
                                      ? "No engineer password is set up in Setup.ini."
                                      : "Wrong password!",
                                  core::BoxIcon::Error);
        return false;
    }
    // A hash from an earlier version is made again with today's iterations;
    // one that cannot be stored keeps working as it is.
    if (const auto stronger = strongerPasswordHash(*password, settings_.engineerPassword);
        stronger && storeEngineerPassword(env_.paths.setupIni(), *stronger))
        settings_.engineerPassword = *stronger;
    return true;
}

void ProductionPage::BT_Prod_UnlockClick() {
    if (engineer_ || !engineerConfirmed()) return;
    // The engineer may leave the tab and change the job's settings; the loop runs on.
    setEngineer(true);
    runLock_.unlock();
    BT_Prod_Start->setEnabled(false);
    updateEnablement();
}

void ProductionPage::setEngineer(bool on) {
    if (engineer_ == on) return;
    engineer_ = on;
    if (on)
        banner_->unlocked();
    else
        banner_->lock();  // says so back to lockEngineer(), which finds it done
}

void ProductionPage::lockEngineer() {
    if (!engineer_) return;
    setEngineer(false);
    if (running_) runLock_.lock();
    updateEnablement();
}

bool ProductionPage::operatorGiven() {
    if (!settings_.requireOperator || !ED_Prod_Operator->text().trimmed().isEmpty()) return true;
    env_.prompter.showMessage("Operator", "Enter the operator's name before Start.",
                              core::BoxIcon::Warning);
    ED_Prod_Operator->setFocus();
    return false;
}

void ProductionPage::BT_Prod_EditJobClick() {
    if (!engineer_ || running_) return;
    const auto setup = core::IniFile::load(env_.paths.setupIni());
    JobEditor editor(env_.files, env_.paths.setupIni(), env_.ivrKeys,
                     serialflash::listDeviceNames(setup), this);
    if (job_) editor.edit(job_->file);
    editor.exec();
    if (editor.saved()) openJob(editor.saved()->file.string());
}

void ProductionPage::setMemoryFile(const std::string& file) {
    memory_ = std::make_unique<QSettings>(gui::fromLocal(file), QSettings::IniFormat);
}

void ProductionPage::remember() {
    if (!memory_) return;
    if (job_)
        memory_->setValue(QStringLiteral("Production/Job"), gui::fromLocal(job_->file.string()));
    memory_->setValue(QStringLiteral("Production/Operator"), ED_Prod_Operator->text().trimmed());
    memory_->setValue(QStringLiteral("Production/Lot"), ED_Prod_Lot->text().trimmed());
    memory_->sync();
}

void ProductionPage::restoreRemembered() {
    if (!memory_ || running_) return;
    const QString operatorName = memory_->value(QStringLiteral("Production/Operator")).toString();
    const QString job = memory_->value(QStringLiteral("Production/Job")).toString();
    ED_Prod_Operator->setText(operatorName);
    ED_Prod_Lot->setText(memory_->value(QStringLiteral("Production/Lot")).toString());
    std::error_code ec;
    // A job since moved or deleted is simply not there any more.
    if (!job.isEmpty() && std::filesystem::is_regular_file(gui::toLocal(job), ec))
        openJob(gui::toLocal(job));
    if (BT_Prod_Start->isEnabled() && !ED_Prod_Operator->text().isEmpty())
        BT_Prod_Start->setFocus();
}

void ProductionPage::setOperatorView(bool on) {
    operatorView_ = on;
    BT_Prod_OperatorView->setText(on ? QStringLiteral("Leave (Esc)")
                                     : QStringLiteral("Operator View"));
    if (!on) {
        setFont(tabFont_);
        LB_Prod_Counters->setFont(tabCountersFont_);
        LV_Prod_Units->setMinimumWidth(240);
        // A long reason wraps rather than running off to the right.
        LV_Prod_Units->setWordWrap(true);
        LV_Prod_Units->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        LV_Prod_Units->setMaximumWidth(QWIDGETSIZE_MAX);
        if (!tileMode()) RE_Prod_State->show();
        return;
    }
    const QScreen* screen = this->screen();
    const QSize size = screen ? screen->geometry().size() : QSize(1366, 768);
    const auto layout = operatorLayout(size.width(), size.height(),
                                       tileMode() ? static_cast<int>(tiles().size()) : 1);
    QFont text = tabFont_;
    text.setPixelSize(layout.textPx);
    setFont(text);
    QFont counters = text;
    counters.setPixelSize(layout.textPx * 3 / 2);
    counters.setBold(true);
    LB_Prod_Counters->setFont(counters);
    LV_Prod_Units->setFixedWidth(layout.unitsWidth);
    // The operator reads results, not the operations' lines.
    RE_Prod_State->hide();
    if (BT_Prod_Start->isEnabled()) BT_Prod_Start->setFocus();
}

bool ProductionPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == PN_Prod_Status && event->type() == QEvent::Resize) fitStatusPanel();
    return QWidget::eventFilter(watched, event);
}

void ProductionPage::fitStatusPanel() {
    PN_Prod_Status->setScale(panelScale(PN_Prod_Status->width(), PN_Prod_Status->height()));
}

void ProductionPage::BT_Prod_ResetClick() {
    if (!job_ || !store() || !engineerConfirmed()) return;
    records::UnitRecord base;
    base.station = records::stationName();
    base.operatorName = gui::toLocal(ED_Prod_Operator->text());
    base.jobName = job_->job.name;
    base.jobSha256 = job_->fileSha256;
    base.imageSha256 = job_->job.imageSha256;
    base.imageCheckSum = job_->job.checkSum;
    base.target = std::string(targetName(job_->job.target));
    base.device = job_->job.device;
    base.writer = writerIdentity();
    withStore([this, base] {
        if (!records::resetCounters(*store_, base))
            env_.prompter.showMessage("ERROR", store_->lastError(), core::BoxIcon::Error);
        else if (tilesPanel_)
            tilesPanel_->resetCounters();
    });
    refreshCounters();
}

void ProductionPage::stateChanged(LoopState state) {
    switch (state) {
        case LoopState::InsertChip:
            // The last unit's PASS or FAIL stays until the next chip goes in.
            if (!PN_Prod_Status->showsResult()) showStatus(TileStatus::InsertChip);
            break;
        case LoopState::Programming:
            showStatus(TileStatus::Programming);
            break;
        case LoopState::RemoveChip:
            break;  // the unit's PASS or FAIL stays until the chip is out
        case LoopState::WaitingForOperator:
            showStatus(TileStatus::Ready);
            break;
        case LoopState::Stopped:
            if (PN_Prod_Status->shownText() ==
                gui::fromLocal(tileStatusText(TileStatus::InsertChip, {})))
                showStatus(TileStatus::Ready);
            break;
    }
}

void ProductionPage::unitFinished(const UnitOutcome& outcome, const records::Counters& counters) {
    counters_ = counters;
    if (outcome.passed) ++runPassed_;
    if (outcome.socketInsertions) socketInsertions_ = outcome.socketInsertions;
    showCounters();
    if (outcome.passed)
        showStatus(TileStatus::Pass);
    else
        showStatus(TileStatus::Fail, outcome.failure);
    addUnitLine(gui::fromLocal(unitSummaryLine(outcome)), outcome.passed);
    unitSound(outcome.passed);
}

void ProductionPage::pollFailed(const std::string& message) {
    showStatus(QStringLiteral("WRITER?\n") + gui::fromLocal(message), "#ffcf8f");
}

void ProductionPage::socketWorn(const std::string& message, SocketWear wear) {
    LB_Prod_Socket->setText(gui::fromLocal(message));
    LB_Prod_Socket->setVisible(wear != SocketWear::Fine);
}

void ProductionPage::runAborted(const std::string& message) {
    showStatus(TileStatus::Stopped);
    env_.prompter.showMessage("ERROR", message, core::BoxIcon::Error);
}

}  // namespace sonoprog::production

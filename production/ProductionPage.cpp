#include "production/ProductionPage.h"

#include <QApplication>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMediaDevices>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

#include <unistd.h>

#include "core/FileChooser.h"
#include "core/LineSafe.h"
#include "core/InheritedText.h"
#include "core/WriterOption.h"
#include "gui/Gauge.h"
#include "link/usb/UsbWriterDevice.h"
#include "production/EngineerPassword.h"
#include "production/WriterTile.h"

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

// 16-bit mono samples of a tone with soft edges (no click).
QByteArray toneSamples(const std::vector<std::pair<double, int>>& notes, int rate) {
    QByteArray bytes;
    for (const auto& [frequency, ms] : notes) {
        const int n = rate * ms / 1000;
        for (int i = 0; i < n; ++i) {
            const double edge = std::min({1.0, i / (rate * 0.005), (n - i) / (rate * 0.005)});
            const double v = frequency > 0 ? std::sin(2 * M_PI * frequency * i / rate) : 0.0;
            const auto sample = static_cast<qint16>(v * edge * 12000);
            bytes.append(reinterpret_cast<const char*>(&sample), sizeof sample);
        }
    }
    return bytes;
}

}  // namespace

struct ToneSounds::Impl {
    QAudioFormat format;
    std::unique_ptr<QAudioSink> sink;
    QBuffer buffer;
    QByteArray passTone;
    QByteArray failTone;

    void play(const QByteArray& tone) {
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull() || !device.isFormatSupported(format)) {
            QApplication::beep();
            return;
        }
        if (sink) sink->stop();
        buffer.close();
        buffer.setData(tone);
        buffer.open(QIODevice::ReadOnly);
        sink = std::make_unique<QAudioSink>(device, format);
        sink->start(&buffer);
    }
};

ToneSounds::ToneSounds() : impl_(std::make_unique<Impl>()) {
    impl_->format.setSampleRate(22050);
    impl_->format.setChannelCount(1);
    impl_->format.setSampleFormat(QAudioFormat::Int16);
    impl_->passTone = toneSamples({{1760, 150}}, 22050);
    impl_->failTone = toneSamples({{330, 180}, {0, 60}, {330, 180}}, 22050);
}
ToneSounds::~ToneSounds() = default;
void ToneSounds::passed() {
    impl_->play(impl_->passTone);
}
void ToneSounds::failed() {
    impl_->play(impl_->failTone);
}

ProductionSettings readProductionSettings(const core::IniFile& setup) {
    ProductionSettings s;
    s.enabled = setup.readInteger("Production", "Enabled", 0) == 1;
    s.engineerPassword = setup.readString("Production", "EngineerPassword");
    s.recordsDatabase = setup.readString("Records", "Database");
    s.writers = setup.readString("Production", "Writers");
    return s;
}

ProductionPage::ProductionPage(gui::TabEnvironment& env, link::Link& link,
                               ProductionSettings settings, QWidget* parent)
    : QWidget(parent), env_(env), link_(link), settings_(std::move(settings)) {
    setObjectName(QStringLiteral("PAGE_Production"));
    resize(775, 555);

    ED_Prod_Job = named(new QLineEdit, "ED_Prod_Job");
    ED_Prod_Job->setReadOnly(true);
    ED_Prod_Job->setFocusPolicy(Qt::NoFocus);
    LB_Prod_JobInfo = named(new QLabel, "LB_Prod_JobInfo");
    LB_Prod_JobInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ED_Prod_Operator = named(new QLineEdit, "ED_Prod_Operator");
    BT_Prod_OpenJob = button("BT_Prod_OpenJob", "Open Job");
    BT_Prod_Start = button("BT_Prod_Start", "Start");
    BT_Prod_Stop = button("BT_Prod_Stop", "Stop");
    BT_Prod_Unlock = button("BT_Prod_Unlock", "Engineer");
    BT_Prod_Reset = button("BT_Prod_Reset", "Reset Counters");
    PN_Prod_Status = named(new QLabel, "PN_Prod_Status");
    PN_Prod_Status->setAlignment(Qt::AlignCenter);
    PN_Prod_Status->setMinimumHeight(90);
    QFont big = PN_Prod_Status->font();
    big.setPointSize(28);
    big.setBold(true);
    PN_Prod_Status->setFont(big);
    PN_Prod_Status->setWordWrap(true);
    LB_Prod_Counters = named(new QLabel, "LB_Prod_Counters");
    QFont counterFont = LB_Prod_Counters->font();
    counterFont.setPointSize(13);
    counterFont.setBold(true);
    LB_Prod_Counters->setFont(counterFont);
    LV_Prod_Units = named(new QListWidget, "LV_Prod_Units");
    RE_Prod_State = named(new gui::LogPane, "RE_Prod_State");
    CG_Prod_Progress = named(new gui::Gauge, "CG_Prod_Progress");

    auto* jobBox = new QGroupBox(QStringLiteral("Job"));
    auto* grid = new QGridLayout(jobBox);
    grid->addWidget(new QLabel(QStringLiteral("File")), 0, 0);
    grid->addWidget(ED_Prod_Job, 0, 1);
    grid->addWidget(BT_Prod_OpenJob, 0, 2);
    grid->addWidget(LB_Prod_JobInfo, 1, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Operator")), 2, 0);
    grid->addWidget(ED_Prod_Operator, 2, 1);
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
    for (auto* b : {BT_Prod_Start, BT_Prod_Stop, BT_Prod_Unlock, BT_Prod_Reset})
        buttons->addWidget(b);
    buttons->addStretch(1);

    auto* statusColumn = new QVBoxLayout;
    if (tileMode()) {
        // The Writers' tiles take the big panel's place; the counters below
        // them are the job's, over every Writer.
        tileArea_ = new QWidget;
        tileArea_->setObjectName(QStringLiteral("PN_Prod_Tiles"));
        tileGrid_ = new QGridLayout(tileArea_);
        tileGrid_->setContentsMargins(0, 0, 0, 0);
        statusColumn->addWidget(tileArea_, 2);
        PN_Prod_Status->setParent(this);
        PN_Prod_Status->hide();
        CG_Prod_Progress->setParent(this);
        CG_Prod_Progress->hide();
    } else {
        statusColumn->addWidget(PN_Prod_Status, 2);
        statusColumn->addWidget(CG_Prod_Progress);
    }
    statusColumn->addWidget(LB_Prod_Counters);

    auto* middle = new QHBoxLayout;
    middle->addLayout(statusColumn, 3);
    middle->addWidget(LV_Prod_Units, 2);
    middle->addLayout(buttons);

    auto* page = new QVBoxLayout(this);
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
    runLock_.setControls({BT_Prod_OpenJob, ED_Prod_Operator, BT_Prod_Start, BT_Prod_Reset,
                          env_.deviceSel, env_.pcMain});
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
    workerProgram_ = QCoreApplication::applicationDirPath() + QStringLiteral("/sonoprog-cli");
    attachedWriters_ = [] {
        std::vector<std::string> writers;
        link::usb::UsbWriterDevice usb;
        for (const auto& w : usb.attachedWriters(false)) writers.push_back("usb:" + w.port);
        return writers;
    };
    showStatus(QStringLiteral("OPEN A JOB"), "#d0d0d0");
    showCounters();
    if (tileMode()) buildTiles();
    updateEnablement();
}

ProductionPage::~ProductionPage() {
    stop_ = true;
    // Every worker told at once, so that the tiles' own farewells overlap.
    for (auto* tile : tiles_) tile->stop(stopGrace_);
}

void ProductionPage::buildTiles() {
    // "all" is read again at each Start from idle: Writers come and go between runs.
    const auto writers = writerListEntries(settings_.writers, attachedWriters_);
    std::vector<std::string> present;
    for (auto* tile : tiles_) present.push_back(tile->writer());
    if (!tiles_.empty() && present == writers) return;
    for (auto* tile : tiles_) delete tile;
    tiles_.clear();
    const int columns = writers.size() <= 4 ? 2 : 3;
    for (const auto& writer : writers) {
        auto* tile = new WriterTile(writer, tileArea_);
        const int at = static_cast<int>(tiles_.size());
        tileGrid_->addWidget(tile, at / columns, at % columns);
        if (!core::parseWriterOption(writer)) tile->showUnusable("not a Writer: " + writer);
        connect(tile, &WriterTile::unitFinished, this, &ProductionPage::tileUnitFinished);
        connect(tile, &WriterTile::workerEnded, this, &ProductionPage::tileEnded);
        connect(tile, &WriterTile::restartRequested, this, [this, tile] { restartTile(tile); });
        tiles_.push_back(tile);
    }
}

void ProductionPage::startWorker(WriterTile& tile) {
    QStringList args{QStringLiteral("--json")};
    const std::string records =
        recordsLocation_.empty() ? settings_.recordsDatabase : recordsLocation_;
    // Never on the command line, which any local user reads: the address
    // may hold the line database's password.
    int recordsFd = -1;
    if (!records.empty()) {
        recordsFd = core::inheritedTextPipe(records);
        if (recordsFd < 0) {
            tile.showUnusable("the records location cannot be handed to the worker");
            return;
        }
        args << QStringLiteral("--records-fd") << QString::number(recordsFd);
    }
    if (!env_.paths.setupOverride.empty())
        args << QStringLiteral("--setup") << gui::fromLocal(env_.paths.setupOverride.string());
    if (!env_.paths.tempDir.empty())
        args << QStringLiteral("--temp") << gui::fromLocal(env_.paths.tempDir.string());
    args << QStringLiteral("--writer") << gui::fromLocal(tile.writer()) << QStringLiteral("produce")
         << gui::fromLocal(runJobPath_) << QStringLiteral("--trigger") << QStringLiteral("insert");
    const QString operatorName = ED_Prod_Operator->text();
    if (!operatorName.isEmpty()) args << QStringLiteral("--operator") << operatorName;
    tile.start(workerProgram_, args, recordsFd);
    if (recordsFd >= 0) ::close(recordsFd);
}

void ProductionPage::startTiles() {
    if (running_ || !job_) return;
    buildTiles();
    runJobPath_ = job_->file.string();
    std::vector<WriterTile*> idle;
    for (auto* tile : tiles_)
        if (tile->usable() && !tile->running()) idle.push_back(tile);
    if (idle.empty()) return;
    beginTileRun();
    for (auto* tile : idle) startWorker(*tile);
    tileEnded();  // workers whose program could not even start
}

void ProductionPage::restartTile(WriterTile* tile) {
    if (!tile || !tile->usable() || !job_ || engineer_) return;
    if (tile->running()) {
        // Its Writer is back: this worker goes, a new one follows (see WriterTile).
        tile->restartWhenEnded(stopGrace_);
        return;
    }
    if (!running_) {
        // Nothing else runs: the tab locks as for Start, for this tile alone.
        runJobPath_ = job_->file.string();
        beginTileRun();
    }
    startWorker(*tile);
    tileEnded();
}

void ProductionPage::tileUnitFinished(const QString& summary, bool passed) {
    addUnitLine(summary);
    refreshCounters();
    unitSound(passed);
}

void ProductionPage::tileEnded() {
    for (auto* tile : tiles_)
        if (tile->running()) {
            updateEnablement();
            return;
        }
    if (!running_) return;
    running_ = false;
    engineer_ = false;
    runLock_.unlock();
    if (takeBackWriter_) takeBackWriter_();
    updateEnablement();
}

void ProductionPage::beginTileRun() {
    running_ = true;
    engineer_ = false;
    runLock_.lock();
    if (lendWriter_) lendWriter_();
}

void ProductionPage::addUnitLine(const QString& summary) {
    // The newest first; the last 50 units are what the bench looks back on.
    LV_Prod_Units->insertItem(0, summary);
    while (LV_Prod_Units->count() > 50) delete LV_Prod_Units->takeItem(LV_Prod_Units->count() - 1);
}

void ProductionPage::unitSound(bool passed) {
    UnitSounds* sounds = sounds_;
    if (!sounds) {
        if (!tones_) tones_ = std::make_unique<ToneSounds>();
        sounds = tones_.get();
    }
    passed ? sounds->passed() : sounds->failed();
}

void ProductionPage::showStatus(const QString& text, const char* colour) {
    PN_Prod_Status->setText(text);
    PN_Prod_Status->setStyleSheet(
        QStringLiteral("QLabel { background: %1; border: 1px solid gray; }")
            .arg(QString::fromLatin1(colour)));
}

void ProductionPage::showStatus(TileStatus status, const std::string& detail) {
    showStatus(gui::fromLocal(tileStatusText(status, detail)), tileStatusColour(status));
}

void ProductionPage::showCounters() {
    LB_Prod_Counters->setText(QStringLiteral("PASS %1   FAIL %2   TOTAL %3   YIELD %4%")
                                  .arg(counters_.passed)
                                  .arg(counters_.failed)
                                  .arg(counters_.total())
                                  .arg(QString::fromStdString(records::yieldText(counters_))));
}

void ProductionPage::updateEnablement() {
    BT_Prod_Stop->setEnabled(running_);
    BT_Prod_Start->setEnabled(!running_ && job_.has_value());
    BT_Prod_Reset->setEnabled(job_.has_value() && (!running_ || engineer_));
    for (auto* tile : tiles_) {
        tile->setJobOpen(job_.has_value());
        tile->setRestartAllowed(job_.has_value() && !engineer_);
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
    if (job_ && store()) counters_ = store_->counters(job_->fileSha256);
    showCounters();
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
        if (auto problem = jobImageProblem(*loaded, env_.ivrKeys)) {
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
    LV_Prod_Units->clear();
    showStatus(TileStatus::Ready);
    refreshCounters();
    updateEnablement();
    return true;
}

void ProductionPage::BT_Prod_OpenJobClick() {
    const auto path = env_.files.chooseOpenFile({"Job file|*.json", "json"});
    if (path) openJob(*path);
}

void ProductionPage::BT_Prod_StartClick() {
    if (tileMode()) {
        // Each Writer's loop runs in its worker; the window only renders them.
        startTiles();
        return;
    }
    if (running_ || !job_ || !store()) return;
    running_ = true;
    engineer_ = false;
    stop_ = false;
    runLock_.lock();
    updateEnablement();

    // The loop keeps its own copy: an engineer may open another job meanwhile.
    const LoadedJob job = *job_;
    UnitServices unit{*paneAdapter_, noLock_,    env_.yield, env_.prompter,
                      env_.clock,    env_.paths, link_,      env_.ivrKeys};
    ProductionLoop loop(job, LoopServices{unit, link_, *store_}, *this, stop_);
    LoopOptions options;
    options.trigger = Trigger::Insert;
    options.operatorName = gui::toLocal(ED_Prod_Operator->text());
    options.writerIdentity = writerIdentity();
    options.pollInterval = pollInterval_;
    loop.run(options, nullptr);

    running_ = false;
    engineer_ = false;
    runLock_.unlock();
    updateEnablement();
}

void ProductionPage::BT_Prod_StopClick() {
    stop_ = true;
    for (auto* tile : tiles_) tile->stop(stopGrace_);
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
    if (!running_ || engineer_ || !engineerConfirmed()) return;
    // The engineer may leave the tab and change the job's settings; the loop runs on.
    engineer_ = true;
    runLock_.unlock();
    BT_Prod_Start->setEnabled(false);
    updateEnablement();
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
    if (!records::resetCounters(*store_, base))
        env_.prompter.showMessage("ERROR", store_->lastError(), core::BoxIcon::Error);
    else
        for (auto* tile : tiles_) tile->resetCounters();
    refreshCounters();
}

void ProductionPage::stateChanged(LoopState state) {
    switch (state) {
        case LoopState::InsertChip:
            showStatus(TileStatus::InsertChip);
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
            if (PN_Prod_Status->text() ==
                gui::fromLocal(tileStatusText(TileStatus::InsertChip, {})))
                showStatus(TileStatus::Ready);
            break;
    }
}

void ProductionPage::unitFinished(const UnitOutcome& outcome, const records::Counters& counters) {
    counters_ = counters;
    showCounters();
    if (outcome.passed)
        showStatus(TileStatus::Pass);
    else
        showStatus(TileStatus::Fail, outcome.failure);
    addUnitLine(gui::fromLocal(unitSummaryLine(outcome)));
    unitSound(outcome.passed);
}

void ProductionPage::pollFailed(const std::string& message) {
    showStatus(QStringLiteral("WRITER?\n") + gui::fromLocal(message), "#ffcf8f");
}

void ProductionPage::runAborted(const std::string& message) {
    showStatus(TileStatus::Stopped);
    env_.prompter.showMessage("ERROR", message, core::BoxIcon::Error);
}

}  // namespace sonoprog::production

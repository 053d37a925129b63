#include "production/WriterTile.h"

#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <utility>
#include <vector>

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/InheritedText.h"
#include "gui/Gauge.h"

namespace sonoprog::production {

const char* tileStatusColour(TileStatus status) {
    switch (status) {
        case TileStatus::Ready:
            return "#d0d0d0";
        case TileStatus::InsertChip:
            return "#fff3b0";
        case TileStatus::Programming:
            return "#b0d8ff";
        case TileStatus::Pass:
            return "#9be59b";
        case TileStatus::Fail:
        case TileStatus::Disconnected:
        case TileStatus::Stopped:
            return "#ff9b9b";
    }
    return "#d0d0d0";
}

WriterTile::WriterTile(std::string writer, QWidget* parent)
    : QFrame(parent), writer_(std::move(writer)) {
    setObjectName(QStringLiteral("TILE_") + QString::fromStdString(writer_));
    setFrameShape(QFrame::StyledPanel);
    LB_Tile_Writer = new QLabel(QString::fromStdString(writer_));
    LB_Tile_Writer->setObjectName(QStringLiteral("LB_Tile_Writer"));
    LB_Tile_Writer->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PN_Tile_Status = new QLabel;
    PN_Tile_Status->setObjectName(QStringLiteral("PN_Tile_Status"));
    PN_Tile_Status->setAlignment(Qt::AlignCenter);
    PN_Tile_Status->setMinimumHeight(54);
    PN_Tile_Status->setWordWrap(true);
    QFont big = PN_Tile_Status->font();
    big.setPointSize(14);
    big.setBold(true);
    PN_Tile_Status->setFont(big);
    CG_Tile_Progress = new gui::Gauge;
    CG_Tile_Progress->setObjectName(QStringLiteral("CG_Tile_Progress"));
    LB_Tile_Counters = new QLabel;
    LB_Tile_Counters->setObjectName(QStringLiteral("LB_Tile_Counters"));
    BT_Tile_Restart = new QPushButton(QStringLiteral("Restart"));
    BT_Tile_Restart->setObjectName(QStringLiteral("BT_Tile_Restart"));

    auto* column = new QVBoxLayout(this);
    column->addWidget(LB_Tile_Writer);
    column->addWidget(PN_Tile_Status, 1);
    column->addWidget(CG_Tile_Progress);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(LB_Tile_Counters, 1);
    bottom->addWidget(BT_Tile_Restart);
    column->addLayout(bottom);

    killTimer_ = new QTimer(this);
    killTimer_->setSingleShot(true);
    connect(killTimer_, &QTimer::timeout, this, [this] {
        if (process_) process_->kill();
    });
    connect(BT_Tile_Restart, &QPushButton::clicked, this, &WriterTile::restartRequested);
    render();
}

WriterTile::~WriterTile() {
    if (!process_) return;
    // The window is going: no more rendering, but no worker left behind either.
    process_->disconnect(this);
    interrupt();
    if (!process_->waitForFinished(2000)) {
        process_->kill();
        process_->waitForFinished(1000);
    }
}

bool WriterTile::interrupt() {
    // Never pid 0 (a worker not started yet): that would be this whole process group.
    const qint64 pid = process_ ? process_->processId() : 0;
    return pid > 0 && ::kill(static_cast<pid_t>(pid), SIGINT) == 0;
}

void WriterTile::start(const QString& program, const QStringList& arguments, int inheritedFd) {
    if (process_ || !usable_) return;
    process_ = new QProcess(this);
    outLines_.clear();
    errLines_.clear();
    connect(process_, &QProcess::readyReadStandardOutput, this, &WriterTile::readOutput);
    connect(process_, &QProcess::readyReadStandardError, this, &WriterTile::readErrors);
    connect(process_, &QProcess::finished, this, &WriterTile::finished);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A program that never started sends no finished().
        if (error == QProcess::FailedToStart && process_) {
            const std::string why = "cannot start " + process_->program().toStdString();
            report_.errorLine(noteObject("error", why));
            finished(-1, QProcess::NormalExit);
        }
    });
    process_->setChildProcessModifier([inheritedFd] {
#ifdef __linux__
        // A window that dies without its farewells (killed, crashed) must not
        // leave a worker programming on its own: the worker gets the Stop signal.
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
#endif
        if (inheritedFd >= 0) core::keepAcrossExec(inheritedFd);
    });
    report_.started();
    render();
    process_->start(program, arguments);
    // A program that cannot be started may have ended the worker already.
    if (process_) process_->closeWriteChannel();
}

void WriterTile::stop(std::chrono::milliseconds grace) {
    if (!process_ || process_->state() == QProcess::NotRunning) return;
    interrupt();
    killTimer_->start(grace);
}

void WriterTile::restartWhenEnded(std::chrono::milliseconds grace) {
    if (!process_) return;
    restartPending_ = true;
    stop(grace);
    render();
}

void WriterTile::setRestartAllowed(bool allowed) {
    restartAllowed_ = allowed;
    render();
}

void WriterTile::resetCounters() {
    report_.resetCounters();
    render();
}

void WriterTile::showUnusable(const std::string& why) {
    usable_ = false;
    report_.errorLine(noteObject("error", why));
    report_.ended(false, 2);
    render();
}

void WriterTile::readOutput() {
    if (!process_) return;
    const QByteArray bytes = process_->readAllStandardOutput();
    // Told only after the buffer is done with: a slot may run the event loop.
    std::vector<UnitOutcome> units;
    outLines_.feed(std::string_view(bytes.constData(), bytes.size()), [&](std::string_view line) {
        if (auto unit = report_.outputLine(line)) units.push_back(std::move(*unit));
    });
    render();
    for (const auto& unit : units)
        Q_EMIT unitFinished(QString::fromStdString(writerPrefix() + unitSummaryLine(unit)),
                            unit.passed);
}

void WriterTile::readErrors() {
    if (!process_) return;
    const QByteArray bytes = process_->readAllStandardError();
    errLines_.feed(std::string_view(bytes.constData(), bytes.size()),
                   [this](std::string_view line) { report_.errorLine(line); });
    render();
}

void WriterTile::finished(int exitCode, QProcess::ExitStatus status) {
    readOutput();
    readErrors();
    killTimer_->stop();
    process_->deleteLater();
    process_ = nullptr;
    report_.ended(status == QProcess::CrashExit, exitCode);
    const bool again = std::exchange(restartPending_, false);
    render();
    // The new worker first, so that the page never sees the tile idle between the two.
    if (again) Q_EMIT restartRequested();
    Q_EMIT workerEnded();
}

std::string WriterTile::writerPrefix() const {
    return "[" + writerShortName(writer_) + "] ";
}

void WriterTile::render() {
    PN_Tile_Status->setText(QString::fromStdString(report_.statusText()));
    // Restyled on a change only: progress lines come by the hundred.
    if (shownStatus_ != report_.status()) {
        shownStatus_ = report_.status();
        PN_Tile_Status->setStyleSheet(
            QStringLiteral("QLabel { background: %1; border: 1px solid gray; }")
                .arg(QString::fromLatin1(tileStatusColour(report_.status()))));
    }
    CG_Tile_Progress->setProgress(report_.percent());
    BT_Tile_Restart->setEnabled(restartAllowed_ && usable_ && !restartPending_ &&
                                (!process_ || report_.status() == TileStatus::Disconnected));
    const auto& c = report_.counters();
    LB_Tile_Counters->setText(
        QStringLiteral("PASS %1   FAIL %2   TOTAL %3").arg(c.passed).arg(c.failed).arg(c.total()));
}

}  // namespace sonoprog::production

#include "production/WriterTile.h"

#include <signal.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <utility>
#include <vector>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/InheritedText.h"
#include "gui/Gauge.h"

namespace sonoprog::production {

WriterTile::WriterTile(std::string writer, QWidget* parent)
    : QFrame(parent), writer_(std::move(writer)) {
    setObjectName(QStringLiteral("TILE_") + QString::fromStdString(writer_));
    setFrameShape(QFrame::StyledPanel);
    // The short name (port, serial number, folder) reads from across the bench;
    // the whole Writer text is its tooltip.
    LB_Tile_Writer = new QLabel(QString::fromStdString(writerShortName(writer_)));
    LB_Tile_Writer->setToolTip(QString::fromStdString(writer_));
    LB_Tile_Writer->setObjectName(QStringLiteral("LB_Tile_Writer"));
    LB_Tile_Writer->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LB_Tile_Writer->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    PN_Tile_Status = new StatusPanel(TileScale{});
    PN_Tile_Status->setObjectName(QStringLiteral("PN_Tile_Status"));
    CG_Tile_Progress = new gui::Gauge;
    CG_Tile_Progress->setObjectName(QStringLiteral("CG_Tile_Progress"));
    LB_Tile_Counters = new QLabel;
    LB_Tile_Counters->setObjectName(QStringLiteral("LB_Tile_Counters"));
    LB_Tile_Counters->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LB_Tile_Socket = new QLabel;
    LB_Tile_Socket->setObjectName(QStringLiteral("LB_Tile_Socket"));
    LB_Tile_Socket->setWordWrap(true);
    LB_Tile_Socket->setStyleSheet(socketNoteStyle());
    LB_Tile_Socket->hide();
    BT_Tile_Restart = new QPushButton(QStringLiteral("Restart"));
    BT_Tile_Restart->setObjectName(QStringLiteral("BT_Tile_Restart"));

    // The name with Restart beside it, the panel, the gauge, the counters:
    // each on a row of its own, so that no row is cut off in a small tile.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(9, 9, 9, 9);
    column->setSpacing(6);
    auto* top = new QHBoxLayout;
    top->addWidget(LB_Tile_Writer, 1);
    top->addWidget(BT_Tile_Restart);
    column->addLayout(top);
    column->addWidget(PN_Tile_Status, 1);
    column->addWidget(CG_Tile_Progress);
    column->addWidget(LB_Tile_Counters);
    column->addWidget(LB_Tile_Socket);
    setScale(TileScale{});

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

void WriterTile::setJobOpen(bool open) {
    jobOpen_ = open;
    render();
}

void WriterTile::setScale(const TileScale& scale) {
    QFont small = font();
    small.setPixelSize(scale.smallPx);
    for (QWidget* w :
         {static_cast<QWidget*>(LB_Tile_Writer), static_cast<QWidget*>(LB_Tile_Counters),
          static_cast<QWidget*>(LB_Tile_Socket), static_cast<QWidget*>(BT_Tile_Restart)})
        w->setFont(small);
    QFont bold = small;
    bold.setBold(true);
    LB_Tile_Writer->setFont(bold);
    LB_Tile_Counters->setFont(bold);
    BT_Tile_Restart->setFixedHeight(std::max(scale.smallPx * 2, 22));
    CG_Tile_Progress->setFont(small);
    CG_Tile_Progress->setFixedHeight(QFontMetrics(small).height() + 2);
    PN_Tile_Status->setScale(scale);
}

void WriterTile::resetCounters() {
    report_.resetCounters();
    render();
}

void WriterTile::setSocketLife(long long life) {
    socketLife_ = life;
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
        if (auto unit = report_.outputLine(line)) {
            if (unit->socketInsertions) socketInsertions_ = unit->socketInsertions;
            units.push_back(std::move(*unit));
        }
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
    // Restyled on a change only: progress lines come by the hundred.
    const bool waitingForJob = !jobOpen_ && !process_ && report_.status() == TileStatus::Ready;
    auto shown =
        std::make_pair(report_.status(), waitingForJob ? std::string("-") : report_.detail());
    if (shown_ != shown) {
        shown_ = shown;
        if (waitingForJob)
            PN_Tile_Status->showWord(QStringLiteral("OPEN A JOB"),
                                     tileStatusColour(TileStatus::Ready));
        else
            PN_Tile_Status->showStatus(report_.status(), report_.detail());
    }
    CG_Tile_Progress->setProgress(report_.percent());
    BT_Tile_Restart->setEnabled(jobOpen_ && restartAllowed_ && usable_ && !restartPending_ &&
                                (!process_ || report_.status() == TileStatus::Disconnected));
    const auto& c = report_.counters();
    QString counters =
        QStringLiteral("PASS %1   FAIL %2   TOTAL %3").arg(c.passed).arg(c.failed).arg(c.total());
    if (socketInsertions_) counters += QStringLiteral("   SOCKET %1").arg(*socketInsertions_);
    LB_Tile_Counters->setText(counters);
    const std::string warning =
        socketInsertions_ ? socketWarning(writerShortName(writer_), *socketInsertions_, socketLife_)
                          : std::string();
    LB_Tile_Socket->setText(QString::fromStdString(warning));
    LB_Tile_Socket->setToolTip(LB_Tile_Socket->text());
    LB_Tile_Socket->setVisible(!warning.empty());
}

}  // namespace sonoprog::production

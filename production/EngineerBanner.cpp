#include "production/EngineerBanner.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace sonoprog::production {

EngineerBanner::EngineerBanner(QWidget* parent)
    : QFrame(parent), now_([] { return QDateTime::currentDateTime(); }) {
    setObjectName(QStringLiteral("PN_Engineer"));
    setStyleSheet(
        QStringLiteral("#PN_Engineer { background: #ffd27f; border: 1px solid #c08000; }"));
    LB_Engineer_Text = new QLabel;
    LB_Engineer_Text->setObjectName(QStringLiteral("LB_Engineer_Text"));
    LB_Engineer_Text->setWordWrap(true);
    QFont bold = LB_Engineer_Text->font();
    bold.setBold(true);
    LB_Engineer_Text->setFont(bold);
    BT_Engineer_Lock = new QPushButton(QStringLiteral("Lock"));
    BT_Engineer_Lock->setObjectName(QStringLiteral("BT_Engineer_Lock"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->addWidget(LB_Engineer_Text, 1);
    row->addWidget(BT_Engineer_Lock);
    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &EngineerBanner::check);
    connect(BT_Engineer_Lock, &QPushButton::clicked, this, &EngineerBanner::lock);
    hide();
}

EngineerBanner::~EngineerBanner() {
    if (active_) QCoreApplication::instance()->removeEventFilter(this);
}

void EngineerBanner::unlocked() {
    lastInput_ = now_();
    if (!active_) {
        active_ = true;
        QCoreApplication::instance()->installEventFilter(this);
        timer_->start();
    }
    showText();
    show();
}

void EngineerBanner::lock() {
    if (!active_) return;
    active_ = false;
    QCoreApplication::instance()->removeEventFilter(this);
    timer_->stop();
    hide();
    Q_EMIT lockRequested();
}

void EngineerBanner::check() {
    if (active_ && now_() >= locksAt()) lock();
}

void EngineerBanner::showText() {
    const QString text =
        QStringLiteral(
            "ENGINEER MODE: the screen is unlocked. It locks again at %1, after %2 "
            "minutes without input.")
            .arg(locksAt().toString(QStringLiteral("HH:mm")))
            .arg(idleSeconds() / 60);
    if (LB_Engineer_Text->text() != text) LB_Engineer_Text->setText(text);
}

bool EngineerBanner::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
            // Input after the limit is too late: the timer locks first.
            if (active_ && now_() < locksAt()) {
                lastInput_ = now_();
                showText();
            }
            break;
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace sonoprog::production

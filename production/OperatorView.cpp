#include "production/OperatorView.h"

#include <QCloseEvent>
#include <QShortcut>
#include <QVBoxLayout>

namespace sonoprog::production {

OperatorView::OperatorView(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("Operator_View"));
    setWindowTitle(QStringLiteral("Sonoprog - Production"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    for (const auto key : {Qt::Key_Escape, Qt::Key_F11}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &OperatorView::leaveRequested);
    }
}

void OperatorView::hold(QWidget* page) {
    page_ = page;
    page->setParent(this);
    layout()->addWidget(page);
    page->show();
}

QWidget* OperatorView::release() {
    QWidget* page = page_;
    if (!page) return nullptr;
    layout()->removeWidget(page);
    page->setParent(nullptr);
    page_ = nullptr;
    return page;
}

void OperatorView::closeEvent(QCloseEvent* event) {
    // Closed by the window manager: leave as with Esc, the page goes back.
    event->ignore();
    Q_EMIT leaveRequested();
}

}  // namespace sonoprog::production

#include "editor/SoundTableModel.h"

#include <QApplication>
#include <QColor>
#include <QPainter>
#include <QStyle>

#include "gui/QtServices.h"

namespace sonoprog::editor {

SoundTableModel::SoundTableModel(SectionTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    table_.setObserver(this);
}

SoundTableModel::~SoundTableModel() {
    table_.setObserver(nullptr);
}

int SoundTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kSectionCount;
}

int SoundTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTableColumns;
}

QVariant SoundTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const int row = tableRow(index.row());
    if (role == Qt::DisplayRole) return gui::fromLocal(table_.cell(row, index.column()));
    if (role == Qt::ForegroundRole) return SG_SoundTableDrawCell(row);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant SoundTableModel::SG_SoundTableDrawCell(int row) const {
    if (table_.cell(row, kColStatus).empty()) return {};
    return QColor(255, 0, 0);
}

QVariant SoundTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) return gui::fromLocal(table_.cell(0, section));
    return {};
}

void SoundTableModel::cellChanged(int row, int column) {
    if (row == 0) {
        Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
        return;
    }
    if (onCellChanged && column != kColStatus) onCellChanged(row);
    // The status text colours the whole row.
    if (column == kColStatus) {
        Q_EMIT dataChanged(index(modelRow(row), 0), index(modelRow(row), kTableColumns - 1));
        return;
    }
    QModelIndex at = index(modelRow(row), column);
    Q_EMIT dataChanged(at, at);
}

void SoundTableModel::currentRowChanged(int row) {
    if (onCurrentRow) onCurrentRow(row);
}

void SoundTableModel::reload() {
    beginResetModel();
    endResetModel();
}

void SoundTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QString text = index.column() == kColStatus ? QString() : opt.text;
    opt.text.clear();
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (text.isEmpty()) return;

    const QVariant red = index.data(Qt::ForegroundRole);
    QPalette::ColorGroup group = QPalette::Disabled;
    if (opt.state & QStyle::State_Enabled)
        group = (opt.state & QStyle::State_Active) ? QPalette::Normal : QPalette::Inactive;
    const QColor colour = red.isValid()
                              ? red.value<QColor>()
                              : opt.palette.color(group, (opt.state & QStyle::State_Selected)
                                                             ? QPalette::HighlightedText
                                                             : QPalette::Text);
    painter->save();
    painter->setClipRect(opt.rect);
    painter->setFont(opt.font);
    painter->setPen(colour);
    painter->drawText(opt.rect.adjusted(2, 0, 0, 0),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter->restore();
}

}  // namespace sonoprog::editor

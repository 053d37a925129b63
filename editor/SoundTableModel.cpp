#include "SoundTableModel.h"

#include <QColor>

#include "QtServices.h"

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

void SoundTableDelegate::initStyleOption(QStyleOptionViewItem* option,
                                         const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    QVariant red = index.data(Qt::ForegroundRole);
    if (red.isValid()) option->palette.setColor(QPalette::HighlightedText, red.value<QColor>());
}

}  // namespace sonoprog::editor

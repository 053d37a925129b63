#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <functional>

#include "editor/SectionTable.h"

namespace sonoprog::editor {

// SG_SoundTable's view of the section table. The heading row is the grid's
// fixed header; model row i shows table row i + 1. Nothing is copied: every
// cell is read from the table when it is drawn.
class SoundTableModel final : public QAbstractTableModel, public TableObserver {
    Q_OBJECT
public:
    explicit SoundTableModel(SectionTable& table, QObject* parent = nullptr);
    ~SoundTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The cell drawing: every cell of a row with a status text reads red.
    QVariant SG_SoundTableDrawCell(int tableRow) const;

    void cellChanged(int row, int column) override;
    void currentRowChanged(int row) override;
    void reload();

    std::function<void(int)> onCurrentRow;
    std::function<void(int)> onCellChanged;  // a section row's cell

    static int tableRow(int modelRow) { return modelRow + 1; }
    static int modelRow(int tableRow) { return tableRow - 1; }

private:
    SectionTable& table_;
};

// Draws a cell the grid's way: the text 2 pixels in from the cell's left edge,
// cut at the right edge rather than shortened with dots, red for a row with a
// status text (the selected row too). The status column itself shows nothing.
class SoundTableDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

}  // namespace sonoprog::editor

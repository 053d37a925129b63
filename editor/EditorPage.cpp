#include "editor/EditorPage.h"

#include <QAction>
#include <QActionGroup>
#include <QAudioDevice>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTabWidget>
#include <QTableView>

#include "editor/ImportAudioDialog.h"
#include "editor/SoundTableModel.h"
#include "editor/WaveFile.h"
#include "editor/WaveformStrip.h"

namespace sonoprog::editor {

namespace {

constexpr int kColumnWidths[kTableColumns] = {70, 50, 70, 425, 425};
constexpr int kRowHeight = 16;
constexpr int kGridFontPixels = 11;

// The grid's scroll bar takes all the width the four visible columns leave,
// so that no strip of the status column shows between the File column and
// the bar, whatever the style's own bar width.
class EdgeScrollBar final : public QScrollBar {
public:
    EdgeScrollBar(int width, QWidget* parent) : QScrollBar(Qt::Vertical, parent), width_(width) {}
    QSize sizeHint() const override { return {width_, QScrollBar::sizeHint().height()}; }

private:
    int width_;
};

// The grid's heading: its height and its columns' widths are set, never taken
// from the captions. Sizing from the contents would lay every caption out in
// the bold face (which this heading never shows) only to be overruled, and
// would load that face for nothing at start-up.
class FixedHeading final : public QHeaderView {
public:
    using QHeaderView::QHeaderView;

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override {
        return {sectionSize(logicalIndex), kRowHeight + 1};
    }
};

struct QuickKey {
    const char* name;
    QKeyCombination keys;
    EditorControl control;
    void (EditorPage::*handler)();
};

const QuickKey kQuickKeys[] = {
    {"ACT_Add", Qt::CTRL | Qt::Key_A, EditorControl::Add, &EditorPage::BT_Edit_SecAddClick},
    {"ACT_Remove", Qt::CTRL | Qt::Key_R, EditorControl::Remove, &EditorPage::BT_Edit_SecRMovClick},
    {"ACT_Up", Qt::CTRL | Qt::Key_U, EditorControl::Up, &EditorPage::BT_Edit_SecUpClick},
    {"ACT_Down", Qt::CTRL | Qt::Key_D, EditorControl::Down, &EditorPage::BT_Edit_SecDnClick},
    {"ACT_Clear", Qt::CTRL | Qt::Key_C, EditorControl::Clear, &EditorPage::BT_Edit_SecClrClick},
    {"ACT_Save", Qt::CTRL | Qt::Key_S, EditorControl::Save, &EditorPage::BT_Edit_ScpSaveClick},
    {"ACT_Load", Qt::CTRL | Qt::Key_L, EditorControl::Load, &EditorPage::BT_Edit_ScpLoadClick},
    {"ACT_Build", Qt::CTRL | Qt::Key_B, EditorControl::Build, &EditorPage::BT_Edit_ScpBuildClick},
};

struct HoverHint {
    const char* control;
    const char* text;
};

const HoverHint kHoverHints[] = {
    {"BT_Edit_ScpSave", "Click this button or \"CTL + S\" to save script file."},
    {"BT_Edit_ScpLoad", "Click this button or \"CTL + L\" to load script file."},
    {"BT_Edit_ScpBuild", "Click this button or \"CTL + B\" to build dat file."},
    {"BT_Edit_SecAdd", "Click this button or \"CTL + A\" to add or replace wave file."},
    {"BT_Edit_SecRMov", "Click this button or \"CTL + R\" to remove wave file."},
    {"BT_Edit_SecUp", "Click this button or \"CTL + U\" to swap section with previous section."},
    {"BT_Edit_SecDn", "Click this button or \"CTL + D\" to swap section with next section."},
    {"BT_Edit_SecClr", "Click this button or \"CTL + C\" to clear wave table."},
    {"ED_Edit_MemUsg", "Total memory usage."},
    {"ED_Edit_LstSec", "Number of last section in this script."},
    {"ED_Edit_HstRate", "The highest  sample rate in this script."},
    {"BT_Edit_SecImport", kImportButtonHint},
};

QFrame* makePanel(QWidget* parent, const char* name, int top, int height) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setGeometry(5, top, 110, height);
    return panel;
}

}  // namespace

EditorPage::EditorPage(gui::TabEnvironment& env, QWidget* parent)
    : QWidget(parent),
      env_(env),
      ops_(table_, *this, env.prompter, env.files, env.yield, env.clock, env.paths) {
    setObjectName(QStringLiteral("PAGE_Sound_Editor"));

    PN_Edit_2 = makePanel(this, "PN_Edit_2", 5, 110);
    BT_Edit_ScpSave = makeButton(PN_Edit_2, "BT_Edit_ScpSave", "Save Project", 6);
    BT_Edit_ScpLoad = makeButton(PN_Edit_2, "BT_Edit_ScpLoad", "Load Project", 40);
    BT_Edit_ScpBuild = makeButton(PN_Edit_2, "BT_Edit_ScpBuild", "Make DAT File", 74);

    // Six buttons where five stood: a little closer together.
    PN_Edit_1 = makePanel(this, "PN_Edit_1", 120, 190);
    BT_Edit_SecAdd = makeButton(PN_Edit_1, "BT_Edit_SecAdd", "Add / Replace", 6);
    BT_Edit_SecImport = makeButton(PN_Edit_1, "BT_Edit_SecImport", "Import Audio...", 36);
    BT_Edit_SecRMov = makeButton(PN_Edit_1, "BT_Edit_SecRMov", "Remove", 66);
    BT_Edit_SecUp = makeButton(PN_Edit_1, "BT_Edit_SecUp", "Up", 96);
    BT_Edit_SecDn = makeButton(PN_Edit_1, "BT_Edit_SecDn", "Down", 126);
    BT_Edit_SecClr = makeButton(PN_Edit_1, "BT_Edit_SecClr", "Clear All", 156);
    BT_Edit_SecRMov->setEnabled(false);
    BT_Edit_SecUp->setEnabled(false);
    BT_Edit_SecDn->setEnabled(false);
    connect(BT_Edit_ScpSave, &QPushButton::clicked, this, &EditorPage::BT_Edit_ScpSaveClick);
    connect(BT_Edit_ScpLoad, &QPushButton::clicked, this, &EditorPage::BT_Edit_ScpLoadClick);
    connect(BT_Edit_ScpBuild, &QPushButton::clicked, this, &EditorPage::BT_Edit_ScpBuildClick);
    connect(BT_Edit_SecAdd, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecAddClick);
    connect(BT_Edit_SecRMov, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecRMovClick);
    connect(BT_Edit_SecUp, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecUpClick);
    connect(BT_Edit_SecDn, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecDnClick);
    connect(BT_Edit_SecClr, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecClrClick);
    connect(BT_Edit_SecImport, &QPushButton::clicked, this, &EditorPage::BT_Edit_SecImportClick);

    PN_Edit_3 = makePanel(this, "PN_Edit_3", 314, 175);
    ED_Edit_MemUsg = makeField(PN_Edit_3, "ED_Edit_MemUsg", "Memory Usage (Byte)", 2);
    ED_Edit_HstRate = makeField(PN_Edit_3, "ED_Edit_HstRate", "The Highest Rate (Hz)", 57);
    ED_Edit_LstSec = makeField(PN_Edit_3, "ED_Edit_LstSec", "Last Section No.", 112);

    model_ = new SoundTableModel(table_, this);
    model_->onCurrentRow = [this](int row) { showCurrentRow(row); };
    model_->onCellChanged = [this](int row) {
        if (row != table_.currentRow()) return;
        showSelectedWave();
        updatePlayButton();
    };
    SG_SoundTable = new QTableView(this);
    SG_SoundTable->setObjectName(QStringLiteral("SG_SoundTable"));
    // The grid's own small face: "Section 1023" and "Rate(Hz)" fit their
    // columns and a line fits its 16-pixel row.
    QFont gridFont(QStringLiteral("Tahoma"));
    gridFont.setPixelSize(kGridFontPixels);
    SG_SoundTable->setFont(gridFont);
    // Shorter than the page, for the waveform strip and Play below it.
    SG_SoundTable->setGeometry(120, 5, 640, 380);
    // The headings are set up before the model comes: the row heading is
    // hidden and fixed, so that its 1,025 sections are never sized from their
    // numbers.
    QHeaderView* rows = SG_SoundTable->verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(kRowHeight);
    rows->setDefaultSectionSize(kRowHeight);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    auto* heading = new FixedHeading(Qt::Horizontal, SG_SoundTable);
    SG_SoundTable->setHorizontalHeader(heading);
    heading->setFont(gridFont);
    heading->setSectionResizeMode(QHeaderView::Fixed);
    heading->setSectionsClickable(false);
    heading->setHighlightSections(false);
    heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    heading->setFixedHeight(kRowHeight + 1);
    heading->setMinimumSectionSize(10);
    SG_SoundTable->setModel(model_);
    SG_SoundTable->setItemDelegate(new SoundTableDelegate(SG_SoundTable));
    SG_SoundTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    SG_SoundTable->setSelectionMode(QAbstractItemView::SingleSelection);
    SG_SoundTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG_SoundTable->setShowGrid(true);
    SG_SoundTable->setWordWrap(false);
    SG_SoundTable->setFocusPolicy(Qt::ClickFocus);
    SG_SoundTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SG_SoundTable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    {
        int visible = 0;
        for (int c = 0; c < kColStatus; ++c) visible += kColumnWidths[c];
        const int bar = SG_SoundTable->width() - 2 * SG_SoundTable->frameWidth() - visible;
        SG_SoundTable->setVerticalScrollBar(new EdgeScrollBar(bar, SG_SoundTable));
    }
    SG_SoundTable->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    SG_SoundTable->setAutoScroll(false);  // column 4 stays beyond the right edge
    // Nor does a sideways wheel or swipe bring it in: the grid never scrolls across.
    QScrollBar* across = SG_SoundTable->horizontalScrollBar();
    connect(across, &QScrollBar::valueChanged, this, [across](int value) {
        if (value != 0) across->setValue(0);
    });
    // Any move of the current cell, a click into another column of the same row included.
    connect(SG_SoundTable->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                if (syncingRow_ || !current.isValid()) return;
                // However the row changed (keys, mouse, Up and Down), the operator
                // sees the row the next command works on; scrolled to by its
                // first column, so the grid never scrolls across.
                SG_SoundTable->scrollTo(model_->index(current.row(), 0));
                SG_SoundTableSelectCell(SoundTableModel::tableRow(current.row()));
            });
    connect(SG_SoundTable, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex&) { SG_SoundTableDblClick(); });

    PB_Edit_Wave = new WaveformStrip(this);
    PB_Edit_Wave->setObjectName(QStringLiteral("PB_Edit_Wave"));
    PB_Edit_Wave->setGeometry(120, 389, 640, 62);
    BT_Edit_Play = new QPushButton(QStringLiteral("Play"), this);
    BT_Edit_Play->setObjectName(QStringLiteral("BT_Edit_Play"));
    BT_Edit_Play->setGeometry(120, 455, 70, 28);
    BT_Edit_Play->setFocusPolicy(Qt::ClickFocus);
    BT_Edit_Play->installEventFilter(this);
    connect(BT_Edit_Play, &QPushButton::clicked, this, &EditorPage::BT_Edit_PlayClick);
    LB_Edit_ChipFit = new QLabel(this);
    LB_Edit_ChipFit->setObjectName(QStringLiteral("LB_Edit_ChipFit"));
    LB_Edit_ChipFit->setGeometry(196, 455, 564, 28);
    SG_SoundTable->installEventFilter(this);

    // Stop stands on the button that started the long work, for as long as
    // that work runs; Esc does the same.
    BT_Edit_Stop = new QPushButton(QStringLiteral("Stop"), this);
    BT_Edit_Stop->setObjectName(QStringLiteral("BT_Edit_Stop"));
    BT_Edit_Stop->setFocusPolicy(Qt::ClickFocus);
    BT_Edit_Stop->hide();
    connect(BT_Edit_Stop, &QPushButton::clicked, this, [this] { stop_.request(); });
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, this, [this] {
        if (BT_Edit_Stop->isVisible()) stop_.request();
    });
    // The figures take the chip's line while the work runs.
    ops_.setLongWork(
        [this](const core::ProgressFigures& f) {
            LB_Edit_ChipFit->setStyleSheet(QString());
            LB_Edit_ChipFit->setText(QString::fromUtf8(core::progressText(f)));
        },
        &stop_);

    auto* devices = new QMediaDevices(this);
    connect(devices, &QMediaDevices::audioOutputsChanged, this,
            [this] { setAudioOutputAvailable(!QMediaDevices::audioOutputs().isEmpty()); });

    ED_Edit_Hint = new QLineEdit(this);
    ED_Edit_Hint->setObjectName(QStringLiteral("ED_Edit_Hint"));
    ED_Edit_Hint->setGeometry(5, 490, 755, 24);
    ED_Edit_Hint->setReadOnly(true);
    ED_Edit_Hint->setFocusPolicy(Qt::NoFocus);
    ED_Edit_Hint->setCursor(Qt::ArrowCursor);

    for (const HoverHint& h : kHoverHints) {
        QWidget* w = findChild<QWidget*>(QString::fromLatin1(h.control));
        if (!w) continue;
        hints_[w] = QString::fromLatin1(h.text);
        w->installEventFilter(this);
    }
    makeQuickKeys();
    importDialog_ = std::make_unique<QtImportDialog>(this);
    ops_.setImportDialog(importDialog_.get());
    prepareTable();
    setAudioOutputAvailable(!QMediaDevices::audioOutputs().isEmpty());
}

EditorPage::~EditorPage() {
    stopPlaying();
    model_->onCellChanged = nullptr;
    table_.setObserver(nullptr);
}

QPushButton* EditorPage::makeButton(QWidget* panel, const char* name, const char* caption,
                                    int top) {
    auto* b = new QPushButton(QString::fromLatin1(caption), panel);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(5, top, 100, 28);
    b->setFocusPolicy(Qt::ClickFocus);
    return b;
}

QLineEdit* EditorPage::makeField(QWidget* panel, const char* name, const char* label, int top) {
    // Two lines where a label is wider than its field ("Memory Usage (Byte)").
    auto* caption = new QLabel(QString::fromLatin1(label), panel);
    caption->setGeometry(5, top, 100, 36);
    caption->setWordWrap(true);
    caption->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    auto* field = new QLineEdit(QStringLiteral("0"), panel);
    field->setObjectName(QString::fromLatin1(name));
    field->setGeometry(5, top + 38, 100, 22);
    field->setReadOnly(true);
    field->setFocusPolicy(Qt::NoFocus);
    caption->setBuddy(field);
    return field;
}

void EditorPage::makeQuickKeys() {
    AC_QuickKey = new QActionGroup(this);
    AC_QuickKey->setObjectName(QStringLiteral("AC_QuickKey"));
    AC_QuickKey->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    for (const QuickKey& k : kQuickKeys) {
        auto* action = new QAction(AC_QuickKey);
        action->setObjectName(QString::fromLatin1(k.name));
        action->setShortcut(QKeySequence(k.keys));
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        const EditorControl control = k.control;
        const auto handler = k.handler;
        connect(action, &QAction::triggered, this,
                [this, control, handler] { runQuickKey(control, handler); });
    }
    // Beside the list of the original keys, under the same rules: Import
    // Audio's button follows Add / Replace's.
    ACT_Import = new QAction(this);
    ACT_Import->setObjectName(QStringLiteral("ACT_Import"));
    ACT_Import->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    ACT_Import->setShortcutContext(Qt::WindowShortcut);
    addAction(ACT_Import);
    connect(ACT_Import, &QAction::triggered, this,
            [this] { runQuickKey(EditorControl::Add, &EditorPage::BT_Edit_SecImportClick); });
}

bool EditorPage::pageActive() const {
    if (!env_.pcMain) return isVisible();
    return env_.pcMain->currentWidget() == this;
}

void EditorPage::runQuickKey(EditorControl control, void (EditorPage::*handler)()) {
    // A key whose button is disabled does nothing: so a key never swaps with
    // the heading row or past the last row, and never runs while a save, load
    // or build holds the page locked.
    if (!pageActive() || !controlEnabled(control)) return;
    (this->*handler)();
}

void EditorPage::prepareTable() {
    table_.prepare();
    model_->reload();
    for (int c = 0; c < kTableColumns; ++c) SG_SoundTable->setColumnWidth(c, kColumnWidths[c]);
    showCurrentRow(table_.currentRow());
}

void EditorPage::showCurrentRow(int row) {
    QItemSelectionModel* selection = SG_SoundTable->selectionModel();
    QModelIndex target = model_->index(SoundTableModel::modelRow(row), 0);
    if (selection->currentIndex().row() == target.row() && selection->isRowSelected(target.row()))
        return;
    syncingRow_ = true;
    selection->setCurrentIndex(target,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    SG_SoundTable->scrollTo(target);
    syncingRow_ = false;
}

void EditorPage::showSelectedWave() {
    const int row = table_.currentRow();
    PB_Edit_Wave->showWave(table_.isUsed(row) ? std::filesystem::path(table_.cell(row, kColFile))
                                              : std::filesystem::path());
}

void EditorPage::BT_Edit_SecAddClick() {
    ops_.addReplace();
}
void EditorPage::BT_Edit_SecRMovClick() {
    ops_.removeSection();
}
void EditorPage::BT_Edit_SecUpClick() {
    ops_.moveUp();
}
void EditorPage::BT_Edit_SecDnClick() {
    ops_.moveDown();
}
void EditorPage::BT_Edit_SecClrClick() {
    ops_.clearAll();
}
void EditorPage::BT_Edit_ScpSaveClick() {
    ops_.saveProject();
}
void EditorPage::BT_Edit_ScpLoadClick() {
    ops_.loadProject();
}
void EditorPage::BT_Edit_ScpBuildClick() {
    runLongWork(BT_Edit_ScpBuild, [this] { ops_.makeDatFile(); });
}

void EditorPage::runLongWork(QPushButton* startedBy, const std::function<void()>& work) {
    stop_.clear();
    BT_Edit_Stop->setGeometry(QRect(startedBy->mapTo(this, QPoint(0, 0)), startedBy->size()));
    BT_Edit_Stop->setFont(startedBy->font());
    BT_Edit_Stop->raise();
    BT_Edit_Stop->show();
    work();
    BT_Edit_Stop->hide();
    refreshChipFit();
}
void EditorPage::SG_SoundTableDblClick() {
    BT_Edit_SecAddClick();
}
void EditorPage::SG_SoundTableSelectCell(int row) {
    if (isPlaying() && row != table_.currentRow()) stopPlaying();
    ops_.selectRow(row);
    showSelectedWave();
    updatePlayButton();
}
void EditorPage::BT_Edit_SecImportClick() {
    runLongWork(BT_Edit_SecImport, [this] { ops_.importAudio(); });
    showSelectedWave();
    updatePlayButton();
}

void EditorPage::setChipCapacity(const std::string& chip, std::uint64_t bytes) {
    chip_ = chip;
    chipBytes_ = bytes;
    refreshChipFit();
}

ChipFit EditorPage::chipFit() const {
    return {chip_, chipBytes_, imageSize(table_)};
}

void EditorPage::refreshChipFit() {
    const ChipFit fit = chipFit();
    LB_Edit_ChipFit->setText(gui::fromLocal(chipFitText(fit)));
    LB_Edit_ChipFit->setStyleSheet(fit.known() && !fit.fits() ? QStringLiteral("color: #ff0000;")
                                                              : QString());
}

void EditorPage::setHint(std::string_view text) {
    ED_Edit_Hint->setText(gui::fromLocal(text));
}

QWidget* EditorPage::controlWidget(EditorControl control) const {
    switch (control) {
        case EditorControl::Save:
            return BT_Edit_ScpSave;
        case EditorControl::Load:
            return BT_Edit_ScpLoad;
        case EditorControl::Build:
            return BT_Edit_ScpBuild;
        case EditorControl::Add:
            return BT_Edit_SecAdd;
        case EditorControl::Remove:
            return BT_Edit_SecRMov;
        case EditorControl::Up:
            return BT_Edit_SecUp;
        case EditorControl::Down:
            return BT_Edit_SecDn;
        case EditorControl::Clear:
            return BT_Edit_SecClr;
        case EditorControl::DeviceSel:
            return env_.deviceSel;
        case EditorControl::PageControl:
            return env_.pcMain;
    }
    return nullptr;
}

void EditorPage::setControlEnabled(EditorControl control, bool enabled) {
    if (QWidget* w = controlWidget(control)) w->setEnabled(enabled);
    if (control == EditorControl::Add) {
        BT_Edit_SecImport->setEnabled(enabled);
        updatePlayButton();
    }
}

bool EditorPage::controlEnabled(EditorControl control) const {
    QWidget* w = controlWidget(control);
    return w && w->isEnabled();
}

QLineEdit* EditorPage::summaryWidget(SummaryField field) const {
    switch (field) {
        case SummaryField::MemUsg:
            return ED_Edit_MemUsg;
        case SummaryField::HstRate:
            return ED_Edit_HstRate;
        case SummaryField::LstSec:
            return ED_Edit_LstSec;
    }
    return ED_Edit_LstSec;
}

void EditorPage::setSummary(SummaryField field, std::string_view text) {
    summaryWidget(field)->setText(gui::fromLocal(text));
    if (field == SummaryField::MemUsg) refreshChipFit();
}

std::string EditorPage::summary(SummaryField field) const {
    return gui::toLocal(summaryWidget(field)->text());
}

void EditorPage::repaintTable() {
    SG_SoundTable->viewport()->update();
}

bool EditorPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SG_SoundTable && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        BT_Edit_PlayClick();
        return true;
    }
    if (watched == BT_Edit_Play && event->type() == QEvent::Enter) {
        ED_Edit_Hint->setText(BT_Edit_Play->toolTip());
        return false;
    }
    if (event->type() == QEvent::Enter) {
        auto it = hints_.find(watched);
        if (it != hints_.end()) ED_Edit_Hint->setText(it->second);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace sonoprog::editor

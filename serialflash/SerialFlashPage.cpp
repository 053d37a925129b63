#include "serialflash/SerialFlashPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/Gauge.h"

namespace sonoprog::serialflash {

namespace {

template <typename Widget>
Widget* named(Widget* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLineEdit* readOnlyField(QWidget* parent, const char* name) {
    auto* edit = named(new QLineEdit(parent), name);
    edit->setReadOnly(true);
    // Out of the focus chain: when the lock disables the focused button, the
    // focus does not land in a field and select its text.
    edit->setFocusPolicy(Qt::NoFocus);
    return edit;
}

QLabel* label(QWidget* parent, const char* name, const char* text) {
    return named(new QLabel(QString::fromLatin1(text), parent), name);
}

}  // namespace

SerialFlashPage::SerialFlashPage(gui::TabEnvironment& env, QWidget* parent)
    : QWidget(parent), env_(env) {
    setObjectName(QStringLiteral("PAGE_NOR_WRT"));

    CB_NOR_Device = named(new QComboBox(this), "CB_NOR_Device");
    CB_NOR_Device->setEditable(false);
    CB_NOR_Device->setMinimumWidth(180);
    ED_NOR_MemSize = readOnlyField(this, "ED_NOR_MemSize");
    ED_NOR_LoadFile = readOnlyField(this, "ED_NOR_LoadFile");
    ED_NOR_FileSize = readOnlyField(this, "ED_NOR_FileSize");
    ED_NOR_ChkSum = readOnlyField(this, "ED_NOR_ChkSum");
    BT_NOR_LoadFile = named(new QPushButton(QStringLiteral("Load File"), this), "BT_NOR_LoadFile");
    BT_NOR_Blank = named(new QPushButton(QStringLiteral("Blank Check"), this), "BT_NOR_Blank");
    BT_NOR_Write = named(new QPushButton(QStringLiteral("Write"), this), "BT_NOR_Write");
    BT_NOR_Verify = named(new QPushButton(QStringLiteral("Verify"), this), "BT_NOR_Verify");
    RE_NOR_State = named(new gui::LogPane(this), "RE_NOR_State");
    CG_NOR_Progress = named(new gui::Gauge(this), "CG_NOR_Progress");

    // Device and file on the left, the operations in a column on the right,
    // the log pane and its gauge over the whole width below.
    auto* fields = new QGridLayout;
    fields->addWidget(label(this, "LB_NOR_Device", "Device:"), 0, 0);
    fields->addWidget(CB_NOR_Device, 0, 1);
    fields->addWidget(label(this, "LB_NOR_MemSize", "Memory Size (Byte):"), 0, 2);
    fields->addWidget(ED_NOR_MemSize, 0, 3);
    fields->addWidget(label(this, "LB_NOR_LoadFile", "BIN File:"), 1, 0);
    fields->addWidget(ED_NOR_LoadFile, 1, 1, 1, 3);
    fields->addWidget(label(this, "LB_NOR_FileSize", "File Size (Byte):"), 2, 0);
    fields->addWidget(ED_NOR_FileSize, 2, 1);
    fields->addWidget(label(this, "LB_NOR_ChkSum", "Check Sum:"), 2, 2);
    fields->addWidget(ED_NOR_ChkSum, 2, 3);
    fields->setColumnStretch(1, 3);
    fields->setColumnStretch(3, 2);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {BT_NOR_LoadFile, BT_NOR_Blank, BT_NOR_Write, BT_NOR_Verify}) {
        b->setMinimumWidth(110);
        buttons->addWidget(b);
    }
    buttons->addStretch(1);

    auto* top = new QHBoxLayout;
    top->addLayout(fields, 1);
    top->addSpacing(12);
    top->addLayout(buttons);

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 8, 8);
    page->addLayout(top);
    page->addWidget(RE_NOR_State, 1);
    page->addWidget(CG_NOR_Progress);

    report_ = std::make_unique<gui::TabReporting>(
        *RE_NOR_State, *CG_NOR_Progress,
        std::vector<QWidget*>{BT_NOR_LoadFile, BT_NOR_Blank, BT_NOR_Write, BT_NOR_Verify,
                              CB_NOR_Device, env_.deviceSel, env_.pcMain});

    // Only the operator's pick looks the device up, not a selection made in code.
    connect(CB_NOR_Device, &QComboBox::activated, this, [this](int) { CB_NOR_DeviceChange(); });
    connect(BT_NOR_LoadFile, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_LoadFileClick);
    connect(BT_NOR_Blank, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_BlankClick);
    connect(BT_NOR_Write, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_WriteClick);
    connect(BT_NOR_Verify, &QPushButton::clicked, this, &SerialFlashPage::BT_NOR_VerifyClick);
}

SerialFlashPage::~SerialFlashPage() = default;

void SerialFlashPage::addDevice(const QString& name) {
    CB_NOR_Device->addItem(name);
}

void SerialFlashPage::selectFirstDevice() {
    if (CB_NOR_Device->count() > 0) CB_NOR_Device->setCurrentIndex(0);
}

SerialFlashFields SerialFlashPage::readFields() const {
    return {gui::toLocal(CB_NOR_Device->currentText()), gui::toLocal(ED_NOR_MemSize->text()),
            gui::toLocal(ED_NOR_LoadFile->text()), gui::toLocal(ED_NOR_FileSize->text()),
            gui::toLocal(ED_NOR_ChkSum->text())};
}

void SerialFlashPage::showFields(const SerialFlashFields& fields) {
    ED_NOR_MemSize->setText(gui::fromLocal(fields.memSize));
    ED_NOR_LoadFile->setText(gui::fromLocal(fields.loadFile));
    ED_NOR_FileSize->setText(gui::fromLocal(fields.fileSize));
    ED_NOR_ChkSum->setText(gui::fromLocal(fields.chkSum));
}

void SerialFlashPage::run(const std::function<bool(SerialFlashOperations&)>& operation) {
    SerialFlashFields fields = readFields();
    SerialFlashOperations operations(fields, report_->services(env_));
    operation(operations);
    showFields(fields);
}

void SerialFlashPage::CB_NOR_DeviceChange() {
    run([](SerialFlashOperations& ops) { return ops.deviceChange(); });
}
void SerialFlashPage::BT_NOR_LoadFileClick() {
    run([this](SerialFlashOperations& ops) {
        return ops.loadImage(
            core::openDialogChoice(env_.files, SerialFlashOperations::kImageDialog));
    });
}
void SerialFlashPage::BT_NOR_BlankClick() {
    run([](SerialFlashOperations& ops) { return ops.blankCheck(); });
}
void SerialFlashPage::BT_NOR_WriteClick() {
    run([](SerialFlashOperations& ops) { return ops.write(); });
}
void SerialFlashPage::BT_NOR_VerifyClick() {
    run([](SerialFlashOperations& ops) { return ops.verify(); });
}

}  // namespace sonoprog::serialflash

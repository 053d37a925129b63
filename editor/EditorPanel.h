#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sonoprog::editor {

// The controls the editor's commands switch, in the order of the lock list.
enum class EditorControl : int {
    Save,        // BT_Edit_ScpSave
    Load,        // BT_Edit_ScpLoad
    Build,       // BT_Edit_ScpBuild
    Add,         // BT_Edit_SecAdd
    Remove,      // BT_Edit_SecRMov
    Up,          // BT_Edit_SecUp
    Down,        // BT_Edit_SecDn
    Clear,       // BT_Edit_SecClr
    DeviceSel,   // CB_DeviceSel
    PageControl  // PC_Main
};
inline constexpr int kEditorControlCount = 10;

enum class SummaryField : int {
    MemUsg,   // ED_Edit_MemUsg
    HstRate,  // ED_Edit_HstRate
    LstSec    // ED_Edit_LstSec
};

const char* controlName(EditorControl control);

// The page's fields and buttons as the commands see them: the window backs it
// with its widgets, the command line and the tests with PanelState.
class EditorPanel {
public:
    virtual ~EditorPanel() = default;
    virtual void setHint(std::string_view text) = 0;  // ED_Edit_Hint
    virtual void setControlEnabled(EditorControl control, bool enabled) = 0;
    virtual bool controlEnabled(EditorControl control) const = 0;
    virtual void setSummary(SummaryField field, std::string_view text) = 0;
    virtual std::string summary(SummaryField field) const = 0;
    // The table's red rows show now (the build's repaint).
    virtual void repaintTable() {}
};

// A panel without a window. Keeps the present state and what happened to it.
class PanelState final : public EditorPanel {
public:
    PanelState();
    void setHint(std::string_view text) override;
    void setControlEnabled(EditorControl control, bool enabled) override;
    bool controlEnabled(EditorControl control) const override {
        return enabled_[static_cast<int>(control)];
    }
    void setSummary(SummaryField field, std::string_view text) override {
        summary_[static_cast<int>(field)] = std::string(text);
    }
    std::string summary(SummaryField field) const override {
        return summary_[static_cast<int>(field)];
    }

    const std::string& hint() const { return hint_; }
    std::vector<std::string> hints;                            // every text the hint line got
    std::vector<std::pair<EditorControl, bool>> enableEvents;  // in call order

private:
    std::string hint_;
    std::array<bool, kEditorControlCount> enabled_{};
    std::array<std::string, 3> summary_;
};

}  // namespace sonoprog::editor

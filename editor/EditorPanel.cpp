#include "editor/EditorPanel.h"

namespace sonoprog::editor {

const char* controlName(EditorControl control) {
    static const char* const kNames[kEditorControlCount] = {
        "BT_Edit_ScpSave", "BT_Edit_ScpLoad", "BT_Edit_ScpBuild", "BT_Edit_SecAdd",
        "BT_Edit_SecRMov", "BT_Edit_SecUp",   "BT_Edit_SecDn",    "BT_Edit_SecClr",
        "CB_DeviceSel",    "PC_Main"};
    return kNames[static_cast<int>(control)];
}

PanelState::PanelState() {
    enabled_.fill(true);
    for (EditorControl c : {EditorControl::Remove, EditorControl::Up, EditorControl::Down})
        enabled_[static_cast<int>(c)] = false;
    summary_.fill("0");
}

void PanelState::setHint(std::string_view text) {
    hint_ = std::string(text);
    hints.push_back(hint_);
}

void PanelState::setControlEnabled(EditorControl control, bool enabled) {
    enabled_[static_cast<int>(control)] = enabled;
    enableEvents.emplace_back(control, enabled);
}

}  // namespace sonoprog::editor

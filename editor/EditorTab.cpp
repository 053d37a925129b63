#include "EditorTab.h"

namespace sonoprog::editor {

EditorTab::EditorTab(gui::TabEnvironment& env, QWidget* parent) : QWidget(parent), env_(env) {}

void EditorTab::prepareTable() {}

}  // namespace sonoprog::editor

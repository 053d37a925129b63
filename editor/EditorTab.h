#pragma once

#include <QWidget>

#include "QtServices.h"

namespace sonoprog::editor {

// The "Sound Editor" page (PAGE_Sound_Editor).
class EditorTab final : public QWidget {
    Q_OBJECT
public:
    explicit EditorTab(gui::TabEnvironment& env, QWidget* parent = nullptr);

    // Start-up's fill of SG_SoundTable: widths, headings, section labels,
    // empty cells; the current row becomes row 1.
    void prepareTable();

private:
    gui::TabEnvironment& env_;
};

}  // namespace sonoprog::editor

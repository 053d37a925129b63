#pragma once

#include <QWidget>

#include "QtServices.h"

namespace sonoprog::tarn {

// The "Tarn20 Writer" page (PAGE_Tarn_WRT).
class TarnTab final : public QWidget {
    Q_OBJECT
public:
    explicit TarnTab(gui::TabEnvironment& env, QWidget* parent = nullptr);

    // PN_Tarn_Eng with the Read button: shown only in engineering mode.
    void setEngineeringPanelVisible(bool visible);

private:
    gui::TabEnvironment& env_;
};

}  // namespace sonoprog::tarn

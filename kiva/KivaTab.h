#pragma once

#include <QWidget>

#include "QtServices.h"

namespace sonoprog::kiva {

// The "Kiva300 Writer" page (PAGE_Kiva_WRT).
class KivaTab final : public QWidget {
    Q_OBJECT
public:
    explicit KivaTab(gui::TabEnvironment& env, QWidget* parent = nullptr);

private:
    gui::TabEnvironment& env_;
};

}  // namespace sonoprog::kiva

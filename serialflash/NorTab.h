#pragma once

#include <QWidget>

#include "QtServices.h"

class QComboBox;

namespace sonoprog::serialflash {

// The "Series Flash Writer" page (PAGE_NOR_WRT).
class NorTab final : public QWidget {
    Q_OBJECT
public:
    explicit NorTab(gui::TabEnvironment& env, QWidget* parent = nullptr);

    // Start-up fills CB_NOR_Device and selects its first entry in code, which
    // does not run the device lookup.
    void addDevice(const QString& name);
    void selectFirstDevice();
    QComboBox* deviceList() const { return devices_; }

private:
    gui::TabEnvironment& env_;
    QComboBox* devices_ = nullptr;
};

}  // namespace sonoprog::serialflash

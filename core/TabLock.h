#pragma once

namespace sonoprog::core {

// Disables (lock) or enables (unlock) the tab's control list, in its order.
class TabLock {
public:
    virtual ~TabLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

}  // namespace sonoprog::core

#pragma once

namespace sonoprog::core {

// Lets the window process its pending messages from inside a long loop.
class YieldHook {
public:
    virtual ~YieldHook() = default;
    virtual void yield() = 0;
};

class NoYield final : public YieldHook {
public:
    void yield() override {}
};

}  // namespace sonoprog::core

#pragma once

#include <memory>

namespace sonoprog::production {

// The two sounds of the bench.
class UnitSounds {
public:
    virtual ~UnitSounds() = default;
    virtual void passed() = 0;
    virtual void failed() = 0;
};

// A short tone each (high for a pass, two low ones for a fail) on the default
// sound device, or the system beep where there is none.
class ToneSounds final : public UnitSounds {
public:
    ToneSounds();
    ~ToneSounds() override;
    void passed() override;
    void failed() override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sonoprog::production

#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace sonoprog::core {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::tm localNow() = 0;
    // A time that only moves forward, for measuring how long work takes; its
    // zero means nothing. The system's steady clock unless a clock says otherwise.
    virtual std::chrono::microseconds steadyNow();
};

class SystemClock final : public Clock {
public:
    std::tm localNow() override;
};

// "HH:MM:SS"
std::string timeOfDay(const std::tm& t);
// "YYYYMMDD-HHMM", the stamp of the Temp file names
std::string fileStamp(const std::tm& t);
// "YYYY/MM/DD-HH:MM:SS", the closing line of a project file
std::string projectStamp(const std::tm& t);

}  // namespace sonoprog::core

#include "core/Clock.h"

#include <cstdio>

namespace sonoprog::core {

std::chrono::microseconds Clock::steadyNow() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

std::tm SystemClock::localNow() {
    std::time_t now = std::time(nullptr);
    std::tm out{};
    localtime_r(&now, &out);
    return out;
}

std::string timeOfDay(const std::tm& t) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::string fileStamp(const std::tm& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min);
    return buf;
}

std::string projectStamp(const std::tm& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d-%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

}  // namespace sonoprog::core

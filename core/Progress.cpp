#include "core/Progress.h"

#include <cmath>
#include <cstdio>

namespace sonoprog::core {

namespace {

// A quarter of a second: how often the figures move while the percentage stands.
constexpr double kReportsPerSecond = 4.0;

}  // namespace

const char* progressUnitName(ProgressUnit unit) {
    switch (unit) {
        case ProgressUnit::Pages:
            return "pages";
        case ProgressUnit::Bytes:
            return "bytes";
        case ProgressUnit::Sections:
            return "sections";
        case ProgressUnit::Files:
            return "files";
    }
    return "pages";
}

std::string groupedNumber(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string durationText(double seconds) {
    const long long total = seconds > 0 ? static_cast<long long>(std::llround(seconds)) : 0;
    char buf[48];
    if (total >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    else
        std::snprintf(buf, sizeof buf, "%lld:%02lld", total / 60, total % 60);
    return buf;
}

std::string progressText(const ProgressFigures& f) {
    static constexpr const char* kDot = " \u00B7 ";
    std::string text = groupedNumber(f.done) + " of " + groupedNumber(f.total) + " " +
                       progressUnitName(f.unit) + kDot + durationText(f.elapsedS) + " elapsed";
    if (f.etaS) text += kDot + durationText(*f.etaS) + " left";
    return text;
}

ProgressModel::ProgressModel(Clock& clock, ProgressUnit unit, std::uint64_t total)
    : clock_(clock), unit_(unit), total_(total), start_(clock.steadyNow()) {}

ProgressFigures ProgressModel::at(std::uint64_t done) {
    ProgressFigures f;
    f.unit = unit_;
    f.total = total_;
    f.done = done < total_ ? done : total_;
    const auto elapsed = clock_.steadyNow() - start_;
    f.elapsedS = elapsed.count() > 0 ? static_cast<double>(elapsed.count()) / 1e6 : 0.0;
    const std::uint64_t enough = total_ / 100 > 0 ? total_ / 100 : 1;
    if (f.done == f.total)
        f.etaS = 0.0;
    else if (f.done >= enough && f.elapsedS > 0)
        f.etaS = f.elapsedS * static_cast<double>(f.total - f.done) / static_cast<double>(f.done);
    return f;
}

ProgressReporter::ProgressReporter(const OperationServices& services, ProgressUnit unit,
                                   std::uint64_t total)
    : ProgressReporter([&log = services.log](const ProgressFigures& f) { log.figures(f); },
                       services.clock, services.stop, unit, total) {}

ProgressReporter::ProgressReporter(Sink sink, Clock& clock, StopCheck* stop, ProgressUnit unit,
                                   std::uint64_t total)
    : sink_(std::move(sink)), stop_(stop), model_(clock, unit, total) {
    report(0);
}

void ProgressReporter::report(std::uint64_t done) {
    const ProgressFigures f = model_.at(done);
    const std::uint64_t percent = f.total ? f.done * 100 / f.total : 100;
    const auto quarter = static_cast<long long>(std::floor(f.elapsedS * kReportsPerSecond));
    if (lastPercent_ && percent == *lastPercent_ && quarter == lastQuarter_ && f.done != f.total)
        return;
    lastPercent_ = percent;
    lastQuarter_ = quarter;
    sink_(f);
}

}  // namespace sonoprog::core

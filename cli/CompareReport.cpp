#include "cli/CompareReport.h"

#include <cstdio>
#include <string>

namespace sonoprog::cli {

namespace {

std::string address(std::uint64_t a) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(a));
    return buf;
}

std::string pageText(std::uint32_t page) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%06X", page);
    return buf;
}

std::string rangeLine(const core::DiffRange& r) {
    std::string line = address(r.start) + "-" + address(r.end) + "  " + std::to_string(r.bytes) +
                       " bytes  1->0: " + std::to_string(r.bitsCleared) +
                       "  0->1: " + std::to_string(r.bitsSet);
    if (const auto hint = core::diffHintText(r.hint); !hint.empty())
        line += "  " + std::string(hint);
    return line;
}

std::string rangeJson(const core::DiffRange& r) {
    const auto hint = core::diffHintText(r.hint);
    return "{\"start\":" + std::to_string(r.start) + ",\"end\":" + std::to_string(r.end) +
           ",\"bytes\":" + std::to_string(r.bytes) +
           ",\"bits_cleared\":" + std::to_string(r.bitsCleared) +
           ",\"bits_set\":" + std::to_string(r.bitsSet) +
           ",\"hint\":" + (hint.empty() ? std::string("null") : jsonString(hint)) + "}";
}

}  // namespace

int reportComparison(Session& s, const core::ImageComparer& diff,
                     const std::vector<std::pair<std::uint32_t, std::uint32_t>>& mirrored) {
    std::FILE* out = s.out();
    const std::uint64_t unlisted = diff.rangeCount() - diff.ranges().size();
    const std::string verdict = diff.same()
                                    ? std::string("SAME")
                                    : "DIFFER " + std::to_string(diff.rangeCount()) + " ranges " +
                                          std::to_string(diff.byteCount()) + " bytes";
    if (s.invocation().json) {
        std::string j = std::string("{\"kind\":\"compare\",\"same\":") +
                        (diff.same() ? "true" : "false") + ",\"ranges\":[";
        for (std::size_t i = 0; i < diff.ranges().size(); ++i)
            j += (i ? "," : "") + rangeJson(diff.ranges()[i]);
        j += "],\"mirrored\":[";
        for (std::size_t i = 0; i < mirrored.size(); ++i)
            j += std::string(i ? "," : "") + "{\"page\":" + std::to_string(mirrored[i].first) +
                 ",\"spare\":" + std::to_string(mirrored[i].second) + "}";
        j += "]";
        if (unlisted) j += ",\"unlisted_ranges\":" + std::to_string(unlisted);
        j += "}\n";
        std::fwrite(j.data(), 1, j.size(), out);
    } else {
        for (const auto& [page, spare] : mirrored)
            std::fprintf(out, "MIRRORED page %s at spare page %s\n", pageText(page).c_str(),
                         pageText(spare).c_str());
        for (const auto& r : diff.ranges()) std::fprintf(out, "%s\n", rangeLine(r).c_str());
        if (unlisted)
            std::fprintf(out, "... and %llu ranges more\n",
                         static_cast<unsigned long long>(unlisted));
        std::fprintf(out, "%s\n", verdict.c_str());
    }
    std::fflush(out);
    s.setResultMessage(verdict);
    s.addResultMember("ranges", std::to_string(diff.rangeCount()));
    s.addResultMember("bytes", std::to_string(diff.byteCount()));
    return diff.same() ? s.exitStatus() : worseExit(s.exitStatus(), kExitFailed);
}

}  // namespace sonoprog::cli

#include "records/RecordFormat.h"

#include <nlohmann/json.hpp>

namespace sonoprog::records {

namespace {

bool blankAt(char c) {
    return c == ' ' || c == '\t';
}

std::string csvField(const std::string& text) {
    // Leading and trailing blanks are quoted too: many readers trim them from
    // a bare field, and the step texts begin with two.
    const bool plain = text.find_first_of(",\"\r\n") == std::string::npos &&
                       (text.empty() || (!blankAt(text.front()) && !blankAt(text.back())));
    if (plain) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

}  // namespace

std::string csvHeader() {
    return "id,time,station,operator,job_name,job_sha256,image_sha256,image_checksum,target,"
           "device,writer,result,failing_step,fail_line,duration_ms,pgm_log,vrf_log,mirrored\r\n";
}

std::string csvRow(const UnitRecord& r) {
    const std::string fields[] = {r.id,           r.time,          r.station,
                                  r.operatorName, r.jobName,       r.jobSha256,
                                  r.imageSha256,  r.imageCheckSum, r.target,
                                  r.device,       r.writer,        r.result,
                                  r.failingStep,  r.failLine,      std::to_string(r.durationMs),
                                  r.pgmLog,       r.vrfLog,        mirroredText(r.mirrored)};
    std::string out;
    for (const auto& f : fields) {
        if (!out.empty()) out += ',';
        out += csvField(f);
    }
    out += "\r\n";
    return out;
}

std::string recordJsonLine(const UnitRecord& r) {
    nlohmann::json mirrored = nlohmann::json::array();
    for (const auto& p : r.mirrored) mirrored.push_back({{"page", p.page}, {"spare", p.spare}});
    const nlohmann::ordered_json j = {
        {"kind", "record"},
        {"id", r.id},
        {"time", r.time},
        {"station", r.station},
        {"operator", r.operatorName},
        {"job_name", r.jobName},
        {"job_sha256", r.jobSha256},
        {"image_sha256", r.imageSha256},
        {"image_checksum", r.imageCheckSum},
        {"target", r.target},
        {"device", r.device},
        {"writer", r.writer},
        {"result", r.result},
        {"failing_step", r.failingStep},
        {"fail_line", r.failLine},
        {"duration_ms", r.durationMs},
        {"pgm_log", r.pgmLog},
        {"vrf_log", r.vrfLog},
        {"mirrored", mirrored},
    };
    // Invalid UTF-8 from a file name is replaced rather than thrown about.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<UnitRecord> recordFromJson(std::string_view line) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    UnitRecord r;
    const auto text = [&j](const char* key, std::string& into) {
        const auto it = j.find(key);
        if (it == j.end() || !it->is_string()) return false;
        into = it->get<std::string>();
        return true;
    };
    if (!text("id", r.id) || !text("time", r.time) || !text("station", r.station) ||
        !text("operator", r.operatorName) || !text("job_name", r.jobName) ||
        !text("job_sha256", r.jobSha256) || !text("image_sha256", r.imageSha256) ||
        !text("image_checksum", r.imageCheckSum) || !text("target", r.target) ||
        !text("device", r.device) || !text("writer", r.writer) || !text("result", r.result) ||
        !text("failing_step", r.failingStep) || !text("fail_line", r.failLine) ||
        !text("pgm_log", r.pgmLog) || !text("vrf_log", r.vrfLog))
        return std::nullopt;
    const auto duration = j.find("duration_ms");
    if (duration == j.end() || !duration->is_number_integer()) return std::nullopt;
    r.durationMs = duration->get<std::int64_t>();
    const auto mirrored = j.find("mirrored");
    if (mirrored == j.end() || !mirrored->is_array()) return std::nullopt;
    for (const auto& p : *mirrored) {
        if (!p.is_object() || !p.contains("page") || !p.contains("spare") ||
            !p["page"].is_number_unsigned() || !p["spare"].is_number_unsigned())
            return std::nullopt;
        r.mirrored.push_back({p["page"].get<std::uint32_t>(), p["spare"].get<std::uint32_t>()});
    }
    return r;
}

}  // namespace sonoprog::records

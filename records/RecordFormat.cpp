#include "records/RecordFormat.h"

#include <nlohmann/json.hpp>

namespace sonoprog::records {

namespace {

bool blankAt(char c) {
    return c == ' ' || c == '\t';
}

// The length of the well-formed UTF-8 sequence at `p` (at most `left`
// bytes), 0 when the bytes there are not one.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    std::size_t n;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;   // no overlong forms
        if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (left < n || p[1] < low || p[1] > high) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return n;
}

// A cell as a spreadsheet may safely show it: text that a spreadsheet would
// take for a formula (=, +, -, @, or a tab or carriage return first) gets a
// leading apostrophe; control characters other than tab and line breaks are
// written as \xNN; bytes that are not UTF-8 become U+FFFD.
void appendSafeCell(std::string& out, const std::string& text) {
    const bool formula =
        !text.empty() && (text.front() == '=' || text.front() == '+' || text.front() == '-' ||
                          text.front() == '@' || text.front() == '\t' || text.front() == '\r');
    // Leading and trailing blanks are quoted too: many readers trim them from
    // a bare field, and the step texts begin with two.
    const bool quote = text.find_first_of(",\"\r\n") != std::string::npos ||
                       (!text.empty() && (blankAt(text.front()) || blankAt(text.back())));
    if (quote) out += '"';
    if (formula) out += '\'';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            if (c == '"') out += '"';
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\t' || c == '\r' || c == '\n') {
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        } else if (const std::size_t n = utf8Length(p + i, size - i)) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    if (quote) out += '"';
}

}  // namespace

std::string csvHeader() {
    return "id,time,station,operator,job_name,job_sha256,image_sha256,image_checksum,target,"
           "device,writer,result,failing_step,fail_line,duration_ms,pgm_log,vrf_log,mirrored,"
           "lot\r\n";
}

void appendCsvRow(std::string& out, const UnitRecord& r) {
    const std::string* texts[] = {&r.id,          &r.time,      &r.station,     &r.operatorName,
                                  &r.jobName,     &r.jobSha256, &r.imageSha256, &r.imageCheckSum,
                                  &r.target,      &r.device,    &r.writer,      &r.result,
                                  &r.failingStep, &r.failLine};
    for (const auto* t : texts) {
        appendSafeCell(out, *t);
        out += ',';
    }
    out += std::to_string(r.durationMs);
    out += ',';
    appendSafeCell(out, r.pgmLog);
    out += ',';
    appendSafeCell(out, r.vrfLog);
    out += ',';
    out += mirroredText(r.mirrored);
    // Last: a reader of the columns before it keeps working.
    out += ',';
    appendSafeCell(out, r.lot);
    out += "\r\n";
}

std::string csvRow(const UnitRecord& r) {
    std::string out;
    appendCsvRow(out, r);
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
        {"lot", r.lot},
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
    // Lines queued by a version before lots have none.
    if (j.contains("lot") && !text("lot", r.lot)) return std::nullopt;
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

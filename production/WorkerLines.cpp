#include "production/WorkerLines.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

namespace sonoprog::production {

namespace {

using Json = nlohmann::ordered_json;

// A text may hold any bytes; a dump never throws on them.
std::string dump(const Json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The kinds by name; any other kind with a text is a note.
struct KindName {
    WorkerKind kind;
    std::string_view name;
};
constexpr KindName kKindNames[] = {
    {WorkerKind::Line, "line"},     {WorkerKind::Progress, "progress"},
    {WorkerKind::Unit, "unit"},     {WorkerKind::Total, "total"},
    {WorkerKind::Status, "status"}, {WorkerKind::Error, "error"},
    {WorkerKind::Result, "result"},
};

std::string stringOf(const nlohmann::json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

long long integerOf(const nlohmann::json& j, const char* key) {
    const auto it = j.find(key);
    return it != j.end() && it->is_number_integer() ? it->get<long long>() : 0;
}

}  // namespace

std::string lineObject(std::string_view mark, std::string_view text) {
    return dump(Json{{"kind", "line"}, {"mark", mark}, {"text", text}});
}

std::string progressObject(int percent) {
    return dump(Json{{"kind", "progress"}, {"percent", percent}});
}

std::string unitSummaryJson(const UnitOutcome& o) {
    Json j;
    j["kind"] = "unit";
    j["n"] = o.n;
    j["result"] = o.passed ? "pass" : "fail";
    j["seconds"] = std::round(o.seconds * 1000) / 1000;
    j["failure"] = o.passed ? Json(nullptr) : Json(o.failure);
    j["record"] = o.recordId;
    if (o.remaining) j["remaining"] = *o.remaining;
    if (o.socketInsertions) j["socket_insertions"] = *o.socketInsertions;
    return dump(j);
}

std::string totalJson(const LoopResult& r) {
    Json j;
    j["kind"] = "total";
    j["units"] = r.total();
    j["passed"] = r.passed;
    j["failed"] = r.failed;
    j["yield"] = std::round(records::Counters{r.passed, r.failed}.yield() * 10) / 10;
    return dump(j);
}

std::string noteObject(std::string_view kind, std::string_view text) {
    return dump(Json{{"kind", kind}, {"text", text}});
}

std::string resultObject(bool ok, int exit, std::string_view message) {
    return dump(Json{{"kind", "result"}, {"ok", ok}, {"exit", exit}, {"message", message}});
}

std::optional<UnitOutcome> unitOutcomeFromJson(std::string_view line) {
    const auto read = readWorkerLine(line);
    if (!read || read->kind != WorkerKind::Unit) return std::nullopt;
    return read->unit;
}

std::optional<WorkerLine> readWorkerLine(std::string_view line) {
    const auto j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) return std::nullopt;
    const auto kind = j.find("kind");
    if (kind == j.end() || !kind->is_string()) return std::nullopt;
    WorkerLine w;
    w.kindName = kind->get<std::string>();
    for (const auto& row : kKindNames)
        if (row.name == w.kindName) w.kind = row.kind;
    switch (w.kind) {
        case WorkerKind::Unit: {
            const auto n = j.find("n");
            const std::string result = stringOf(j, "result");
            if (n == j.end() || !n->is_number_integer() || (result != "pass" && result != "fail"))
                return std::nullopt;
            w.unit.n = n->get<long long>();
            w.unit.passed = result == "pass";
            if (const auto s = j.find("seconds"); s != j.end() && s->is_number())
                w.unit.seconds = s->get<double>();
            w.unit.failure = stringOf(j, "failure");
            w.unit.recordId = stringOf(j, "record");
            if (const auto r = j.find("remaining"); r != j.end() && r->is_number_integer())
                w.unit.remaining = r->get<long long>();
            if (const auto c = j.find("socket_insertions"); c != j.end() && c->is_number_integer())
                w.unit.socketInsertions = c->get<long long>();
            break;
        }
        case WorkerKind::Total:
            w.total.passed = integerOf(j, "passed");
            w.total.failed = integerOf(j, "failed");
            break;
        case WorkerKind::Progress:
            if (const auto p = j.find("percent"); p != j.end() && p->is_number_integer())
                w.percent = static_cast<int>(std::clamp(p->get<long long>(), 0LL, 100LL));
            break;
        case WorkerKind::Result:
            if (const auto ok = j.find("ok"); ok != j.end() && ok->is_boolean()) w.ok = *ok;
            w.exit = static_cast<int>(integerOf(j, "exit"));
            w.text = stringOf(j, "message");
            break;
        case WorkerKind::Line:
            w.mark = stringOf(j, "mark");
            w.text = stringOf(j, "text");
            break;
        case WorkerKind::Status:
        case WorkerKind::Error:
        case WorkerKind::OtherNote:
            w.text = stringOf(j, "text");
            break;
    }
    return w;
}

}  // namespace sonoprog::production

#include "cli/LineServer.h"

#include <httplib.h>

#include <cmath>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

#include "cli/web/LinePageAssets.h"
#include "production/UnitRunner.h"
#include "records/PostgresRecordStore.h"
#include "records/RecordFormat.h"

namespace sonoprog::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kDefaultUnits = 50;
constexpr int kMaxUnits = 1000;

// The page's own files may load only from the page; nothing from outside.
constexpr const char* kContentPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'none'";

std::string dump(const Json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Json yieldJson(const records::Counters& c) {
    if (c.total() == 0) return nullptr;
    return std::round(c.yield() * 10) / 10;
}

// "2026-12-08T10" as a time a browser reads.
std::string hourTime(const std::string& hour) {
    return hour + ":00:00Z";
}

Json reasonsJson(const std::vector<records::ReasonCount>& list) {
    Json out = Json::array();
    for (const auto& r : list) out.push_back({{"reason", r.reason}, {"count", r.count}});
    return out;
}

Json lineJson(const records::LineView& view, const std::string& location) {
    Json j;
    j["kind"] = "line";
    j["generated"] = view.generated;
    j["records"] = location;
    j["hours"] = Json::array();
    for (const auto& h : view.hours) j["hours"].push_back(hourTime(h));
    Json stations = Json::array();
    for (const auto& s : view.stations) {
        Json o;
        o["station"] = s.station;
        o["job_name"] = s.jobName;
        o["job_sha256"] = s.jobSha256;
        o["units"] = s.counters.total();
        o["pass"] = s.counters.passed;
        o["fail"] = s.counters.failed;
        o["yield"] = yieldJson(s.counters);
        o["last_unit"] = s.lastUnit.empty() ? Json(nullptr) : Json(s.lastUnit);
        o["units_last_hour"] = s.unitsThisHour;
        o["job_open"] = s.jobOpen;
        o["amber"] = s.silent;
        o["hourly"] = s.hourly;
        o["failures"] = reasonsJson(s.failures);
        stations.push_back(std::move(o));
    }
    j["stations"] = std::move(stations);
    j["failures"] = reasonsJson(view.failures);
    Json hourly = Json::array();
    for (const auto& h : view.hourly)
        hourly.push_back({{"hour", hourTime(h.hour)},
                          {"units", h.counters.total()},
                          {"pass", h.counters.passed},
                          {"fail", h.counters.failed}});
    j["hourly"] = std::move(hourly);
    Json jobs = Json::array();
    for (const auto& job : view.jobs)
        jobs.push_back({{"job_name", job.jobName},
                        {"job_sha256", job.jobSha256},
                        {"units", job.counters.total()},
                        {"pass", job.counters.passed},
                        {"fail", job.counters.failed},
                        {"yield", yieldJson(job.counters)},
                        {"reset_time", job.resetTime}});
    j["jobs"] = std::move(jobs);
    return j;
}

// A path that climbs (.., also when escaped) is refused before it is looked up.
bool climbs(const httplib::Request& req) {
    return req.path.find("..") != std::string::npos || req.target.find("..") != std::string::npos ||
           req.target.find("%2e") != std::string::npos ||
           req.target.find("%2E") != std::string::npos;
}

void answerError(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(dump(Json{{"kind", "error"}, {"text", text}}) + "\n", "application/json");
}

}  // namespace

std::optional<ListenAddress> parseListenAddress(const std::string& text) {
    ListenAddress out;
    std::size_t colon;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        out.host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos) return std::nullopt;
        out.host = text.substr(0, colon);
        if (out.host.find(':') != std::string::npos) return std::nullopt;
    }
    const std::string port = text.substr(colon + 1);
    if (out.host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    out.port = std::stoi(port);
    if (out.port > 65535) return std::nullopt;
    return out;
}

std::string locationForDisplay(const std::string& location) {
    return records::addressForDisplay(location);
}

struct LineServer::Impl {
    std::unique_ptr<records::LineQueries> queries;
    std::function<std::string()> now;
    std::mutex mutex;  // one database connection for every request
    httplib::Server server;

    void answer(const httplib::Request& req, httplib::Response& res) {
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Content-Security-Policy", kContentPolicy);
        res.set_header("Referrer-Policy", "no-referrer");
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            answerError(res, 405, "only GET and HEAD are answered");
            return;
        }
        if (climbs(req)) {
            answerError(res, 404, "no such page");
            return;
        }
        if (req.path == "/api/line") return apiLine(req, res);
        if (req.path == "/api/units") return apiUnits(req, res);
        for (const auto& asset : web::kAssets) {
            if (req.path != asset.route) continue;
            res.set_header("Cache-Control", "no-cache");
            res.set_content(reinterpret_cast<const char*>(asset.data), asset.size,
                            std::string(asset.type) + "; charset=utf-8");
            return;
        }
        answerError(res, 404, "no such page");
    }

    void apiLine(const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        std::optional<std::string> since;
        if (req.has_param("since")) {
            since = records::normaliseUtcTime(req.get_param_value("since"));
            if (!since)
                return answerError(res, 400,
                                   "since: expected an ISO 8601 time such as 2026-12-08T10:00Z");
        }
        std::lock_guard lock(mutex);
        const auto view = queries->line(now(), since, production::failMessage);
        if (!view)
            return answerError(res, 500, "the records cannot be read: " + queries->lastError());
        res.set_content(dump(lineJson(*view, locationForDisplay(queries->location()))) + "\n",
                        "application/json");
    }

    void apiUnits(const httplib::Request& req, httplib::Response& res) {
        res.set_header("Cache-Control", "no-store");
        int limit = kDefaultUnits;
        if (req.has_param("limit")) {
            const std::string text = req.get_param_value("limit");
            if (text.empty() || text.size() > 4 ||
                text.find_first_not_of("0123456789") != std::string::npos ||
                (limit = std::stoi(text)) < 1 || limit > kMaxUnits)
                return answerError(res, 400,
                                   "limit: a number from 1 to " + std::to_string(kMaxUnits));
        }
        std::vector<records::UnitRecord> units;
        std::lock_guard lock(mutex);
        if (!queries->lastUnits(limit, units))
            return answerError(res, 500, "the records cannot be read: " + queries->lastError());
        std::string body = "[";
        for (const auto& r : units) {
            if (body.size() > 1) body += ",\n";
            body += records::recordJsonLine(r);
        }
        res.set_content(body + "]\n", "application/json");
    }
};

LineServer::LineServer(std::unique_ptr<records::LineQueries> queries,
                       std::function<std::string()> now)
    : impl_(std::make_unique<Impl>()) {
    impl_->queries = std::move(queries);
    impl_->now = std::move(now);
    // Every request is answered here, before the library's own routing: no
    // path reaches a handler or a folder the page did not name.
    impl_->server.set_pre_routing_handler(
        [this](const httplib::Request& req, httplib::Response& res) {
            impl_->answer(req, res);
            return httplib::Server::HandlerResponse::Handled;
        });
    impl_->server.set_payload_max_length(64 * 1024);
}

LineServer::~LineServer() = default;

int LineServer::bind(const ListenAddress& address) {
    if (address.port == 0) return impl_->server.bind_to_any_port(address.host);
    return impl_->server.bind_to_port(address.host, address.port) ? address.port : -1;
}

void LineServer::run() {
    impl_->server.listen_after_bind();
}

void LineServer::stop() {
    impl_->server.stop();
}

}  // namespace sonoprog::cli

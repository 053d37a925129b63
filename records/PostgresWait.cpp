#include "records/PostgresWait.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <string_view>

#include "records/DatabaseAddress.h"

namespace sonoprog::records::pgwait {

namespace {

// Asked of the server's connection at every (re)connect, before the
// address's own settings (which win). TCP keepalives and a user time-out
// notice a network that went away without a reset; a stopped server, whose
// host still answers for it, is caught by the waits below.
constexpr const char* kConnectionKeys[] = {"keepalives",          "keepalives_idle",
                                           "keepalives_interval", "keepalives_count",
                                           "tcp_user_timeout",    "dbname"};
constexpr const char* kConnectionValues[] = {"1", "5", "2", "2", "10000"};
constexpr std::size_t kKeys = std::size(kConnectionKeys);
static_assert(std::size(kConnectionValues) + 1 == kKeys, "the address comes last");
constexpr milliseconds kConnectLimit{5000};

std::string seconds(milliseconds limit) {
    return std::to_string((limit.count() + 999) / 1000) + " s";
}

}  // namespace

std::string trimmedMessage(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

Wait waitFor(int fd, short events, Clock::time_point deadline, const GiveUp& giveUp) {
    if (fd < 0) return Wait::Failed;
    for (;;) {
        if (giveUp && giveUp()) return Wait::GivenUp;
        const auto now = Clock::now();
        if (now >= deadline) return Wait::Quiet;
        // In slices, so that giving up is noticed at once.
        const auto slice = std::min<Clock::duration>(deadline - now, milliseconds(100));
        pollfd p{fd, events, 0};
        const int ready =
            ::poll(&p, 1, static_cast<int>(std::chrono::ceil<milliseconds>(slice).count()));
        if (ready > 0) return Wait::Ready;
        if (ready < 0 && errno != EINTR) return Wait::Failed;
    }
}

std::string waitProblem(Wait wait, milliseconds limit) {
    if (wait == Wait::Quiet) return "the records database did not answer within " + seconds(limit);
    if (wait == Wait::GivenUp) return "the wait for the records database was given up";
    return "the connection to the records database failed";
}

PGconn* connect(const std::string& address, const GiveUp& giveUp, std::string& error) {
    const char* keys[kKeys + 1] = {};
    const char* values[kKeys + 1] = {};
    for (std::size_t i = 0; i < kKeys; ++i) {
        keys[i] = kConnectionKeys[i];
        values[i] = i + 1 < kKeys ? kConnectionValues[i] : address.c_str();
    }
    PGconn* conn = PQconnectStartParams(keys, values, 1);
    if (!conn) {
        error = "out of memory";
        return nullptr;
    }
    // The set-up's "already exists, skipping" notices are no news to an
    // operator; the server's errors come back as results anyway.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    const auto deadline = Clock::now() + kConnectLimit;
    PostgresPollingStatusType status =
        PQstatus(conn) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
    while (status != PGRES_POLLING_OK) {
        if (status == PGRES_POLLING_FAILED) {
            error = hideSecrets(trimmedMessage(PQerrorMessage(conn)), address);
            PQfinish(conn);
            return nullptr;
        }
        const Wait wait = waitFor(
            PQsocket(conn), status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, giveUp);
        if (wait != Wait::Ready) {
            error = waitProblem(wait, kConnectLimit);
            PQfinish(conn);
            return nullptr;
        }
        status = PQconnectPoll(conn);
    }
    // Sending too must never block on a server that stopped reading.
    PQsetnonblocking(conn, 1);
    return conn;
}

PGresult* exchange(PGconn* conn, const std::string& sql, const std::vector<const char*>* params,
                   milliseconds limit, const GiveUp& giveUp, std::string& error, Wait& wait) {
    wait = Wait::Ready;
    const int sent = params ? PQsendQueryParams(conn, sql.c_str(), static_cast<int>(params->size()),
                                                nullptr, params->data(), nullptr, nullptr, 0)
                            : PQsendQuery(conn, sql.c_str());
    if (!sent) {
        error = trimmedMessage(PQerrorMessage(conn));
        wait = Wait::Failed;
        return nullptr;
    }
    auto deadline = Clock::now() + limit;
    for (int flushed; (flushed = PQflush(conn)) != 0;) {
        if (flushed > 0) wait = waitFor(PQsocket(conn), POLLIN | POLLOUT, deadline, giveUp);
        if (flushed < 0 || (wait == Wait::Ready && !PQconsumeInput(conn))) wait = Wait::Failed;
        if (wait != Wait::Ready) {
            error = wait == Wait::Failed ? trimmedMessage(PQerrorMessage(conn))
                                         : waitProblem(wait, limit);
            return nullptr;
        }
    }
    PGresult* kept = nullptr;
    bool refused = false;
    for (;;) {
        deadline = Clock::now() + limit;
        while (PQisBusy(conn)) {
            wait = waitFor(PQsocket(conn), POLLIN, deadline, giveUp);
            if (wait == Wait::Ready && !PQconsumeInput(conn)) wait = Wait::Failed;
            if (wait != Wait::Ready) {
                error = wait == Wait::Failed ? trimmedMessage(PQerrorMessage(conn))
                                             : waitProblem(wait, limit);
                PQclear(kept);
                return nullptr;
            }
            // Rows coming in slowly are an answer: the limit is on silence.
            deadline = Clock::now() + limit;
        }
        PGresult* res = PQgetResult(conn);
        if (!res) break;
        const auto status = PQresultStatus(res);
        const bool bad = status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK;
        if (refused) {
            PQclear(res);
        } else {
            PQclear(kept);
            kept = res;
            refused = bad;
        }
    }
    if (!kept) error = trimmedMessage(PQerrorMessage(conn));
    return kept;
}

}  // namespace sonoprog::records::pgwait

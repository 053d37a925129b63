#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace sonoprog::records::pgwait {

// A PostgreSQL server that is stopped, or cut off by a network that sends no
// reset, still takes a connection and a statement and never answers, which
// no keepalive notices. So no wait on it here lasts for ever: each is bounded
// by a time without a word from the server, and by the caller's `giveUp`.
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
// Asked while waiting on the server: true ends the wait (as a failure).
using GiveUp = std::function<bool()>;

enum class Wait { Ready, Quiet, GivenUp, Failed };

// Until the socket is ready for `events`, the deadline passes or the caller gives up.
Wait waitFor(int fd, short events, Clock::time_point deadline, const GiveUp& giveUp);
// Why a wait that was not Ready ended, for a message.
std::string waitProblem(Wait wait, milliseconds limit);
// The client library's message without its closing line break.
std::string trimmedMessage(const char* message);

// A connection (5 s at most, with TCP keepalives and a user time-out), made
// non-blocking for the exchanges; nullptr with `error` set, the address's
// password hidden in it.
pg_conn* connect(const std::string& address, const GiveUp& giveUp, std::string& error);

// Sends one statement (a script of several without `params`) and collects
// its results: the first that failed, else the last. nullptr with `error`
// set when the connection is of no further use: it broke (`wait` Failed),
// the server fell quiet for `limit` or the caller gave up.
pg_result* exchange(pg_conn* conn, const std::string& sql, const std::vector<const char*>* params,
                    milliseconds limit, const GiveUp& giveUp, std::string& error, Wait& wait);

}  // namespace sonoprog::records::pgwait

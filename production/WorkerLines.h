#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "production/ProductionLoop.h"

namespace sonoprog::production {

// The objects a worker (`sonoprog-cli --json ... produce`) prints, one per
// line, and what its front end (a gang, a tile) reads back from them:
//   {"kind":"line","mark":"pass","text":"Passed!"}      an operation's log line
//   {"kind":"progress","percent":37}                     its gauge
//   {"kind":"unit","n":1,"result":"pass",...}            a unit done and recorded
//   {"kind":"total","units":2,"passed":1,...}            the run's totals
//   {"kind":"status","text":"Writer Disconnect"}         notes on standard error:
//   {"kind":"error","text":"..."}                          status, error, warning, ...
//   {"kind":"result","ok":false,"exit":1,"message":"..."} the closing object
// Every text may hold any bytes; an object is always one line.
enum class WorkerKind { Line, Progress, Unit, Total, Status, Error, Result, OtherNote };

struct WorkerLine {
    WorkerKind kind = WorkerKind::OtherNote;
    std::string kindName;  // as written: "warning", "hint", ... for OtherNote
    std::string text;      // line, notes; the message of a result
    std::string mark;      // line
    int percent = -1;      // progress, 0..100; -1 when it gave none
    UnitOutcome unit;      // unit
    LoopResult total;      // total
    bool ok = false;       // result
    int exit = 0;          // result
};

// ---- writing ----
std::string lineObject(std::string_view mark, std::string_view text);
std::string progressObject(int percent);
std::string unitSummaryJson(const UnitOutcome& outcome);
std::string totalJson(const LoopResult& result);
// status, error, warning, notice, hint: {"kind":KIND,"text":TEXT}
std::string noteObject(std::string_view kind, std::string_view text);
std::string resultObject(bool ok, int exit, std::string_view message);

// ---- reading ----
// The object on one line; nullopt for anything else (not JSON, no kind, a
// unit or total without its numbers): a crash report, say, is passed over.
std::optional<WorkerLine> readWorkerLine(std::string_view line);
// A unit's object read back into its outcome (nullopt for any other line).
std::optional<UnitOutcome> unitOutcomeFromJson(std::string_view line);

}  // namespace sonoprog::production

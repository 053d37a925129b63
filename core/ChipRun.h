#pragma once

#include <string_view>

#include "core/OperationFrame.h"
#include "core/OperationServices.h"

namespace sonoprog::core {

// One chip operation as a list of steps, the shape every chip's operations
// share. The operation is written as the steps it takes, one call each:
//
//     run.openFile();
//     run.detect();
//     run.writeChip();
//     run.disable();
//     return run.end();
//
// A step that may only follow success starts with begin(), which skips it
// once an earlier step has failed; a closing step (the chip's end command,
// the result line) runs whatever happened. end() closes what the run holds
// before the frame unlocks the tab.
class ChipRun {
public:
    ChipRun(const OperationServices& services, std::string_view heading,
            TimeLines timeLines = TimeLines::No);
    virtual ~ChipRun() = default;
    ChipRun(const ChipRun&) = delete;
    ChipRun& operator=(const ChipRun&) = delete;

    bool ok() const { return frame_.ok(); }

    // The operation's result: true when no step failed. Runs release() and
    // then the frame's end, once.
    bool end();

protected:
    // The start of a step that needs the steps before it to have passed:
    // false (the step is skipped) once one failed; otherwise the step line,
    // when there is one, and true.
    bool begin(std::string_view stepText = {});

    // The files and buffers the run holds, closed before the tab unlocks.
    virtual void release() {}

    const OperationServices& s_;
    OperationFrame frame_;

private:
    bool ended_ = false;
    bool result_ = false;
};

}  // namespace sonoprog::core

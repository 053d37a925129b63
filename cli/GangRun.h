#pragma once

#include "production/WriterGang.h"

namespace sonoprog::cli {

class Session;

// The Writers list and the worker's command line are the gang model's.
using production::GangMember;
using production::gangMembers;

// `produce JOB.json --writers ...`: one worker process per Writer, their
// output merged, the totals over all of them and per Writer. Returns the exit
// status: 1 when a unit failed or a worker ended without its total.
int runGang(Session& s);

}  // namespace sonoprog::cli

#pragma once

#include "core/AppPaths.h"
#include "core/Clock.h"
#include "core/OperationLog.h"
#include "core/Prompter.h"
#include "core/StopCheck.h"
#include "core/TabLock.h"
#include "core/WriterLink.h"
#include "core/YieldHook.h"

namespace sonoprog::core {

class ImageSnapshot;

// Everything a chip's operations report through and reach the Writer with,
// handed over by the front end (a window tab, the command line, a test). The
// operations make none of these themselves.
struct OperationServices {
    OperationLog& log;  // the tab's pane and gauge behind the shared log helpers
    TabLock& lock;      // the tab's control list (LockTarnTab, LockNORTab, ...)
    YieldHook& yield;   // the window's message pass inside long loops
    Prompter& prompter;
    Clock& clock;
    const AppPaths& paths;  // Setup.ini and Temp
    // The Writer. Loading a file never needs it, so a front end that has not
    // opened a Writer (the command line before the image has loaded) leaves it
    // null; the chip operations must not run then.
    WriterLink* link = nullptr;
    // The operator's Stop (the page's button and Esc, Ctrl+C on the command
    // line); null where nothing can stop the work.
    StopCheck* stop = nullptr;
    // The image as a run read it once: when set, write and verify read these
    // bytes instead of the file of the same path, which may have changed since.
    const ImageSnapshot* image = nullptr;
};

}  // namespace sonoprog::core

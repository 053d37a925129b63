#include "core/OperationFrame.h"
#include "core/TabLock.h"

namespace sonoprog::core {

OperationFrame::OperationFrame(OperationLog& log, TabLock& lock, Clock& clock,
                               std::string_view heading, TimeLines timeLines)
    : log_(log), lock_(lock), clock_(clock), timeLines_(timeLines) {
    lock_.lock();
    log_.clear();
    log_.heading(heading);
    if (timeLines_ == TimeLines::Yes) log_.time("Start: ", clock_.localNow());
}

OperationFrame::~OperationFrame() {
    finish();
}

void OperationFrame::fail(std::string_view message) {
    log_.fail(message);
    ok_ = false;
}

void OperationFrame::finish() {
    if (finished_) return;
    finished_ = true;
    if (timeLines_ == TimeLines::Yes) log_.time("End: ", clock_.localNow());
    lock_.unlock();
}

}  // namespace sonoprog::core

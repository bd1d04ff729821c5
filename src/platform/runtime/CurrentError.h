#pragma once
// The current error: the record of the run-time error being handled, one per
// thread.  withFailurePath() is the failure path of a procedure: it runs the
// body, and on a run-time error fills the current error, runs the handler,
// and clears the error again once the handler has returned.

#include "RuntimeError.h"

#include <QString>

#include <cstdint>
#include <new>

namespace rt {

struct ErrorRecord {
    std::int32_t number = 0;
    QString description;
};

// The calling thread's current error (number 0 when none is being handled).
const ErrorRecord& currentError();
void setCurrentError(std::int32_t number, const QString& description);
void clearCurrentError();

// Runs body(); a RuntimeError (or an exhausted allocation, error 7) raised in
// it becomes the current error while onFailure() runs.  Returns true when the
// body completed.  A failure inside onFailure() itself is not caught: it
// reaches the caller, as the handler of a handler would let it.
template <typename Body, typename OnFailure>
bool withFailurePath(Body&& body, OnFailure&& onFailure) {
    try {
        body();
        return true;
    } catch (const RuntimeError& e) {
        setCurrentError(e.number(), e.description());
    } catch (const std::bad_alloc&) {
        setCurrentError(err::OutOfMemory, standardDescription(err::OutOfMemory));
    }
    onFailure();
    clearCurrentError();
    return false;
}

} // namespace rt

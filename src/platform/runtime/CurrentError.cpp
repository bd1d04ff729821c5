#include "CurrentError.h"

namespace rt {

namespace {
thread_local ErrorRecord tCurrent;
}

const ErrorRecord& currentError() { return tCurrent; }

void setCurrentError(std::int32_t number, const QString& description) {
    tCurrent.number = number;
    tCurrent.description = description;
}

void clearCurrentError() { tCurrent = ErrorRecord{}; }

} // namespace rt

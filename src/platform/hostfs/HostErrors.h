#pragma once
// Host errors as run-time errors: an errno value of a host call, together
// with what the call was doing and the host path it worked on, becomes the
// run-time error with the classic number and text.

#include "platform/runtime/RuntimeError.h"

#include <QByteArray>
#include <cstdint>

namespace hostfs {

// What the failed call was doing; it decides between "permission denied"
// (writing) and "path/file access error" (everything else) for a refusal.
enum class Action { Read, Write, Remove };

// The run-time number for errnoValue.  ENOENT is "file not found" when the
// folder of hostPath exists and "path not found" when it does not.
std::int32_t runtimeNumberFor(int errnoValue, Action action, const QByteArray& hostPath);

[[noreturn]] void raiseHostError(int errnoValue, Action action, const QByteArray& hostPath);

// Whether hostPath names an existing folder (following symbolic links).
bool hostFolderExists(const QByteArray& hostPath);
// The host folder that holds hostPath ("." for a bare name).
QByteArray hostParentOf(const QByteArray& hostPath);

} // namespace hostfs

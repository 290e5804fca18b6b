#pragma once

#include <QString>

// Where the platform layer's notable events go. The platform sits below the run log (core), so
// it cannot write to it directly: the run log installs its writer here when its code is part
// of the program. Until one is installed, lines go to Qt's warning output.
namespace KRLogSink {

// Writes one line: the message, the calling function (as Q_FUNC_INFO gives it) and the
// source line. Must be safe to call from any thread.
using Writer = void (*)(const QString &message, const char *function, int line);

// Installs the writer for every later line; null restores the warning output.
void install(Writer writer);
void write(const QString &message, const char *function, int line);

} // namespace KRLogSink

#define KR_PLATFORM_LOG(message) KRLogSink::write((message), static_cast<const char *>(Q_FUNC_INFO), __LINE__)

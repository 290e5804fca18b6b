#pragma once

// Programming errors end the process with the source file and line: a broken protocol must
// not go on to corrupt a user's project.

[[noreturn]] void krAssertFailed(const char *condition, const char *message, const char *file,
                                 int line, const char *function);

#define KR_ASSERT(cond, message) \
    ((cond) ? static_cast<void>(0) \
            : krAssertFailed(#cond, message, __FILE__, __LINE__, static_cast<const char *>(__func__)))

#define KR_FATAL(message) krAssertFailed(nullptr, message, __FILE__, __LINE__, static_cast<const char *>(__func__))

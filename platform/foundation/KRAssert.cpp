#include "KRAssert.h"

#include <cstdio>
#include <cstdlib>

void krAssertFailed(const char *condition, const char *message, const char *file, int line,
                    const char *function)
{
    if (condition)
        std::fprintf(stderr, "Korvane: assertion \"%s\" failed: %s (%s:%d, %s)\n", condition,
                     message ? message : "", file, line, function);
    else
        std::fprintf(stderr, "Korvane: fatal error: %s (%s:%d, %s)\n", message ? message : "",
                     file, line, function);
    std::fflush(stderr);
    std::abort();
}

#include <core/KRChildProcess.h>

#include <QProcess>

#include <cstdint>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// close_range(2)'s flags (linux/close_range.h): work on a private copy of the descriptor table,
// and mark instead of close (Linux 5.11).
constexpr unsigned closeRangeUnshare = 1U << 1;
constexpr unsigned closeRangeCloseOnExec = 1U << 2;
// Where neither close_range nor /proc can be had, the descriptors looked at one by one: at most
// this many.
constexpr long descriptorLoopBound = 65536;

void markCloseOnExec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFD);
    if (flags >= 0 && !(flags & FD_CLOEXEC))
        ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// Marks the descriptors above standard error listed in /proc/self/fd, read with raw system
// calls; false when the folder cannot be read.
bool markListedDescriptors()
{
    const int folder = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return false;
    alignas(8) char buffer[4096];
    for (;;) {
        const long length = ::syscall(SYS_getdents64, folder, buffer, sizeof buffer);
        if (length <= 0) {
            ::close(folder);
            return length == 0;
        }
        for (long offset = 0; offset < length;) {
            // struct linux_dirent64: inode (8 bytes), offset (8), record length (2), type (1), name.
            unsigned short recordLength;
            __builtin_memcpy(&recordLength, buffer + offset + 16, sizeof recordLength);
            const char *name = buffer + offset + 19;
            offset += recordLength;
            long fd = 0;
            bool number = *name != '\0';
            for (const char *c = name; *c && number; ++c) {
                number = *c >= '0' && *c <= '9' && fd < (1L << 30);
                fd = fd * 10 + (*c - '0');
            }
            if (number && fd > STDERR_FILENO && fd != folder)
                markCloseOnExec(static_cast<int>(fd));
        }
    }
}

} // namespace

void KRChildProcess::closeDescriptorsOnExec() noexcept
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, STDERR_FILENO + 1U, ~0U, closeRangeUnshare | closeRangeCloseOnExec) == 0)
        return;
#endif
    if (!markListedDescriptors()) {
        rlimit limit{};
        long last = descriptorLoopBound;
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
            && static_cast<long>(limit.rlim_cur) < last)
            last = static_cast<long>(limit.rlim_cur);
        for (long fd = STDERR_FILENO + 1; fd < last; ++fd)
            markCloseOnExec(static_cast<int>(fd));
    }
}

void KRChildProcess::setChildProcessModifier(QProcess &process, std::function<void()> modifier)
{
    process.setChildProcessModifier([modifier = std::move(modifier)] {
        if (modifier)
            modifier();
        closeDescriptorsOnExec();
    });
}

#include "KRCrashReporter.h"

#include <platform/foundation/KRPaths.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSysInfo>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <typeinfo>

#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/utsname.h>
#include <ucontext.h>
#include <unistd.h>

namespace {

// Everything the handler touches is prepared beforehand in these fixed buffers.
constexpr int KRCrashReporterSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr std::size_t KRCrashReporterStackSize = 128 * 1024;

std::atomic<int> crashReporterFd{-1};
std::atomic<bool> crashReporterInHandler{false};
std::atomic<bool> crashReporterInstalled{false};
char crashReporterHeader[4096];
char crashReporterTemporaryPath[4096];
char crashReporterPendingPath[4096];
char crashReporterException[1024];
thread_local void *crashReporterAlternateStack = nullptr; // reachable for leak checkers

void crashWrite(int fd, const char *text, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void crashWrite(int fd, const char *text)
{
    crashWrite(fd, text, std::strlen(text));
}

void crashWriteNumber(int fd, unsigned long long value, unsigned base)
{
    char digits[32];
    int n = 0;
    do {
        const unsigned digit = static_cast<unsigned>(value % base);
        digits[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value != 0 && n < 32);
    if (base == 16)
        crashWrite(fd, "0x");
    while (n > 0)
        crashWrite(fd, &digits[--n], 1);
}

const char *crashSignalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    case SIGTRAP: return "SIGTRAP";
    case SIGSYS: return "SIGSYS";
    default: return "SIGNAL";
    }
}

void crashReraise(int signal)
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
    // The signal stays blocked until the handler returns; it is then delivered again with the
    // default action (a fault that returns re-executes the faulting instruction as well).
    ::raise(signal);
}

void crashHandler(int signal, siginfo_t *info, void *context)
{
    if (crashReporterInHandler.exchange(true)) {
        crashReraise(signal);
        return;
    }
    const int fd = crashReporterFd.load();
    if (fd >= 0) {
        crashWrite(fd, crashReporterHeader);
        crashWrite(fd, "Signal: ");
        crashWriteNumber(fd, static_cast<unsigned>(signal), 10);
        crashWrite(fd, " ");
        crashWrite(fd, crashSignalName(signal));
        crashWrite(fd, "\nCode: ");
        crashWriteNumber(fd, static_cast<unsigned>(info ? info->si_code : 0), 10);
        crashWrite(fd, "\nAddress: ");
        crashWriteNumber(fd, reinterpret_cast<unsigned long long>(info ? info->si_addr : nullptr), 16);
        crashWrite(fd, "\nThread: ");
        crashWriteNumber(fd, static_cast<unsigned long long>(::syscall(SYS_gettid)), 10);
#if defined(__x86_64__)
        if (context) {
            const auto *uc = static_cast<const ucontext_t *>(context);
            crashWrite(fd, "\nInstruction: ");
            crashWriteNumber(fd, static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RIP]), 16);
            crashWrite(fd, "\nStack pointer: ");
            crashWriteNumber(fd, static_cast<unsigned long long>(uc->uc_mcontext.gregs[REG_RSP]), 16);
        }
#else
        (void)context;
#endif
        if (crashReporterException[0]) {
            crashWrite(fd, "\nException: ");
            crashWrite(fd, crashReporterException);
        }
        crashWrite(fd, "\nBacktrace:\n");
        void *frames[64];
        const int count = ::backtrace(frames, 64);
        ::backtrace_symbols_fd(frames, count, fd);
        crashWrite(fd, "Maps:\n");
        const int maps = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
        if (maps >= 0) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(maps, buffer, sizeof buffer)) > 0)
                crashWrite(fd, buffer, static_cast<std::size_t>(n));
            ::close(maps);
        }
        crashWrite(fd, "End\n");
        ::fsync(fd);
        ::rename(crashReporterTemporaryPath, crashReporterPendingPath);
    }
    crashReraise(signal);
}

void crashTerminate()
{
    // Normal context: formatting may allocate here, the signal handler only copies the text.
    const char *typeName = "unknown";
    char *demangled = nullptr;
    if (const std::type_info *type = abi::__cxa_current_exception_type()) {
        int status = 0;
        demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
        typeName = demangled && status == 0 ? demangled : type->name();
    }
    QByteArray text = QByteArray("uncaught exception of type ") + typeName;
    std::free(demangled);
    if (std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &e) {
            text += QByteArray(": ") + e.what();
        } catch (...) {
        }
    }
    text.replace('\n', ' ');
    std::strncpy(crashReporterException, text.constData(), sizeof crashReporterException - 1);
    std::abort();
}

bool copyPath(char *target, std::size_t size, const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (static_cast<std::size_t>(bytes.size()) >= size)
        return false;
    std::memcpy(target, bytes.constData(), static_cast<std::size_t>(bytes.size()) + 1);
    return true;
}

} // namespace

KRCrashReporter &KRCrashReporter::sharedReporter()
{
    static KRCrashReporter reporter(KRPaths::applicationSupportDirectory() + QStringLiteral("/CrashReports"));
    return reporter;
}

KRCrashReporter::KRCrashReporter(const QString &reportDirectory)
    : m_directory(QDir::cleanPath(reportDirectory))
{
}

QString KRCrashReporter::pendingReportPath() const
{
    return m_directory + QStringLiteral("/pending.krcrash");
}

bool KRCrashReporter::hasPendingCrashReport() const
{
    return QFileInfo(pendingReportPath()).isFile();
}

std::optional<QByteArray> KRCrashReporter::loadPendingCrashReportData(QString *error) const
{
    QFile file(pendingReportPath());
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return file.readAll();
}

bool KRCrashReporter::purgePendingCrashReport()
{
    QFile::remove(pendingReportPath());
    return !hasPendingCrashReport();
}

bool KRCrashReporter::isEnabled() const
{
    if (!crashReporterInstalled.load() || std::strcmp(crashReporterPendingPath, QFile::encodeName(pendingReportPath()).constData()) != 0)
        return false;
    // Another library may have taken a signal over since.
    for (int signal : KRCrashReporterSignals) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || !(current.sa_flags & SA_SIGINFO) || current.sa_sigaction != crashHandler)
            return false;
    }
    return true;
}

bool KRCrashReporter::enableCrashReporter(QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QDir().mkpath(m_directory))
        return fail(QStringLiteral("Cannot create the folder %1").arg(m_directory));
    QFile::setPermissions(m_directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    char temporaryPath[sizeof crashReporterTemporaryPath];
    char pendingPath[sizeof crashReporterPendingPath];
    if (!copyPath(temporaryPath, sizeof temporaryPath, m_directory + QStringLiteral("/live.krcrash.tmp"))
        || !copyPath(pendingPath, sizeof pendingPath, pendingReportPath()))
        return fail(QStringLiteral("The crash report folder's path is too long"));
    const int fd = ::open(temporaryPath, O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return fail(QStringLiteral("Cannot create %1: %2").arg(QFile::decodeName(temporaryPath), QString::fromLocal8Bit(std::strerror(errno))));

    struct utsname system {};
    ::uname(&system);
    const QString version = QCoreApplication::instance() && !QCoreApplication::applicationVersion().isEmpty()
        ? QCoreApplication::applicationVersion() : QStringLiteral(KR_VERSION_TEXT);
    const QByteArray header = QStringLiteral("KRCRASH 1\nVersion: %1\nOS: %2 %3 %4\nExecutable: %5\nPID: %6\n")
                                  .arg(version, QString::fromLocal8Bit(system.sysname), QString::fromLocal8Bit(system.release),
                                       QString::fromLocal8Bit(system.machine), QCoreApplication::applicationFilePath())
                                  .arg(::getpid())
                                  .toUtf8()
                                  .left(sizeof crashReporterHeader - 1);

    // Swap in the new destination with the handler held off, so it never sees half of it.
    crashReporterInHandler.store(true);
    const int previous = crashReporterFd.exchange(-1);
    if (previous >= 0)
        ::close(previous);
    std::memcpy(crashReporterHeader, header.constData(), static_cast<std::size_t>(header.size()) + 1);
    std::memcpy(crashReporterTemporaryPath, temporaryPath, sizeof temporaryPath);
    std::memcpy(crashReporterPendingPath, pendingPath, sizeof pendingPath);
    crashReporterException[0] = 0;
    crashReporterFd.store(fd);
    crashReporterInHandler.store(false);

    if (!crashReporterInstalled.exchange(true)) {
        // backtrace() loads its unwinder on first use, which must not happen inside the handler.
        void *frames[4];
        ::backtrace(frames, 4);
        installAlternateStackForCurrentThread();
        std::set_terminate(crashTerminate);
    }
    // (Again when enabled again: a library may have replaced a handler meanwhile.)
    struct sigaction action {};
    action.sa_sigaction = crashHandler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signal : KRCrashReporterSignals)
        ::sigaction(signal, &action, nullptr);
    return true;
}

bool KRCrashReporter::installAlternateStackForCurrentThread()
{
    stack_t current {};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) && current.ss_size >= KRCrashReporterStackSize)
        return true;
    // Lives as long as the thread may run; a thread that ends leaves it behind, which is bounded
    // by the few long-lived threads that ask.
    stack_t stack {};
    stack.ss_sp = std::malloc(KRCrashReporterStackSize);
    if (!stack.ss_sp)
        return false;
    stack.ss_size = KRCrashReporterStackSize;
    if (::sigaltstack(&stack, nullptr) != 0) {
        std::free(stack.ss_sp);
        return false;
    }
    crashReporterAlternateStack = stack.ss_sp;
    return true;
}

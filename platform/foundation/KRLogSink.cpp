#include "KRLogSink.h"

#include <QDebug>

#include <atomic>

namespace {

// Constant-initialised, so a writer installed while static objects are being made stays.
std::atomic<KRLogSink::Writer> g_writer{nullptr};

} // namespace

void KRLogSink::install(Writer writer) { g_writer.store(writer, std::memory_order_release); }

void KRLogSink::write(const QString &message, const char *function, int line)
{
    if (const Writer writer = g_writer.load(std::memory_order_acquire)) {
        writer(message, function, line);
        return;
    }
    qWarning().noquote() << function << line << message;
}

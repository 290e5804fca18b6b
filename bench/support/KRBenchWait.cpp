// The event-loop part of the bench support, for benchmarks that do not link the model.
#include "KRBenchSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace KRBench {

bool waitUntil(const std::function<bool()> &predicate, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

} // namespace KRBench

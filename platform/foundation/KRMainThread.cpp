#include "KRMainThread.h"

#include <platform/foundation/KRAssert.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace KRMainThread {

static QThread *mainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app ? app->thread() : nullptr;
}

bool isMainThread()
{
    QThread *main = mainThread();
    return main && QThread::currentThread() == main;
}

void post(QObject *receiver, std::function<void()> fn)
{
    if (!receiver || !fn || !QCoreApplication::instance())
        return;
    KR_ASSERT(receiver->thread() == mainThread(), "KRMainThread::post needs a main-thread receiver");
    // The receiver is the call's context: Qt discards the queued call with the receiver.
    QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
}

void post(std::function<void()> fn)
{
    post(QCoreApplication::instance(), std::move(fn));
}

void postDelayed(int milliseconds, QObject *receiver, std::function<void()> fn)
{
    if (!receiver || !fn || !QCoreApplication::instance())
        return;
    if (!isMainThread()) {
        // Timers belong to the main thread's loop: start it there.
        QPointer<QObject> guard(receiver);
        post(receiver, [milliseconds, guard, fn = std::move(fn)]() mutable {
            if (guard)
                postDelayed(milliseconds, guard, std::move(fn));
        });
        return;
    }
    QTimer::singleShot(milliseconds < 0 ? 0 : milliseconds, Qt::PreciseTimer, receiver,
                       std::move(fn));
}

void postDelayed(int milliseconds, std::function<void()> fn)
{
    postDelayed(milliseconds, QCoreApplication::instance(), std::move(fn));
}

} // namespace KRMainThread

#include "NetMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

bool netIsMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void netPerformOnMainThread(std::function<void()> fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

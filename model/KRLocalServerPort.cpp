#include "KRLocalServerPort.h"

#include <platform/foundation/KRNotificationCenter.h>

#include <mutex>

namespace {
std::mutex &providerLock()
{
    static std::mutex lock;
    return lock;
}

KRLocalServerPort::Provider &providerSlot()
{
    static KRLocalServerPort::Provider provider;
    return provider;
}
} // namespace

KRLocalServerPort::Provider KRLocalServerPort::setProvider(Provider provider)
{
    std::lock_guard<std::mutex> guard(providerLock());
    std::swap(providerSlot(), provider);
    return provider;
}

qint64 KRLocalServerPort::port()
{
    Provider provider;
    {
        std::lock_guard<std::mutex> guard(providerLock());
        provider = providerSlot();
    }
    // Called outside the lock: the shared runner's query runs the event loop.
    return provider ? provider() : -1;
}

void KRLocalServerPort::serverDidStart(qint64 port)
{
    KRNotificationCenter::defaultCenter().post(KRLocalServerDidStartNotification, nullptr,
                                               {{QStringLiteral("port"), port}});
}

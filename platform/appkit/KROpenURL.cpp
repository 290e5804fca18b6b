#include "KROpenURL.h"

#include <QDesktopServices>

#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
std::shared_ptr<KROpenURLService> g_current;

} // namespace

KROpenURLService &KROpenURLService::current()
{
    static KRDesktopOpenURLService desktop;
    std::lock_guard lock(g_mutex);
    return g_current ? *g_current : desktop;
}

std::shared_ptr<KROpenURLService> KROpenURLService::setCurrent(std::shared_ptr<KROpenURLService> service)
{
    std::lock_guard lock(g_mutex);
    return std::exchange(g_current, std::move(service));
}

bool KRDesktopOpenURLService::openURL(const QUrl &url)
{
    return url.isValid() && QDesktopServices::openUrl(url);
}

bool KRRecordingOpenURLService::openURL(const QUrl &url)
{
    m_urls.append(url);
    return true;
}

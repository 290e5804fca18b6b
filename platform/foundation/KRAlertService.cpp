#include "KRAlertService.h"

#include <QtGlobal>

#include <mutex>
#include <utility>

namespace {

class KRHeadlessAlertService final : public KRAlertService
{
public:
    int runModal(const KRAlert &alert) override
    {
        qWarning("Alert without a user interface: %s %s (answered \"%s\")",
                 qUtf8Printable(alert.messageText), qUtf8Printable(alert.informativeText),
                 qUtf8Printable(alert.effectiveButtonTitles().value(0)));
        return FirstButtonReturn;
    }
};

std::mutex g_mutex;
std::shared_ptr<KRAlertService> g_current;

} // namespace

QStringList KRAlert::effectiveButtonTitles() const
{
    return buttonTitles.isEmpty() ? QStringList{QStringLiteral("OK")} : buttonTitles;
}

int KRAlert::harmlessButtonIndex() const
{
    const QStringList titles = effectiveButtonTitles();
    const int cancel = int(titles.indexOf(QStringLiteral("Cancel")));
    return cancel >= 0 ? cancel : int(titles.size()) - 1;
}

KRAlertService &KRAlertService::current()
{
    static KRHeadlessAlertService headless;
    std::lock_guard lock(g_mutex);
    return g_current ? *g_current : headless;
}

std::shared_ptr<KRAlertService> KRAlertService::setCurrent(std::shared_ptr<KRAlertService> service)
{
    std::lock_guard lock(g_mutex);
    return std::exchange(g_current, std::move(service));
}

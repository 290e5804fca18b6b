#include "KRLinkPolicy.h"

#include <QStringList>

namespace KRLinkPolicy {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return (scheme == QLatin1String("http") || scheme == QLatin1String("https")) && !url.host().isEmpty();
}

namespace {

Decision outsideOrIgnore(const QUrl &url)
{
    return isWebAddress(url) ? Decision::OpenOutside : Decision::Ignore;
}

// Addresses without a host that the view shows itself. Others (mailto:, tel:, …) would be
// passed on by the web engine to whatever program claims them.
Decision inPlaceOrIgnore(const QUrl &url)
{
    static const QStringList local = {QStringLiteral("file"), QStringLiteral("about"), QStringLiteral("data"),
                                      QStringLiteral("qrc"), QStringLiteral("blob")};
    return local.contains(url.scheme().toLower()) ? Decision::Proceed : Decision::Ignore;
}

} // namespace

Decision forHelpView(const QUrl &url, bool openURLsExternally)
{
    if (url.host().isEmpty())
        return inPlaceOrIgnore(url);
    if (!openURLsExternally)
        return Decision::Proceed;
    return outsideOrIgnore(url);
}

Decision forHTMLWindow(const QUrl &url, bool hasDelegate)
{
    if (url.scheme().compare(QLatin1String("kr"), Qt::CaseInsensitive) == 0)
        return hasDelegate && !url.host().isEmpty() ? Decision::SendToDelegate : Decision::Ignore;
    if (url.host().isEmpty())
        return inPlaceOrIgnore(url);
    return outsideOrIgnore(url);
}

} // namespace KRLinkPolicy

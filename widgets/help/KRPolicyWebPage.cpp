#include "KRPolicyWebPage.h"

#include <utility>

KRPolicyWebPage::KRPolicyWebPage(Handler handler, QObject *parent)
    : QWebEnginePage(parent)
    , m_handler(std::move(handler))
{
}

bool KRPolicyWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (type == NavigationTypeTyped || !isMainFrame || !m_handler)
        return true;
    return m_handler(url, type, isMainFrame);
}

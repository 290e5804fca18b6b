#include "KRWebPage.h"

#include <platform/foundation/KRLogSink.h>

KRWebPage::KRWebPage(QObject *parent) : QWebEnginePage(parent) {}

bool KRWebPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    Q_UNUSED(type);
    if (!isMainFrame)
        return true;
    if (m_allowNext) {
        m_allowNext = false;
        emit mainFrameNavigationAccepted();
        return true;
    }
    KR_PLATFORM_LOG(QStringLiteral("Design view refused to navigate to %1").arg(url.toDisplayString()));
    return false;
}

void KRWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                         int lineNumber, const QString &sourceID)
{
    if (level != ErrorMessageLevel)
        return;
    KR_PLATFORM_LOG(QStringLiteral("Design view script error: %1 (%2:%3)").arg(message, sourceID).arg(lineNumber));
    if (message.startsWith(QLatin1String("Uncaught")))
        emit uncaughtScriptError(message);
}

#include "KRActionSchemeHandler.h"

#include <QWebEngineProfile>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

void KRActionSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
}

void KRActionSchemeHandler::installIn(QWebEngineProfile *profile)
{
    const QByteArray scheme = QByteArrayLiteral("kr");
    if (!profile || QWebEngineUrlScheme::schemeByName(scheme).name().isEmpty() || profile->urlSchemeHandler(scheme))
        return;
    profile->installUrlSchemeHandler(scheme, new KRActionSchemeHandler(profile));
}

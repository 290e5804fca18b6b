#include "KRHelpViewController.h"

#include "KRLinkPolicy.h"
#include "KRPolicyWebPage.h"

#include <platform/appkit/KROpenURL.h>

#include <QWebEngineView>

KRHelpViewController::KRHelpViewController(QObject *parent)
    : QObject(parent)
{
    auto *view = new QWebEngineView;
    view->setObjectName(QStringLiteral("KRHelpView"));
    setWebView(view);
}

KRHelpViewController::~KRHelpViewController()
{
    // A view nobody placed is still ours.
    if (m_webView && !m_webView->parent())
        delete m_webView.data();
}

void KRHelpViewController::setWebView(QWebEngineView *webView)
{
    m_webView = webView;
    if (!webView)
        return;
    QPointer<KRHelpViewController> self(this);
    auto *page = new KRPolicyWebPage([self](const QUrl &url, QWebEnginePage::NavigationType, bool) {
        if (!self)
            return false;
        switch (KRLinkPolicy::forHelpView(url, self->m_openURLsExternally)) {
        case KRLinkPolicy::Decision::Proceed:
            return true;
        case KRLinkPolicy::Decision::OpenOutside:
            KROpenURLService::current().openURL(url);
            return false;
        case KRLinkPolicy::Decision::SendToDelegate:
        case KRLinkPolicy::Decision::Ignore:
            return false;
        }
        return false;
    }, webView);
    page->setBackgroundColor(Qt::transparent);
    webView->setPage(page);
    connect(page, &QWebEnginePage::loadFinished, this, [this] { m_openURLsExternally = true; });
}

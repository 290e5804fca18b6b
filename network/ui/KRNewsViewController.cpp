#include "KRNewsViewController.h"

#include <network/KRNewsController.h>

#include <QPushButton>
#include <QWebEngineView>

namespace {
KRNewsController *newsViewControllerNextNews = nullptr;
} // namespace

KRNewsViewController::KRNewsViewController()
    : m_news(newsViewControllerNextNews ? newsViewControllerNextNews : &KRNewsController::shared())
{
    registerInterfaces();
}

KRNewsViewController::~KRNewsViewController() = default;

void KRNewsViewController::setNewsControllerForNewViews(KRNewsController *news)
{
    newsViewControllerNextNews = news;
}

QString KRNewsViewController::pageHTML(const QList<KRNewsItem> &, qint64)
{
    return {};
}

bool KRNewsViewController::handleLink(const QUrl &)
{
    return false;
}

void KRNewsViewController::updateButton()
{
    if (m_markAllReadButton)
        m_markAllReadButton->setEnabled(m_news && m_news->unreadCount() != 0);
}

void KRNewsViewController::markAllReadAction()
{
    if (m_news)
        m_news->markAllAsRead();
    updateButton();
}

void KRNewsViewController::registerInterfaces() {}

void KRNewsViewController::awakeFromNib() {}

bool KRNewsViewController::acceptNavigation(const QUrl &)
{
    return !m_webViewDidLoad;
}

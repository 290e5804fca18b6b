#pragma once

#include <ui/KRCachingViewController.h>

#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <network/KRNewsController.h>
#include <QLabel>
#include <QPushButton>
#include <QWebEnginePage>
#include <QWebEngineView>


// The news pop-over's content: the feed's items rendered from the "news" and "news-item"
// templates in a web view, and a "Mark All Read" button. The page runs no script of its own.
// Clicked links in the page come back as kr://link?newsItemID=N&url=… (mark read, open
// outside), kr://mark?newsItemID=N and a description's web addresses (open outside); nothing
// else is followed and nothing navigates inside the view once the page has loaded.
class KRPopover;

class KRNewsViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    KRNewsViewController();
    ~KRNewsViewController() override;

    QString nibName() const override { return QStringLiteral("KRNewsView"); }

    // The controller shown (the shared one unless set before the view is loaded).
    static void setNewsControllerForNewViews(KRNewsController *news);
    KRNewsController *newsController() const { return m_news; }

    QWebEngineView *webView() const { return m_webView; }
    QPushButton *markAllReadButton() const { return m_markAllReadButton; }
    // Under the news, the address a click on the link under the pointer opens.
    QLabel *linkAddressLabel() const { return m_linkAddressLabel; }
    // The page is made away from the main thread (a feed's markup may take a while to make
    // safe); true once it is made and the view has loaded it.
    bool webViewDidLoad() const { return m_webViewDidLoad; }

    // The page for these items; without any, it says why: the news is loading, failed to load,
    // is empty, or was never asked for (and where it comes from).
    static QString pageHTML(const QList<KRNewsItem> &items,
                            KRNewsController::LoadState state = KRNewsController::LoadState::NotLoaded);
    // The address a click on a link of the page opens, as the status line shows it: ASCII
    // only (percent-encoded, host names in their ASCII form), so no text direction or
    // look-alike letter shows another address than the one opened; empty when a click on
    // the link opens nothing outside.
    static QString linkAddress(const QUrl &link);
    // A feed's description made safe to show: its text escaped and only p, br, b, i, em,
    // strong, ul, ol, li, a, h1-h6, blockquote, code, pre and span kept, without attributes
    // but an <a>'s http(s) address. Scripts, styles, frames, forms, images and their content
    // are left out; other elements give their text only.
    static QString safeHTML(const QString &html);
    // The values of one item for the "news-item" template: its title and date escaped, its
    // description made safe, its link percent-encoded whole, so that it stays one query value
    // of the page's kr:// links.
    static QVariantMap templateValues(const KRNewsItem &item, qsizetype index);
    // What a kr:// link from the page does: "link" marks the item read and opens its address
    // outside when it is a web address; "mark" marks it read. A missing or unknown item is
    // ignored. True when the address was one of these two.
    static bool followLink(const QUrl &url, KRNewsController *news);
    // followLink, then the button follows the unread count.
    bool handleLink(const QUrl &url);

    // The project window's news command: a new controller's view, 0.85 of the window's height,
    // in a transient pop-over under the news button. The pop-over owns the controller and
    // deletes itself when it closes.
    static KRPopover *showNewsPopover(QWidget *newsItemView, QWidget *window);
    // The size the news is shown at: the view's width and 0.85 of the window's height, never
    // less than a readable 300 by 250 pixels.
    static QSize popoverContentSize(QWidget *view, QWidget *window);

    void updateButton();
    void markAllReadAction();

protected:
    void awakeFromNib() override;

private:
    friend class KRNetworkInterfacesBuilder;
    bool acceptNavigation(const QUrl &url, QWebEnginePage::NavigationType type, bool isMainFrame);
    // Hides the unread marks the CSS selector finds.
    void hideUnreadMarks(const QString &selector);
    // Makes the page for the items in the background, then shows it.
    void showItems(const QList<KRNewsItem> &items);
    void showPage(const QString &page, const QString &content);
    void showLinkAddress(const QString &link);

    QPointer<KRNewsController> m_news;
    QPointer<QWebEngineView> m_webView;
    QPointer<QPushButton> m_markAllReadButton;
    QPointer<QLabel> m_linkAddressLabel;
    bool m_webViewDidLoad = false;
    bool m_pageLoaded = false;
    bool m_showsNoItems = false;
    quint64 m_pageGeneration = 0;
    QString m_pendingContent; // too large for the page's own address: put in once it has loaded
};

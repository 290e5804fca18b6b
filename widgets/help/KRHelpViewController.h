#pragma once

#include <QObject>
#include <QPointer>
#include <QWebEngineView>


// The content of a help pop-over: a web view without background of its own. Links load in
// place until the first page has finished loading; from then on a link to a web address opens
// in the user's browser and the view keeps its page.
class KRHelpViewController : public QObject
{
    Q_OBJECT

public:
    // Builds the help view (a web view the caller places; it belongs to whoever becomes its
    // parent, or to the caller).
    explicit KRHelpViewController(QObject *parent = nullptr);
    ~KRHelpViewController() override;

    QWebEngineView *webView() const { return m_webView; }
    // Takes over a web view: its page answers navigation through this controller.
    void setWebView(QWebEngineView *webView);

    bool openURLsExternally() const { return m_openURLsExternally; }
    void setOpenURLsExternally(bool open) { m_openURLsExternally = open; }

private:
    QPointer<QWebEngineView> m_webView;
    bool m_openURLsExternally = false;
};

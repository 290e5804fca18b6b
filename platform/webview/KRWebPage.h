#pragma once

#include <QWebEnginePage>

// The page of a design view: it loads only what the program asks it to (a link or script in
// user content that navigates away would lose the mirror), opens no windows, and sends the
// page's script errors to the run log.
class KRWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit KRWebPage(QObject *parent = nullptr);

    // The next main-frame navigation is the program's own.
    void allowNextNavigation() { m_allowNext = true; }

signals:
    // A new main-frame document is on its way: the current one is going.
    void mainFrameNavigationAccepted();
    // A script of the page ended with an error nobody caught.
    void uncaughtScriptError(const QString &message);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private:
    bool m_allowNext = false;
};

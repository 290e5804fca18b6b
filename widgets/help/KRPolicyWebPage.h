#pragma once

#include <QWebEnginePage>

#include <functional>

// A web page that asks its owner about every navigation the user starts (links, forms, history,
// redirects). Loads the application starts itself (load, setHtml) always proceed.
class KRPolicyWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // Answers true to load the address in the page.
    using Handler = std::function<bool(const QUrl &url, NavigationType type, bool isMainFrame)>;

    explicit KRPolicyWebPage(Handler handler, QObject *parent = nullptr);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;

private:
    Handler m_handler;
};

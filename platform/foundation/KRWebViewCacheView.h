#pragma once

#include <QRect>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

// A design web view as the project's pool of pre-loaded views sees it. The design surface
// implements it over its web engine; headless tests use a fake.
class KRWebViewCacheView
{
public:
    virtual ~KRWebViewCacheView() = default;

    // Starts loading the HTML text into the main frame with the base URL.
    virtual void loadHTMLString(const QString &html, const QUrl &baseURL) = 0;
    // True while a load is in progress.
    virtual bool isLoading() const = 0;
    // True once the main frame has a document.
    virtual bool hasDocument() const = 0;
    // True when the view can no longer get a document without a new load (its web engine
    // process ended, say); the pool never hands such a view out.
    virtual bool hasFailed() const = 0;
    // Calls `changed` whenever isLoading(), hasDocument() or hasFailed() may have changed,
    // until another call replaces it (an empty function: nobody). A view that cannot tell
    // ignores it, and whoever waits for it looks again from time to time.
    virtual void setStateObserver(std::function<void()> changed) { (void)changed; }
};

// Makes the pool's views.
class KRWebViewCacheViewFactory
{
public:
    virtual ~KRWebViewCacheViewFactory() = default;

    // A new view with the frame, no frame name and no group name.
    virtual std::unique_ptr<KRWebViewCacheView> createWebView(const QRect &frame) = 0;
};

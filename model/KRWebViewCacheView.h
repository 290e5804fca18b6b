#pragma once

#include <QRect>
#include <QString>
#include <QUrl>

#include <memory>

// A design web view as the pool sees it. The design surface implements it over its web
// engine; tests use a fake.
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
};

// Makes the pool's views.
class KRWebViewCacheViewFactory
{
public:
    virtual ~KRWebViewCacheViewFactory() = default;

    // A new view with the frame, no frame name and no group name.
    virtual std::unique_ptr<KRWebViewCacheView> createWebView(const QRect &frame) = 0;
};

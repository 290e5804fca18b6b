#pragma once

#include <platform/foundation/KRWebViewCacheView.h>

#include <memory>

class KRWebView;

// Makes the design views of a project's pool of pre-loaded views (KRWebViewCache): KRWebViews
// set up for design documents, with the frame the pool asks for, shown off the screen until
// their first document is there (so that its page has the frame's size), hidden from then on.
class KRWebViewFactory : public KRWebViewCacheViewFactory
{
public:
    std::unique_ptr<KRWebViewCacheView> createWebView(const QRect &frame) override;

    // Takes over a view the pool handed out. It must be a KRWebView: a pool filled by this
    // factory hands out nothing else.
    static std::unique_ptr<KRWebView> webView(std::unique_ptr<KRWebViewCacheView> view);
};

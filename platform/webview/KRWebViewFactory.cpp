#include "KRWebViewFactory.h"

#include <platform/foundation/KRAssert.h>
#include <platform/webview/KRWebView.h>

std::unique_ptr<KRWebViewCacheView> KRWebViewFactory::createWebView(const QRect &frame)
{
    auto view = std::make_unique<KRWebView>();
    view->setGeometry(frame);
    return view;
}

std::unique_ptr<KRWebView> KRWebViewFactory::webView(std::unique_ptr<KRWebViewCacheView> view)
{
    if (!view)
        return nullptr;
    auto *webView = dynamic_cast<KRWebView *>(view.get());
    KR_ASSERT(webView, "a pooled design view that is no KRWebView");
    view.release();
    return std::unique_ptr<KRWebView>(webView);
}

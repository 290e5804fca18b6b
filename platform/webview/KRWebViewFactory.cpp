#include "KRWebViewFactory.h"

#include <platform/foundation/KRAssert.h>
#include <platform/webview/KRWebView.h>

std::unique_ptr<KRWebViewCacheView> KRWebViewFactory::createWebView(const QRect &frame)
{
    auto view = std::make_unique<KRWebView>();
    view->setGeometry(frame);
    // The engine lays out the page of a shown view only. A view that waited hidden holds a
    // page of no size, which it keeps on a surface until its first layout there, and an
    // assistive tool that looks at the page in that moment (it has the keyboard as its window
    // opens) is told that it has no place on the screen, and keeps that for good. So the view
    // is shown off the screen (no window of it is ever mapped) until its empty document is laid
    // out at the frame's size, and hidden then; the pool hands it out no earlier.
    view->setAttribute(Qt::WA_DontShowOnScreen);
    view->show();
    KRWebView *pooled = view.get();
    QObject::connect(pooled, &KRWebView::documentLaidOut, pooled, [pooled] {
        if (!pooled->testAttribute(Qt::WA_DontShowOnScreen))
            return;
        pooled->hide();
        pooled->setAttribute(Qt::WA_DontShowOnScreen, false);
    });
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

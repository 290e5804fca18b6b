#pragma once

// Live pages for the design-view tests: the runtime server that serves the web libraries,
// projects with the real control classes opened in design mode, a recording design surface.

#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMNode.h>
#include <platform/dom/KRLayoutSource.h>
#include <platform/webview/KRDesignViewHandler.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/webview/KRWebView.h>

class KRPageDesignView;
class KRWebViewCacheViewFactory;

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace KRDesignViewTest {

// Runs before the test main makes the application object.
inline const bool g_environmentPrepared = (KRWebEngineEnvironment::prepare(), true);

// Registers "KRPage" and the control library (once).
void registerClasses();

// Starts the runtime server once for the program and points the local-server port at it;
// false when it cannot run here (no node).
bool startRuntimeServer();
void stopRuntimeServer();
qint64 runtimeServerPort();
// The folder the runtime server serves at its root.
QString runtimeServerDocumentRoot();

// A project.xml holding the page elements.
QByteArray projectXML(const QString &pagesXML);
// Opens the project in design mode; the document is kept in `documentOut`.
std::shared_ptr<KRProject> openProject(const QByteArray &xml, std::shared_ptr<KRDocument> &documentOut, bool designMode = true);

// The design surface as a test sees it: every bridge call, with its node.
class RecordingHandler : public KRDesignViewHandler
{
public:
    struct Call {
        QString method;
        std::shared_ptr<DOMNode> element;
        QVariantMap event;
    };
    std::vector<Call> calls;

    void onClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override
    {
        calls.push_back({QStringLiteral("onClickElement"), element, event});
    }
    void onDoubleClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &event) override
    {
        calls.push_back({QStringLiteral("onDoubleClickElement"), element, event});
    }
    void onClickBody(const QVariantMap &event) override { calls.push_back({QStringLiteral("onClickBody"), nullptr, event}); }
    void onMouseDown(const QVariantMap &event) override { calls.push_back({QStringLiteral("onMouseDown"), nullptr, event}); }
    void onMouseUp(const QVariantMap &event) override { calls.push_back({QStringLiteral("onMouseUp"), nullptr, event}); }
    void onMouseMove(const QVariantMap &event) override { calls.push_back({QStringLiteral("onMouseMove"), nullptr, event}); }

    const Call *find(const QString &method) const
    {
        for (const auto &c : calls)
            if (c.method == method)
                return &c;
        return nullptr;
    }
};

// A fixture for tests of live pages: the runtime server and the real web-view factory for the
// whole program, and a project opened in design mode for each test.
class LivePageTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    // Opens the pages in a project and takes `pageID` as `page`; skips the test where the
    // runtime server cannot run. Callers return when IsSkipped() or HasFatalFailure().
    void openPages(const QString &pagesXML, const QString &pageID = QStringLiteral("page1"));
    // Waits until every change made so far is in the live page and no size is on its way.
    bool settle(KRPageDesignView &live);

    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::shared_ptr<KRPage> page;

private:
    static inline bool s_serverRuns = false;
    static inline std::shared_ptr<KRWebViewCacheViewFactory> s_previousFactory;
};

// The result of a script in the live page; an invalid value when it did not answer in time.
QVariant js(QWebEngineView &view, const QString &script);
// The live element of an own-DOM node, as a script expression.
QString liveNode(const std::shared_ptr<DOMNode> &node);
QString artifactsDir();

} // namespace KRDesignViewTest

#include "DesignViewTestSupport.h"

#include <core/KRNodeRunner.h>
#include <controls/KRControlLibrary.h>
#include <model/KRLocalServerPort.h>
#include <model/KRWebViewCache.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRWebViewFactory.h>
#include <workspace/designview/KRPageDesignView.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <KRWebTestSupport.h>

#include <QDir>
#include <QWebEnginePage>

namespace KRDesignViewTest {

namespace {

KRNodeRunner *g_runner = nullptr;
QString g_documentRoot;

} // namespace

void registerClasses()
{
    KRPage::registerPageClass();
    registerControlLibrary();
}

bool startRuntimeServer()
{
    if (!g_runner) {
        if (KRNodeRunner::nodeExecutablePath().isEmpty())
            return false;
        g_runner = new KRNodeRunner();
        g_documentRoot = KRTest::makeTempDir();
        g_runner->setDocumentRootPath(g_documentRoot);
        g_runner->setRequestedPortNumber(0);
        g_runner->start();
    }
    const qint64 port = g_runner->portNumber();
    KRLocalServerPort::setProvider([port] { return port; });
    return port > 0;
}

void stopRuntimeServer()
{
    if (!g_runner)
        return;
    g_runner->terminate();
    delete g_runner;
    g_runner = nullptr;
}

qint64 runtimeServerPort() { return g_runner ? g_runner->portNumber() : -1; }

QString runtimeServerDocumentRoot() { return g_documentRoot; }

QByteArray projectXML(const QString &pagesXML)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                          "<KRProject JQMVersion=\"1.4\"/><KRPages>%2</KRPages></KRProjectDocument>\n")
        .arg(KRDocument::applicationShortVersion(), pagesXML)
        .toUtf8();
}

std::shared_ptr<KRProject> openProject(const QByteArray &xml, std::shared_ptr<KRDocument> &documentOut, bool designMode)
{
    registerClasses();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Live.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return nullptr;
    documentOut = document.value();
    KRResult<std::shared_ptr<KRProject>> project = KRProject::create(document.value(), designMode);
    return project ? project.value() : nullptr;
}

void LivePageTest::SetUpTestSuite()
{
    s_serverRuns = startRuntimeServer();
    s_previousFactory = KRProject::setWebViewFactory(std::make_shared<KRWebViewFactory>());
}

void LivePageTest::TearDownTestSuite()
{
    KRProject::setWebViewFactory(s_previousFactory);
    stopRuntimeServer();
}

void LivePageTest::openPages(const QString &pagesXML, const QString &pageID)
{
    if (!s_serverRuns)
        GTEST_SKIP() << "the runtime server does not run here (node missing)";
    project = openProject(projectXML(pagesXML), document);
    ASSERT_TRUE(project);
    page = project->pageForID(pageID);
    ASSERT_TRUE(page);
}

bool LivePageTest::settle(KRPageDesignView &live)
{
    KRWebView *view = live.webView();
    return KRTest::processEventsUntil([&] {
        view->flush();
        return view->isInStep() && !live.isWaitingForSizes() && document->undoManager().groupingLevel() == 0;
    });
}

QVariant js(QWebEngineView &view, const QString &script)
{
    return KRTest::evaluateScript(&view, script);
}

QString liveNode(const std::shared_ptr<DOMNode> &node)
{
    return QStringLiteral("window.___kr_agent.node(%1)").arg(node ? node->nodeId() : 0);
}

QString artifactsDir()
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/designview");
    QDir().mkpath(dir);
    return dir;
}

} // namespace KRDesignViewTest

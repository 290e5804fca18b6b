#include "KRCompositeTestSupport.h"

#include "KRTestSupport.h"

#include <controls/KRControlLibrary.h>
#include <core/GCDispatch.h>
#include <platform/dom/DOMScriptHost.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

void krRegisterCompositeTestClasses()
{
    krRegisterDesignTestClasses();
    registerControlLibrary();
}

std::shared_ptr<KRProject> krOpenPageProject(const QString &contentsXML, bool designMode,
                                             std::shared_ptr<KRDocument> *documentOut, const QString &settings)
{
    krRegisterCompositeTestClasses();
    return krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\" title=\"Page 1\"><KRContents>%1</KRContents></KRPage>")
                                          .arg(contentsXML),
                                      settings),
                         designMode, documentOut);
}

void krExpectGolden(const QString &name, const QString &actual)
{
    const QString path = QStringLiteral(KR_TEST_DATA_DIR) + QStringLiteral("/controls/golden/composite/") + name;
    krExpectGoldenFile(path, actual);
}

QString krInitializerLines(const std::shared_ptr<KRObject> &object)
{
    QString text;
    const auto inits = object->jsPropertyInitializations();
    for (const QString &key : inits.keyEnumerator())
        text += key + QLatin1Char('=') + *inits.find(key) + QLatin1Char('\n');
    return text;
}

QStringList krRunDesignScripts(const std::shared_ptr<KRPage> &page)
{
    auto *host = dynamic_cast<DOMRecordingScriptHost *>(page->scriptHost());
    if (!host)
        return {};
    if (!page->didJQueryMobileLoad()) {
        QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
        QMetaObject::invokeMethod(page->pageProxy(), "jqueryMobileLoaded");
    }
    QCoreApplication::processEvents(); // deferred rebuilds
    // Queued blocks run in order, but a chain of them takes one turn a block, so a marker
    // queued after it can run before its end: the page's own account of what is still to
    // run is waited for besides.
    bool done = false;
    GCDispatch::performBlocksInMainQueue({[&done] { done = true; }});
    KRTest::processEventsUntil([&] { return done && !page->hasPendingDesignSetUps(); }, std::chrono::milliseconds(10000));
    const QStringList scripts = host->evaluatedScripts();
    host->clearEvaluatedScripts();
    return scripts;
}

bool krHaveNode()
{
    return !QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty();
}

bool krNodeAccepts(const QString &script, QString *errors)
{
    if (!krHaveNode())
        return true;
    const QString path = KRTest::makeTempDir() + QStringLiteral("/check.js");
    KRTest::writeFile(path, script.toUtf8());
    QProcess node;
    node.start(QStandardPaths::findExecutable(QStringLiteral("node")), {QStringLiteral("--check"), path});
    if (!node.waitForFinished(60000))
        return false;
    if (errors)
        *errors = QString::fromUtf8(node.readAllStandardError());
    return node.exitStatus() == QProcess::NormalExit && node.exitCode() == 0;
}

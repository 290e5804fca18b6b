#include "E2ESupport.h"

#include <builder/KRProjectBuilder.h>
#include <controls/KRControlLibrary.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <network/NetRuntimeServerSupport.h>
#include <platform/foundation/KRResources.h>

#include <KRCopyTree.h>
#include <KRTestSupport.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <csignal>

namespace KRE2E {

QStringList RecordingPage::errors() const
{
    QStringList list;
    for (const ConsoleMessage &m : messages) {
        if (m.level == ErrorMessageLevel)
            list.append(QStringLiteral("%1:%2: %3").arg(m.source).arg(m.line).arg(m.message));
    }
    return list;
}

void RecordingPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                             int lineNumber, const QString &sourceID)
{
    messages.push_back({level, message, lineNumber, sourceID});
}

Browser::Browser(QSize size) : m_view(std::make_unique<QWebEngineView>())
{
    m_page = new RecordingPage(m_view.get());
    m_view->setPage(m_page);
    m_view->resize(size);
    m_view->show();
}

Browser::~Browser()
{
    // The page goes before its view's profile would.
    m_view->setPage(nullptr);
    delete m_page;
}

bool Browser::load(const QUrl &url, milliseconds timeout)
{
    bool finished = false, ok = false;
    const auto connection = QObject::connect(m_page, &QWebEnginePage::loadFinished, [&](bool success) {
        finished = true;
        ok = success;
    });
    m_page->load(url);
    KRTest::processEventsUntil([&] { return finished; }, timeout);
    QObject::disconnect(connection);
    return finished && ok;
}

QVariant Browser::eval(const QString &script, milliseconds timeout)
{
    // The callback may arrive after a timeout: it must not touch this frame's locals then.
    auto state = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    m_page->runJavaScript(script, [state](const QVariant &result) {
        state->first = true;
        state->second = result;
    });
    KRTest::processEventsUntil([&] { return state->first; }, timeout);
    return state->first ? state->second : QVariant();
}

bool Browser::waitFor(const QString &expression, milliseconds timeout)
{
    const QString script = QStringLiteral("(function() { try { return !!(%1); } catch (e) { return false; } })()").arg(expression);
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    for (;;) {
        // One question at a time, each given the time that is left.
        if (eval(script, milliseconds(std::max<qint64>(deadline.remainingTime(), 0))).toBool())
            return true;
        if (deadline.hasExpired())
            return false;
        // The page's own timers and events change the answer: the loop runs meanwhile.
        KRTest::processEventsUntil([] { return false; }, milliseconds(50));
    }
}

bool Browser::waitForPage(const QString &pageID, milliseconds timeout)
{
    return waitFor(QStringLiteral("window.application && window.$ && $.mobile && $.mobile.activePage"
                                  " && $.mobile.activePage.attr('id') === '%1'"
                                  " && application._currentPage === $.mobile.activePage[0]"
                                  " && application._pages['%1'] && application._pages['%1']._objects"
                                  " && Object.keys(application._pages['%1']._objects).length > 0")
                       .arg(pageID),
                   timeout);
}

QImage Browser::screenshot(milliseconds timeout)
{
    QImage shot;
    KRTest::processEventsUntil([&] {
        shot = m_view->grab().toImage();
        if (shot.isNull())
            return false;
        // Blank until the compositor has delivered a frame: look for more than one colour.
        const QColor first = shot.pixelColor(0, 0);
        for (int y = 0; y < shot.height(); y += 7) {
            for (int x = 0; x < shot.width(); x += 7) {
                if (shot.pixelColor(x, y) != first)
                    return true;
            }
        }
        return false;
    }, timeout);
    return shot;
}

QStringList Browser::takeErrors()
{
    QStringList list;
    for (size_t i = m_seenMessages; i < m_page->messages.size(); ++i) {
        const ConsoleMessage &m = m_page->messages[i];
        // The runtime logs what it could not do ("KRObjects: ..."): a fault as well.
        if (m.level == QWebEnginePage::ErrorMessageLevel || m.message.startsWith(QLatin1String("KRObjects: ")))
            list.append(QStringLiteral("%1:%2: %3").arg(m.source).arg(m.line).arg(m.message));
    }
    m_seenMessages = m_page->messages.size();
    return list;
}

RuntimeServer::RuntimeServer(const QString &documentRoot) : m_runner(std::make_unique<KRNodeRunner>())
{
    std::signal(SIGPIPE, SIG_IGN);
    NetRuntimeServerSupport::install();
    m_runner->setDocumentRootPath(documentRoot);
    m_runner->setRequestedPortNumber(0);
    m_runner->start();
    m_port = m_runner->portNumber();
}

RuntimeServer::~RuntimeServer()
{
    m_runner->terminate();
    m_runner.reset();
    KRNodeRunner::endAllServers();
}

QUrl RuntimeServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path));
}

QString buildSample(const QString &name, QString &webFolder, QString &failure)
{
    const QString file = name + QStringLiteral(".krproj");
    const QString package = KRTest::makeTempDir(QStringLiteral("sample")) + QLatin1Char('/') + file;
    if (!copyTree(KRResources::resourcesDirectory() + QStringLiteral("/samples/") + file, package)) {
        failure = QStringLiteral("could not copy the sample ") + file;
        return {};
    }
    return buildPackage(package, webFolder, failure);
}

QString buildPackage(const QString &package, QString &webFolder, QString &failure, QStringList *warnings)
{
    registerControlLibrary();
    static QList<std::shared_ptr<KRDocument>> keptDocuments; // the project holds its document weakly
    auto document = KRDocument::openPackage(package);
    if (!document) {
        failure = document.error().message();
        return {};
    }
    keptDocuments.append(document.value());
    auto project = KRProject::create(document.value(), false);
    if (!project) {
        failure = project.error().message();
        return {};
    }
    KRProjectBuilder builder(project.value());
    const KRResult<QString> built = builder.build();
    if (warnings)
        *warnings = builder.warnings();
    if (!built) {
        failure = built.error().message();
        return {};
    }
    webFolder = QFileInfo(built.value()).path();
    return built.value();
}

std::unique_ptr<SuiteSample> buildSuiteSample(const QString &name)
{
    if (!webLibrariesStaged())
        return nullptr;
    auto sample = std::make_unique<SuiteSample>();
    sample->startPage = buildSample(name, sample->folder, sample->failure);
    return sample;
}

bool webLibrariesStaged()
{
    const QString local = KRResources::pathForResource(QStringLiteral("local-server"));
    return QFile::exists(local + QStringLiteral("/jquery-1.9.0/jquery.min.js"))
        && QFile::exists(local + QStringLiteral("/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"))
        && QFile::exists(local + QStringLiteral("/photoswipe-3.0.5/photoswipe.min.js"))
        && QFile::exists(KRResources::pathForResource(QStringLiteral("runtime/KRObjects-min.js")));
}

QString artifactsDir()
{
    return KRTest::artifactsDir(QStringLiteral("e2e"));
}

bool copyTree(const QString &from, const QString &to)
{
    return KRTest::copyTree(from, to);
}

bool stageHandBuiltFolder(const QString &webFolder)
{
    const QString resources = KRResources::resourcesDirectory();
    const QString local = resources + QStringLiteral("/local-server/");
    bool ok = copyTree(QStringLiteral(KR_SOURCE_DIR "/tests/e2e/data/handbuilt"), webFolder)
        && copyTree(resources + QStringLiteral("/samples/Showcase.krproj/kr-web"), webFolder)
        && copyTree(local + QStringLiteral("photoswipe-3.0.5"), webFolder + QStringLiteral("/photoswipe-3.0.5"));
    for (const char *file : {"js-class.js", "bluff-src.js"})
        ok = ok && QFile::copy(local + QString::fromLatin1(file), webFolder + QLatin1Char('/') + QString::fromLatin1(file));
    return ok && QFile::copy(resources + QStringLiteral("/runtime/KRObjects-min.js"), webFolder + QStringLiteral("/KRObjects-min.js"));
}

} // namespace KRE2E

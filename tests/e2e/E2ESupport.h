#pragma once

// The end-to-end harness: a built web folder served by the local runtime server and loaded
// in an offscreen web engine view the size of a phone. Every wait is bounded.

#include <core/KRNodeRunner.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <KRTestSupport.h>

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <chrono>
#include <memory>
#include <ostream>
#include <vector>

// Readable text in test failures.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << "\n  " << list.join(QStringLiteral("\n  ")).toStdString() << "\n";
}

namespace KRE2E {

// Runs before the test main makes the application object.
inline const bool g_environmentPrepared = (KRWebEngineEnvironment::prepare(), true);

using std::chrono::milliseconds;
using std::chrono::seconds;

struct ConsoleMessage {
    QWebEnginePage::JavaScriptConsoleMessageLevel level;
    QString message;
    int line = 0;
    QString source;
};

// Keeps every console message of the pages it shows.
class RecordingPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    std::vector<ConsoleMessage> messages;
    // "source:line: message" of every error message.
    QStringList errors() const;

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
};

// An offscreen view of the given size with a recording page.
class Browser
{
public:
    explicit Browser(QSize size = QSize(320, 480));
    ~Browser();

    RecordingPage &page() { return *m_page; }
    QWebEngineView &view() { return *m_view; }

    // Loads the address and waits for the load to finish; false on failure or timeout.
    bool load(const QUrl &url, milliseconds timeout = KRTest::WaitTimeout);
    // Runs the script in the current document and returns its value (invalid on timeout).
    QVariant eval(const QString &script, milliseconds timeout = KRTest::WaitTimeout);
    // Polls the expression until it is true (documents may change meanwhile).
    bool waitFor(const QString &expression, milliseconds timeout = KRTest::WaitTimeout);
    // Waits until the page with that id is the active jQuery Mobile page and its objects
    // have been set up by the runtime.
    bool waitForPage(const QString &pageID, milliseconds timeout = KRTest::WaitTimeout);
    // A rendered frame of the view; waits (bounded) for one that is not blank.
    QImage screenshot(milliseconds timeout = KRTest::WaitTimeout);
    // Console errors and the runtime's own complaints since the last call (and forgets them).
    QStringList takeErrors();

private:
    std::unique_ptr<QWebEngineView> m_view;
    RecordingPage *m_page = nullptr; // owned by the view
    size_t m_seenMessages = 0;
};

// The local runtime server over a document root (the bundle's libraries at /__kr_bundle/).
class RuntimeServer
{
public:
    explicit RuntimeServer(const QString &documentRoot);
    ~RuntimeServer();
    qint64 port() const { return m_port; }
    QUrl url(const QString &path) const;

private:
    std::unique_ptr<KRNodeRunner> m_runner;
    qint64 m_port = -1;
};

// Builds the sample "<name>.krproj" of the resources (a copy, into its own web folder) with the
// project builder; returns the start page's file path, or empty with the reason in `failure`.
QString buildSample(const QString &name, QString &webFolder, QString &failure);
// The same for a package of the test's own (built in place), with the build's warnings.
QString buildPackage(const QString &package, QString &webFolder, QString &failure, QStringList *warnings = nullptr);

// Whether the web libraries and the minified runtime have been staged by the build.
bool webLibrariesStaged();

// A sample built once for a test suite: its start page (empty when the build failed), its web
// folder and the reason of a failure.
struct SuiteSample
{
    QString startPage;
    QString folder;
    QString failure;
};
// Builds the sample for a suite; null when the web libraries are not staged.
std::unique_ptr<SuiteSample> buildSuiteSample(const QString &name);
// The folder for artifacts of the end-to-end tests in the build tree (made when missing).
QString artifactsDir();
// Copies a folder tree (files only) into another folder.
bool copyTree(const QString &from, const QString &to);
// Puts what a built application needs beside its pages when no builder made them: the
// runtime, the graph scripts, the gallery library and the sample's images.
bool stageHandBuiltFolder(const QString &webFolder);

} // namespace KRE2E

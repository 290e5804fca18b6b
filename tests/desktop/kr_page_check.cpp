// Loads one web page in an offscreen web engine and reports, as one line of JSON, whether it
// loaded, whether jQuery Mobile showed its page, its title and text, every script error and
// console error, and every request it made to a host other than the loopback.
//
//   kr_page_check [--mirror URL] [--timeout SECONDS] URL
//
// With --mirror, a request to another host goes to URL/<host>/<path> instead (a local server
// that answers for the hosted libraries) and is listed under "mirrored"; without it, such a
// request is blocked and listed under "blocked". Nothing leaves the loopback either way.

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestInfo>

#include <cstdio>
#include <unistd.h>

namespace {

struct Report {
    QJsonArray errors;
    QJsonArray blocked;
    QJsonArray mirrored;
};

class LoopbackOnly : public QWebEngineUrlRequestInterceptor
{
public:
    LoopbackOnly(QString mirror, Report &report) : m_mirror(std::move(mirror)), m_report(report) {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        if (scheme != QLatin1String("http") && scheme != QLatin1String("https") && scheme != QLatin1String("ws")
            && scheme != QLatin1String("wss"))
            return;
        const QString host = url.host();
        if (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"))
            return;
        if (m_mirror.isEmpty()) {
            m_report.blocked.append(url.toString());
            info.block(true);
            return;
        }
        m_report.mirrored.append(url.toString());
        info.redirect(QUrl(m_mirror + QLatin1Char('/') + host + url.path(QUrl::FullyEncoded)));
    }

private:
    QString m_mirror;
    Report &m_report;
};

class CheckedPage : public QWebEnginePage
{
public:
    CheckedPage(QWebEngineProfile *profile, Report &report) : QWebEnginePage(profile), m_report(report) {}

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int line,
                                  const QString &source) override
    {
        if (level == ErrorMessageLevel)
            m_report.errors.append(QStringLiteral("%1:%2: %3").arg(source).arg(line).arg(message));
    }

private:
    Report &m_report;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QApplication application(argc, argv);

    QString mirror;
    int timeoutSeconds = 30;
    QString address;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--mirror") && i + 1 < arguments.size()) {
            mirror = arguments[++i];
        } else if (arguments[i] == QLatin1String("--timeout") && i + 1 < arguments.size()) {
            timeoutSeconds = arguments[++i].toInt();
        } else {
            address = arguments[i];
        }
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "usage: kr_page_check [--mirror URL] [--timeout SECONDS] URL\n");
        return 2;
    }

    Report report;
    QWebEngineProfile profile; // off the record: nothing of this run is kept
    profile.setHttpCacheType(QWebEngineProfile::NoCache);
    LoopbackOnly interceptor(mirror, report);
    profile.setUrlRequestInterceptor(&interceptor);
    CheckedPage page(&profile, report);

    QJsonObject result;
    bool loaded = false;
    const auto finish = [&](bool ready) {
        page.runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"), [&, ready](const QVariant &text) {
            result.insert(QStringLiteral("loaded"), loaded);
            result.insert(QStringLiteral("ready"), ready);
            result.insert(QStringLiteral("title"), page.title());
            result.insert(QStringLiteral("text"), text.toString());
            result.insert(QStringLiteral("errors"), report.errors);
            result.insert(QStringLiteral("blocked"), report.blocked);
            result.insert(QStringLiteral("mirrored"), report.mirrored);
            std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
            std::fflush(stdout);
            QCoreApplication::exit(0);
        });
    };

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &page, [&] { finish(false); });
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, &page, [&] {
        // jQuery Mobile marks the page it shows once it has enhanced it.
        page.runJavaScript(QStringLiteral("!!(window.jQuery && jQuery.mobile && jQuery('.ui-page-active').length)"),
                           [&](const QVariant &ready) {
                               if (ready.toBool() && poll.isActive()) {
                                   poll.stop();
                                   deadline.stop();
                                   finish(true);
                               }
                           });
    });
    QObject::connect(&page, &QWebEnginePage::loadFinished, &page, [&](bool ok) {
        loaded = ok;
        poll.start();
    });
    deadline.start(timeoutSeconds * 1000);
    page.load(QUrl(address));
    return application.exec();
}

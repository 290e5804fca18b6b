// Loads one web page in an offscreen web engine and reports, as one line of JSON, whether it
// loaded, whether jQuery Mobile showed its page, its title and text, every script error and
// console error, and every request it made to a host other than the loopback.
//
//   kr_page_check [--redirect FROM=TO]... [--timeout SECONDS] URL
//
// A request whose URL starts with FROM goes to TO plus the rest of the URL instead (a local
// mirror of a hosted library); any other request outside 127.0.0.1 is blocked and reported.

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
};

class LoopbackOnly : public QWebEngineUrlRequestInterceptor
{
public:
    LoopbackOnly(QList<QPair<QString, QString>> redirects, Report &report)
        : m_redirects(std::move(redirects)), m_report(report)
    {
    }

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        const QString text = url.toString();
        for (const auto &[from, to] : std::as_const(m_redirects)) {
            if (text.startsWith(from)) {
                info.redirect(QUrl(to + text.mid(from.size())));
                return;
            }
        }
        const QString host = url.host();
        if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")
            || url.scheme() == QLatin1String("ws") || url.scheme() == QLatin1String("wss")) {
            if (host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost")) {
                m_report.blocked.append(text);
                info.block(true);
            }
        }
    }

private:
    QList<QPair<QString, QString>> m_redirects;
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

    QList<QPair<QString, QString>> redirects;
    int timeoutSeconds = 30;
    QString address;
    const QStringList arguments = QApplication::arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--redirect") && i + 1 < arguments.size()) {
            const QString rule = arguments[++i];
            const qsizetype split = rule.indexOf(QLatin1Char('='));
            if (split > 0)
                redirects.append({rule.left(split), rule.mid(split + 1)});
        } else if (arguments[i] == QLatin1String("--timeout") && i + 1 < arguments.size()) {
            timeoutSeconds = arguments[++i].toInt();
        } else {
            address = arguments[i];
        }
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "usage: kr_page_check [--redirect FROM=TO]... [--timeout SECONDS] URL\n");
        return 2;
    }

    Report report;
    QWebEngineProfile profile; // off the record: nothing of this run is kept
    profile.setHttpCacheType(QWebEngineProfile::NoCache);
    LoopbackOnly interceptor(redirects, report);
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

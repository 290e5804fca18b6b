#include "../../network/support/KRProxiedRequest.h"
#include "../../network/support/KRTestHTTPServer.h"

#include <network/KRJSONRPC.h>
#include <network/KRNewsController.h>
#include <network/NetHTTPRequest.h>
#include <workspace/network/KRNewsViewController.h>
#include <workspace/network/KRProxyAuthViewController.h>
#include <workspace/network/URLParser.h>
#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRAlertService.h>
#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

const QString newsPageLink = QStringLiteral("https://news.example.com/post?id=1&ref=app%20feed#café");

QList<KRNewsItem> newsPageItems()
{
    return {{QStringLiteral("First <news>"), QStringLiteral("<p>Hello</p>"), QStringLiteral("Tue Dec 01 10:30:00 +0000 2026"),
             QStringLiteral("https://news.example.com/1"), true},
            {QStringLiteral("Second"), QStringLiteral("<p>World</p>"), QStringLiteral("not a date"), newsPageLink, false}};
}

// kr://<host>?newsItemID=<index>&url=<link>, as the page's links are made.
QUrl newsPageLinkURL(const QString &host, const QString &query)
{
    return QUrl(QStringLiteral("kr://%1?%2").arg(host, query), QUrl::StrictMode);
}

TEST(URLParser, SplitsTheQueryAndFindsOnlyVariablesWithAValue)
{
    const URLParser parser(QStringLiteral("kr://mark?newsItemID=&url=a%26b&&newsItemID=4?x=1"));
    EXPECT_EQ(parser.variables(), (QStringList{QStringLiteral("newsItemID="), QStringLiteral("url=a%26b"),
                                               QStringLiteral("newsItemID=4"), QStringLiteral("x=1")}));
    EXPECT_EQ(parser.valueForVariable(QStringLiteral("newsItemID")), QStringLiteral("4"));
    EXPECT_EQ(parser.valueForVariable(QStringLiteral("url")), QStringLiteral("a%26b"));
    EXPECT_TRUE(parser.valueForVariable(QStringLiteral("ur")).isNull());
    EXPECT_TRUE(URLParser(QStringLiteral("kr://mark")).variables().isEmpty());
}

TEST(KRNewsViewController, PageHoldsEveryItemFromTheTemplates)
{
    const QString html = KRNewsViewController::pageHTML(newsPageItems());
    EXPECT_FALSE(html.contains(QStringLiteral("<script"))) << "the page runs no script";
    EXPECT_FALSE(html.contains(QStringLiteral("onclick")));
    EXPECT_TRUE(html.contains(QStringLiteral("First &lt;news&gt;"))) << "titles are text";
    EXPECT_TRUE(html.contains(QStringLiteral("<p>World</p>"))) << "descriptions are HTML";
    EXPECT_FALSE(html.contains(QStringLiteral("{{")));
    EXPECT_EQ(html.count(QStringLiteral("class=\"news-item\"")), 2);

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QVariantMap first = KRNewsViewController::templateValues(newsPageItems()[0], 0);
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(first.value(QStringLiteral("postDate")).toString(), QStringLiteral("Dezember 01, 2026"));
    EXPECT_EQ(first.value(QStringLiteral("badgeDisplay")).toString(), QStringLiteral("inherit"));
    const QVariantMap second = KRNewsViewController::templateValues(newsPageItems()[1], 1);
    EXPECT_EQ(second.value(QStringLiteral("postDate")).toString(), QStringLiteral("not a date"));
    EXPECT_EQ(second.value(QStringLiteral("badgeDisplay")).toString(), QStringLiteral("none"));
    EXPECT_EQ(second.value(QStringLiteral("newsItemID")).toString(), QStringLiteral("1"));
    EXPECT_FALSE(second.value(QStringLiteral("link")).toString().contains(QLatin1Char('&')));
}

// Without items the page says why: loading, failed, empty, or never asked for (where news
// comes from only then).
TEST(KRNewsViewController, AnEmptyPageSaysWhereTheFeedStands)
{
    using State = KRNewsController::LoadState;
    const QString preferences = QStringLiteral("Preferences");
    const QString loading = KRNewsViewController::pageHTML({}, State::Loading);
    EXPECT_TRUE(loading.contains(QStringLiteral("Loading the news")));
    EXPECT_FALSE(loading.contains(preferences));
    const QString failed = KRNewsViewController::pageHTML({}, State::Failed);
    EXPECT_TRUE(failed.contains(QStringLiteral("could not be loaded")));
    EXPECT_FALSE(failed.contains(preferences));
    EXPECT_FALSE(KRNewsViewController::pageHTML({}, State::Loaded).contains(preferences));
    EXPECT_TRUE(KRNewsViewController::pageHTML({}, State::NotLoaded).contains(preferences));
    EXPECT_FALSE(KRNewsViewController::pageHTML(newsPageItems(), State::Failed).contains(QStringLiteral("could not")))
        << "items read before a failure are shown as they are";
}

TEST(KRNewsViewController, DescriptionsKeepTheirTextAndOnlyHarmlessMarkup)
{
    const struct
    {
        QString feed;
        QString shown;
    } cases[] = {
        {QStringLiteral("<p>Plain <b>bold</b>, <i>i</i>, <em>em</em> and <strong>strong</strong>.</p>"),
         QStringLiteral("<p>Plain <b>bold</b>, <i>i</i>, <em>em</em> and <strong>strong</strong>.</p>")},
        {QStringLiteral("<ul><li>one<li>two</ul><ol><li>x</ol><h1>h</h1><h6>6</h6><blockquote>q</blockquote>"
                        "<pre><code>a &lt; b</code></pre><span>s</span>line<br>next"),
         QStringLiteral("<ul><li>one</li><li>two</li></ul><ol><li>x</li></ol><h1>h</h1><h6>6</h6><blockquote>q</blockquote>"
                        "<pre><code>a &lt; b</code></pre><span>s</span>line<br>next")},
        // Scripts, styles, frames, forms, images and the head's elements go with their content.
        {QStringLiteral("a<script>location = 'kr://link?newsItemID=0&url=x'</script>b"), QStringLiteral("ab")},
        {QStringLiteral("<style>p { background: url(http://127.0.0.1:42069/) }</style>text"), QStringLiteral("text")},
        {QStringLiteral("<iframe src=\"file:///etc/hostname\">inside</iframe><frameset><frame src=x></frameset>ok"),
         QStringLiteral("ok")},
        {QStringLiteral("<img src=\"http://example.com/a.png\" onerror=\"alert(1)\">pic"), QStringLiteral("pic")},
        {QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=kr://link\"><base href=\"file:///etc/\">"
                        "<link rel=stylesheet href=http://x/>m"),
         QStringLiteral("m")},
        {QStringLiteral("<form action=\"http://x/\"><input name=q value=v><button>Go</button><textarea>t</textarea></form>f"),
         QStringLiteral("f")},
        {QStringLiteral("<object data=x></object><embed src=x><svg onload=alert(1)><script>1</script></svg>"
                        "<math><mi>x</mi></math><noscript><p>n</p></noscript><template><p>t</p></template>z"),
         QStringLiteral("z")},
        // Event and style attributes are gone; unknown elements leave their text.
        {QStringLiteral("<p onclick=\"alert(1)\" style=\"background:url(http://x/)\" class=\"c\" id=\"i\">p</p>"),
         QStringLiteral("<p>p</p>")},
        {QStringLiteral("<div onmouseover=alert(1)><marquee>m</marquee><font color=red>f</font></div>"), QStringLiteral("mf")},
        // Links keep only an http(s) address, written as a URL.
        {QStringLiteral("<a href=\"https://example.com/a?b=1&amp;c=2\" target=\"_blank\" onclick=\"x()\" title=\"t\">a</a>"
                        "<a href='http://example.com/\"><script>x()</script>'>q</a>"),
         QStringLiteral("<a href=\"https://example.com/a?b=1&amp;c=2\">a</a><a>q</a>")},
        {QStringLiteral("<a href=\"javascript:alert(1)\">j</a><a href=\"file:///etc/hostname\">f</a>"
                        "<a href=\"kr://link?newsItemID=0&amp;url=http://x/\">k</a><a href=\"data:text/html,x\">d</a>"
                        "<a href=\" JAVASCRIPT:alert(1)\">J</a><a href=\"http:///nohost\">n</a><a href=\"/relative\">r</a>"),
         QStringLiteral("<a>j</a><a>f</a><a>k</a><a>d</a><a>J</a><a>n</a><a>r</a>")},
        // Text is always text.
        {QStringLiteral("1 &lt; 2 &amp;&amp; &quot;x&quot; &lt;script&gt;"), QStringLiteral("1 &lt; 2 &amp;&amp; &quot;x&quot; &lt;script&gt;")},
        {QStringLiteral("<p>unclosed <b>bold"), QStringLiteral("<p>unclosed <b>bold</b></p>")},
        {QStringLiteral("<!-- <script>x</script> -->c"), QStringLiteral("c")},
        {QString(), QString()},
    };
    for (const auto &example : cases)
        EXPECT_EQ(KRNewsViewController::safeHTML(example.feed), example.shown) << example.feed.toStdString();

    // Deep nesting keeps its text.
    const QString deep = QStringLiteral("<span>").repeated(2000) + QStringLiteral("x");
    EXPECT_TRUE(KRNewsViewController::safeHTML(deep).contains(QStringLiteral("x")));
}

TEST(KRNewsViewController, LinksMarkItemsAndOpenOnlyWebAddressesIntact)
{
    auto recorder = std::make_shared<KRRecordingOpenURLService>();
    auto previous = KROpenURLService::setCurrent(recorder);
    KRNewsController news(QString{});
    news.setNewsItems(newsPageItems());
    const QString encoded = KRNewsViewController::templateValues(newsPageItems()[1], 1).value(QStringLiteral("link")).toString();

    // A link with "&", "%" and a non-ASCII letter arrives as it was.
    EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("link"), QStringLiteral("newsItemID=1&url=") + encoded), &news));
    ASSERT_EQ(recorder->openedURLs().size(), 1);
    EXPECT_EQ(recorder->openedURLs()[0], QUrl(newsPageLink));

    // Only web addresses leave the application; the item still counts as read.
    const QString script = QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("javascript:alert(1)")));
    EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("link"), QStringLiteral("newsItemID=0&url=") + script), &news));
    const QString file = QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("file:///etc/passwd")));
    EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("link"), QStringLiteral("newsItemID=0&url=") + file), &news));
    EXPECT_EQ(recorder->openedURLs().size(), 1);
    EXPECT_EQ(news.unreadCount(), 0);

    // A missing, empty or out-of-range item number does nothing at all.
    news.setNewsItems(newsPageItems());
    recorder->clear();
    for (const QString &query : {QStringLiteral("url=") + encoded, QStringLiteral("newsItemID=&url=") + encoded,
                                 QStringLiteral("newsItemID=2&url=") + encoded, QStringLiteral("newsItemID=-1"),
                                 QStringLiteral("newsItemID=x")}) {
        EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("link"), query), &news));
        EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("mark"), query), &news));
    }
    EXPECT_TRUE(recorder->openedURLs().isEmpty());
    EXPECT_EQ(news.unreadCount(), 1);

    EXPECT_TRUE(KRNewsViewController::followLink(newsPageLinkURL(QStringLiteral("mark"), QStringLiteral("newsItemID=0")), &news));
    EXPECT_EQ(news.unreadCount(), 0);
    EXPECT_TRUE(recorder->openedURLs().isEmpty());
    EXPECT_FALSE(KRNewsViewController::followLink(QUrl(QStringLiteral("kr://other?newsItemID=0")), &news));
    EXPECT_FALSE(KRNewsViewController::followLink(QUrl(QStringLiteral("https://example.com/?newsItemID=0")), &news));
    KROpenURLService::setCurrent(previous);
}

// The status line under the news shows the address a click opens in plain ASCII: the item's
// own address for its title's kr:// link, a description's web address as it is, nothing for
// links that open nothing. No right-to-left override or other letter can dress it up.
TEST(KRNewsViewController, TheStatusShowsTheAddressAClickOpens)
{
    const QString spoof = QStringLiteral("http://127.0.0.1/\u202Egpj.exe");
    const QString title = QStringLiteral("kr://link?newsItemID=0&url=") + QString::fromLatin1(QUrl::toPercentEncoding(spoof));
    EXPECT_EQ(KRNewsViewController::linkAddress(QUrl(title)), QStringLiteral("http://127.0.0.1/%E2%80%AEgpj.exe"));
    EXPECT_EQ(KRNewsViewController::linkAddress(QUrl(QStringLiteral("https://b\u00FCcher.example/a b"))),
              QStringLiteral("https://xn--bcher-kva.example/a%20b"));
    EXPECT_EQ(KRNewsViewController::linkAddress(QUrl(QStringLiteral("kr://mark?newsItemID=0"))), QString());
    EXPECT_EQ(KRNewsViewController::linkAddress(QUrl(QStringLiteral("file:///etc/hostname"))), QString());
    EXPECT_EQ(KRNewsViewController::linkAddress(QUrl(QStringLiteral("kr://link?newsItemID=0&url=javascript%3Aalert(1)"))),
              QString());
}

// Fills the fields of the proxy alert once it is open and clicks a button, as the user would.
void answerProxyBox(const QString &user, const QString &password, const QString &button, const QString &screenshot,
                    const QString &proxy)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        EXPECT_EQ(box->text(), QStringLiteral("HTTP Proxy Authentication"));
        // The proxy as configured is named, never the challenge's own text.
        EXPECT_EQ(box->informativeText(),
                  QStringLiteral("In order to continue, you must log in to the HTTP proxy \"%1\": ").arg(proxy));
        const QList<QLineEdit *> fields = box->findChildren<QLineEdit *>();
        if (fields.size() == 2) {
            QTest::keyClicks(fields[0], user);
            QTest::keyClicks(fields[1], password);
        }
        EXPECT_EQ(fields.size(), 2) << "the fields are under the text";
        if (!screenshot.isEmpty())
            KRTest::saveScreenshot(*box, QStringLiteral("network-ui"), screenshot);
        for (QAbstractButton *b : box->buttons())
            if (b->text() == button)
                QTest::mouseClick(b, Qt::LeftButton);
    });
    poll->start();
}

TEST(KRProxyAuthViewController, TheClientsProxyCredentialsComeFromTheAlertsFields)
{
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "me", "s3cret", "Type your hosting password here",
                                           KRTestResponse::text("{}", 200, "application/json"), true);
    });
    const QString proxy = QStringLiteral("127.0.0.1:%1").arg(server.port());
    auto previous = KRAlertService::setCurrent(std::make_shared<KRMessageBoxAlertService>());
    KRProxyAuthViewController::installAsProxyCredentialPrompt();
    auto client = KRJSONRPC::create();
    auto run = [&] { return KRTest::runThroughProxy(server, client); };

    answerProxyBox(QStringLiteral("me"), QStringLiteral("s3cret"), QStringLiteral("Cancel"), {}, proxy);
    auto cancelled = run();
    EXPECT_EQ(cancelled->error().code(), NetHTTPRequest::AuthenticationErrorType);

    answerProxyBox(QStringLiteral("me"), QStringLiteral("s3cret"), QStringLiteral("Login"), QStringLiteral("proxy-alert.png"), proxy);
    auto accepted = run();
    EXPECT_FALSE(accepted->error()) << accepted->error().toString().toStdString();

    // The credentials given are kept until the application quits: the next request is not
    // asked about again (an alert shown anyway is cancelled, and fails the request).
    bool askedAgain = false;
    QTimer guard;
    guard.setInterval(10);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        askedAgain = true;
        box->reject();
    });
    guard.start();
    auto again = run();
    guard.stop();
    EXPECT_FALSE(askedAgain);
    EXPECT_FALSE(again->error()) << again->error().toString().toStdString();

    KRJSONRPC::setProxyCredentialPrompt(nullptr);
    KRAlertService::setCurrent(previous);
}

} // namespace

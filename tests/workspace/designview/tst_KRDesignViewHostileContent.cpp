// A project is data in the design view: a page whose controls (a plug-in's among them) carry
// hostile markup in every property that holds text or HTML is shown with the real controls,
// and no script of the project runs there, no file outside the project is read and no request
// leaves (counted on a listener on 127.0.0.1), while the page's own libraries, the plug-in's
// drawing and the project's pictures still work.
#include "DesignViewTestSupport.h"

#include <KRCopyTree.h>

#include <controls/KRPluginLoader.h>
#include <model/KRWebFolder.h>
#include <platform/dom/DOMElement.h>
#include <platform/webview/KRLayoutCache.h>
#include <workspace/designview/KRPageDesignView.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

using namespace KRDesignViewTest;

// Readable text in test failures.
static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QString fixture(const QString &name)
{
    QFile file(QStringLiteral(KR_TEST_DATA_DIR "/hostile/") + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// Every connection made to it, with the request line it carried (if any came).
class CountingListener
{
public:
    CountingListener()
    {
        m_server.listen(QHostAddress::LocalHost);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    requests << QString::fromUtf8(request.left(request.indexOf("\r\n")));
                    socket->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }

    int connections = 0;
    QStringList requests;

private:
    QTcpServer m_server;
};

QString xmlText(const QString &text) { return text.toHtmlEscaped(); }

// Counts the presses the design view reports to the program.
class PressCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == KRWebViewPressEvent::eventType())
            ++count;
        return false;
    }
};

QString jsonItems(const QString &text)
{
    QJsonObject item{{QStringLiteral("label"), text},
                     {QStringLiteral("badge"), text},
                     {QStringLiteral("thumbnailImage"), text}};
    return QString::fromUtf8(QJsonDocument(QJsonArray{item, QJsonObject{{QStringLiteral("label"), text},
                                                                        {QStringLiteral("divider"), true}}})
                                 .toJson(QJsonDocument::Compact));
}

} // namespace

class KRDesignViewHostileContent : public LivePageTest
{
protected:
    // The design view of the page, shown `height` high with `surface` as its handler, once the
    // page's own scripts have drawn it (jQuery Mobile loaded and enhanced the controls) and it
    // has settled; null, with the failure said, when it is not drawn.
    std::unique_ptr<KRPageDesignView> drawnView(RecordingHandler &surface, int height)
    {
        auto made = KRPageDesignView::create(page);
        if (!made) {
            ADD_FAILURE() << made.error().message().toStdString();
            return nullptr;
        }
        std::unique_ptr<KRPageDesignView> live = std::move(made.value());
        live->setHandler(&surface);
        KRWebView *view = live->webView();
        view->resize(360, height);
        view->show();
        if (!KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); })) {
            ADD_FAILURE() << "the page was not drawn; agent errors: "
                          << view->agentErrors().join(QStringLiteral("; ")).toStdString();
            return nullptr;
        }
        if (!settle(*live)) {
            ADD_FAILURE() << "the page did not settle";
            return nullptr;
        }
        return live;
    }
};

TEST_F(KRDesignViewHostileContent, NoScriptRunsNoFileIsReadAndNoRequestLeavesWhateverTheControlsHold)
{
    CountingListener listener;
    ASSERT_GT(listener.port(), 0);
    const QString port = QString::number(listener.port());

    // A file beside the project that the page must not reach, and a picture there.
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(outside + QStringLiteral("/secret.txt"), "top secret");
    QFile::copy(QStringLiteral(KR_TEST_DATA_DIR "/hostile/picture.png"), outside + QStringLiteral("/picture.png"));

    QString hostile = fixture(QStringLiteral("content.html"));
    ASSERT_FALSE(hostile.isEmpty());
    hostile.replace(QStringLiteral("@PORT@"), port)
        .replace(QStringLiteral("@SECRET@"), QUrl::fromLocalFile(outside + QStringLiteral("/secret.txt")).toString())
        .replace(QStringLiteral("@OUTSIDE_PICTURE@"), QUrl::fromLocalFile(outside + QStringLiteral("/picture.png")).toString());
    const QString markdown = QStringLiteral("markdown:# Title\n\n[click](javascript:window.__kr_ran=['markdown-link']) "
                                            "![remote](http://127.0.0.1:%1/markdown.png)\n\n")
                                 .arg(port)
                             + hostile;
    const QString remote = QStringLiteral("http://127.0.0.1:%1/property.png").arg(port);
    const QString h = xmlText(hostile);

    const QString pages =
        QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                       "<JQMHeaderToolbar id=\"header1\" title=\"%1\" leftButtonLabel=\"%1\" rightButtonLabel=\"%1\" navbarItems=\"%2\"/>"
                       "<KRDiv id=\"plain\" top=\"60\" left=\"10\" width=\"300\" height=\"200\" backgroundImage=\"%3\">%1</KRDiv>"
                       "<KRDiv id=\"markdown\" top=\"270\" left=\"10\" width=\"300\" height=\"200\">%4</KRDiv>"
                       "<KRDiv id=\"html\" top=\"480\" left=\"10\" width=\"300\" height=\"40\">html:%1</KRDiv>"
                       "<KRLabel id=\"label1\" top=\"530\" left=\"10\" width=\"300\" height=\"24\">%1</KRLabel>"
                       "<KRButton id=\"button1\" top=\"560\" left=\"10\" width=\"150\" value=\"%1\"/>"
                       "<JQMButton id=\"button2\" top=\"600\" left=\"10\" width=\"150\" value=\"%1\"/>"
                       "<JQMSelect id=\"select1\" top=\"650\" left=\"10\" width=\"200\">%1\n2|%1</JQMSelect>"
                       "<JQMListView id=\"list1\" top=\"700\" left=\"10\" width=\"300\" height=\"200\">%5</JQMListView>"
                       "<JQMSimplePopup id=\"popup1\" title=\"%1\" message=\"%1\" button1Label=\"%1\"/>"
                       "<KRCarelessBox id=\"plugin1\" top=\"910\" left=\"10\" width=\"300\" height=\"100\" caption=\"%1\"/>"
                       "</KRContents></KRPage>")
            .arg(h, xmlText(jsonItems(hostile)), xmlText(remote), xmlText(markdown), xmlText(jsonItems(hostile)));
    if (!startRuntimeServer())
        GTEST_SKIP() << "the runtime server does not run here (node missing)";
    // An installed plug-in whose drawing on the design surface puts its caption in as markup.
    ASSERT_TRUE(KRTest::copyTree(QStringLiteral(KR_TEST_DATA_DIR "/hostile/Careless.krplugin"),
                                 KRPluginLoader::pluginsDirectory() + QStringLiteral("/Careless.krplugin")));
    registerClasses();
    KRPluginLoader plugins;
    plugins.loadAllPlugins();
    ASSERT_TRUE(plugins.problems().isEmpty()) << plugins.problems().join(QStringLiteral("; ")).toStdString();
    project = openProject(projectXML(pages), document);
    ASSERT_TRUE(project);
    page = project->pageForID(QStringLiteral("page1"));
    ASSERT_TRUE(page);
    // The project's own picture, and a script and style sheet of its own that nothing names
    // in a way the design view should follow.
    const QString webFolder = project->webFolder()->krwebPath();
    QFile::copy(QStringLiteral(KR_TEST_DATA_DIR "/hostile/picture.png"), webFolder + QStringLiteral("/picture.png"));
    KRTest::writeFile(webFolder + QStringLiteral("/evil.js"), fixture(QStringLiteral("evil.js")).replace(QStringLiteral("@PORT@"), port).toUtf8());
    KRTest::writeFile(webFolder + QStringLiteral("/evil.css"), fixture(QStringLiteral("evil.css")).replace(QStringLiteral("@PORT@"), port).toUtf8());

    // The page's own scripts run: jQuery Mobile loads and enhances the controls.
    RecordingHandler surface;
    std::unique_ptr<KRPageDesignView> live = drawnView(surface, 900);
    ASSERT_TRUE(live);
    KRWebView *view = live->webView();
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_list1_ul').hasClass('ui-listview')")).toBool(), true);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return js(*view, QStringLiteral("window.__kr_carelessDrawn")).toInt() > 0; }));
    // The project's picture loads; the one beside the project does not.
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        return js(*view, QStringLiteral("document.getElementById('h-inside').naturalWidth")).toInt() == 8;
    }));
    // Whatever was going to happen has had its time.
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_EQ(js(*view, QStringLiteral("document.getElementById('h-outside').naturalWidth")).toInt(), 0);

    EXPECT_EQ(js(*view, QStringLiteral("JSON.stringify(window.__kr_ran || [])")).toString(), QStringLiteral("[]"));
    EXPECT_EQ(listener.connections, 0) << listener.requests.join(QStringLiteral("\n")).toStdString();
    for (const QString &request : std::as_const(listener.requests))
        EXPECT_FALSE(request.contains(QStringLiteral("secret"))) << request.toStdString();

    // The design document never held the active parts of the content; the rest is shown.
    for (const QString &id : {QStringLiteral("plain"), QStringLiteral("markdown")}) {
        const auto shown = page->objectForID(id)->domElement();
        const QStringList active = {QStringLiteral("script"), QStringLiteral("iframe"), QStringLiteral("object"),
                                    QStringLiteral("embed"), QStringLiteral("meta"), QStringLiteral("link")};
        for (const auto &element : shown->getElementsByTagName(QStringLiteral("*"))) {
            EXPECT_FALSE(active.contains(element->localName())) << id.toStdString() << ": " << element->outerHTML().toStdString();
            for (const auto &[name, value] : element->attributes()) {
                EXPECT_FALSE(name.startsWith(QLatin1String("on")) || name == QLatin1String("srcdoc") || name.endsWith(QLatin1String("action"))
                             || value.contains(QLatin1String("javascript:")))
                    << id.toStdString() << ": " << element->outerHTML().toStdString();
            }
        }
        EXPECT_TRUE(shown->innerHTML().contains(QStringLiteral("id=\"h-inside\""))) << shown->innerHTML().toStdString();
    }
    // Nothing of it is lost: the project keeps the content as it was written, and a page made
    // for the built application carries it whole (there the project's scripts run).
    EXPECT_EQ(page->objectForID(QStringLiteral("plain"))->value(QStringLiteral("kr_content")), hostile);
    live.reset();
    std::shared_ptr<KRDocument> builtDocument;
    const auto built = openProject(projectXML(pages), builtDocument, false);
    ASSERT_TRUE(built);
    const auto builtPage = built->pageForID(QStringLiteral("page1"));
    ASSERT_TRUE(builtPage && builtPage->objectForID(QStringLiteral("plain"))->domElement());
    const QString output = builtPage->objectForID(QStringLiteral("plain"))->domElement()->innerHTML();
    EXPECT_TRUE(output.contains(QStringLiteral("onerror=")) && output.contains(QStringLiteral("<script>"))) << output.toStdString();
}

// Names in content that the document or the window would answer for (a named picture or form
// stands in for the document's own functions; an id for the window's) change nothing on the
// surface: the page is drawn and changed as any other. A property that jQuery Mobile writes into
// markup of its own (a button's icon, theme and icon place, a list's icons and themes, a
// toolbar's button and navigation icons, a pop-up's id in content) is data there: none of its
// markup reaches the document. The built page keeps the names, which are the user's there.
TEST_F(KRDesignViewHostileContent, NamesInContentAndMarkupInPropertiesLeaveThePageDrawnAndChangeable)
{
    const QString names = QStringLiteral(
        "Hello <img name=\"createElement\"><form name=\"createElement\"></form><img name=\"head\">"
        "<form name=\"getElementById\"></form><img name=\"createTextNode\"><img name=\"elementsFromPoint\">"
        "<img id=\"querySelector\" name=\"x\"><span id=\"addEventListener\">!</span>"
        "<form><input name=\"appendChild\"><input name=\"getAttribute\"><input id=\"nodeName\">"
        "<input name=\"parentNode\"><input name=\"setAttribute\"><input id=\"classList\"><img id=\"nodeType\"></form>"
        "<div data-role=\"popup\" id=\"--><img data-hostile src=nowhere.png>\">Popped</div>");
    // Markup in a value: each element marked, so that any of it found in the document is known.
    const QString markup = QStringLiteral(
        "star' data-hostile='attribute'><iframe data-hostile src='about:blank'></iframe>"
        "<object data-hostile data='nowhere.swf'></object><meta data-hostile http-equiv='refresh' content='0;url=about:blank'>"
        "<script data-hostile>window.__kr_ran=['script']</script>"
        "<img data-hostile src='nowhere.png' onerror=\"window.__kr_ran=['onerror']\">"
        "<form data-hostile><input data-hostile name='createElement'></form><i class='");
    const QString m = xmlText(markup);
    const QString items = xmlText(QString::fromUtf8(
        QJsonDocument(QJsonArray{QJsonObject{{QStringLiteral("label"), QStringLiteral("One")}, {QStringLiteral("icon"), markup},
                                             {QStringLiteral("theme"), markup}},
                                 QJsonObject{{QStringLiteral("label"), QStringLiteral("Two")}, {QStringLiteral("divider"), true},
                                             {QStringLiteral("theme"), markup}}})
            .toJson(QJsonDocument::Compact)));
    const QString pages =
        QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                       "<JQMHeaderToolbar id=\"header1\" title=\"Names\" leftButtonLabel=\"Back\" leftButtonIcon=\"%2\" "
                       "leftButtonIconpos=\"%2\" leftButtonTheme=\"%2\" navbarItems=\"%3\" navbarIconpos=\"%2\"/>"
                       "<KRDiv id=\"plain\" top=\"100\" left=\"10\" width=\"300\" height=\"60\">%1</KRDiv>"
                       "<KRDiv id=\"markdown\" top=\"170\" left=\"10\" width=\"300\" height=\"60\">markdown:%1</KRDiv>"
                       "<KRDiv id=\"html\" top=\"240\" left=\"10\" width=\"300\" height=\"40\">html:%1</KRDiv>"
                       "<KRLabel id=\"label1\" top=\"290\" left=\"10\" width=\"300\" height=\"24\">Before</KRLabel>"
                       "<JQMButton id=\"button1\" top=\"320\" left=\"10\" width=\"150\" value=\"Press\" icon=\"%2\" "
                       "iconpos=\"%2\" theme=\"%2\"/>"
                       "<JQMSelect id=\"select1\" top=\"380\" left=\"10\" width=\"200\" icon=\"%2\" iconpos=\"%2\" "
                       "theme=\"%2\">1|One\n2|Two</JQMSelect>"
                       "<JQMListView id=\"list1\" top=\"440\" left=\"10\" width=\"300\" height=\"120\" icon=\"%2\" "
                       "theme=\"%2\" dividerTheme=\"%2\">%3</JQMListView>"
                       "</KRContents></KRPage>")
            .arg(xmlText(names), m, items);
    registerClasses();
    openPages(pages);
    if (IsSkipped() || HasFatalFailure())
        return;

    // The page is drawn: jQuery Mobile loads and enhances the controls.
    RecordingHandler surface;
    std::unique_ptr<KRPageDesignView> live = drawnView(surface, 700);
    ASSERT_TRUE(live);
    KRWebView *view = live->webView();
    EXPECT_TRUE(js(*view, QStringLiteral("$('#_page1_list1_ul').hasClass('ui-listview')")).toBool())
        << js(*view, QStringLiteral("(function(){ try { $('#_page1_list1_ul').listview(); return 'ok ' + document.getElementById('_page1_list1_ul').className; } catch (e) { return e.stack; } })()")).toString().toStdString();
    EXPECT_EQ(js(*view, QStringLiteral("typeof document.createElement + typeof document.getElementById + typeof "
                                       "document.createTextNode + typeof document.elementsFromPoint + typeof "
                                       "document.querySelector + typeof window.addEventListener + (document.head === "
                                       "document.querySelector('head'))"))
                  .toString(),
              QStringLiteral("functionfunctionfunctionfunctionfunctionfunctiontrue"));
    EXPECT_TRUE(js(*view, QStringLiteral("Array.prototype.every.call(document.body.querySelectorAll('form'), function (f) {"
                                         " return typeof f.appendChild === 'function' && typeof f.getAttribute === 'function'"
                                         " && f.parentNode.nodeType === 1 && f.parentNode.localName === 'div'"
                                         " && f.nodeType === 1 && typeof f.nodeName === 'string'; })"))
                    .toBool());
    // The words around the names are shown.
    for (const QString &id : {QStringLiteral("plain"), QStringLiteral("markdown")})
        EXPECT_TRUE(js(*view, liveNode(page->objectForID(id)->domElement()) + QStringLiteral(".textContent")).toString().contains(QStringLiteral("Hello")))
            << id.toStdString();

    // None of the markup the properties held is in the document, and nothing of it ran.
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(js(*view, QStringLiteral("Array.prototype.map.call(document.body.querySelectorAll('[data-hostile], iframe, object, "
                                       "embed, meta, [onerror]'), function (e) { return e.outerHTML; }).join(' | ')"))
                  .toString(),
              QString());
    EXPECT_EQ(js(*view, QStringLiteral("JSON.stringify(window.__kr_ran || [])")).toString(), QStringLiteral("[]"));

    // A change still reaches the page, and a press still reaches the program.
    page->objectForID(QStringLiteral("label1"))->setValue(QStringLiteral("kr_value"), QStringLiteral("After"));
    page->objectForID(QStringLiteral("plain"))->setValue(QStringLiteral("kr_content"), QStringLiteral("Changed <b>words</b>"));
    ASSERT_TRUE(settle(*live));
    EXPECT_EQ(js(*view, liveNode(page->objectForID(QStringLiteral("label1"))->domElement()) + QStringLiteral(".textContent")).toString(),
              QStringLiteral("After"));
    EXPECT_EQ(js(*view, liveNode(page->objectForID(QStringLiteral("plain"))->domElement()) + QStringLiteral(".innerHTML")).toString(),
              QStringLiteral("Changed <b>words</b>"));

    // A name that reached the document past the writer (a page library's own markup) still
    // changes nothing for the agent: it goes on applying changes and reporting presses.
    js(*view, QStringLiteral("(function () { ['createElement', 'createTextNode', 'createComment', 'elementsFromPoint', "
                             "'elementFromPoint', 'createTreeWalker', 'head', 'body', 'documentElement'].forEach(function (n) {"
                             " var i = document.createElement('img'); i.name = n; i.className = 'slipped'; "
                             "document.body.appendChild(i); }); return typeof document.createElement; })()"));
    ASSERT_EQ(js(*view, QStringLiteral("typeof document.createElement")).toString(), QStringLiteral("object"));
    page->objectForID(QStringLiteral("plain"))->setValue(QStringLiteral("kr_content"), QStringLiteral("Again <i>changed</i>"));
    page->objectForID(QStringLiteral("label1"))->setValue(QStringLiteral("kr_value"), QStringLiteral("Later"));
    ASSERT_TRUE(settle(*live));
    EXPECT_EQ(js(*view, liveNode(page->objectForID(QStringLiteral("plain"))->domElement()) + QStringLiteral(".innerHTML")).toString(),
              QStringLiteral("Again <i>changed</i>"));
    EXPECT_EQ(js(*view, liveNode(page->objectForID(QStringLiteral("label1"))->domElement()) + QStringLiteral(".textContent")).toString(),
              QStringLiteral("Later"));
    PressCounter presses;
    view->installEventFilter(&presses);
    const KRNodeGeometry g = page->layoutSource()->geometryForNode(page->objectForID(QStringLiteral("label1"))->domElement()->nodeId());
    ASSERT_TRUE(g.valid);
    ASSERT_NE(view->focusProxy(), nullptr);
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(int(g.clientLeft + g.boundingWidth / 2), int(g.clientTop + g.boundingHeight / 2)));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickElement")) != nullptr; }));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return presses.count > 0; })) << "the press never reached the program";
    view->removeEventFilter(&presses);
    js(*view, QStringLiteral("Array.prototype.forEach.call(document.querySelectorAll('img.slipped'), function (i) { i.remove(); })"));

    // The built page keeps every name, and a property never leaves its attribute there.
    live.reset();
    std::shared_ptr<KRDocument> builtDocument;
    const auto built = openProject(projectXML(pages), builtDocument, false);
    ASSERT_TRUE(built);
    const auto builtPage = built->pageForID(QStringLiteral("page1"));
    ASSERT_TRUE(builtPage);
    for (const QString &id : {QStringLiteral("plain"), QStringLiteral("html")}) {
        const QString output = builtPage->objectForID(id)->domElement()->innerHTML();
        EXPECT_TRUE(output.contains(QStringLiteral("<img name=\"createElement\">")) && output.contains(QStringLiteral("id=\"addEventListener\"")))
            << id.toStdString() << ": " << output.toStdString();
    }
}

// A page that fails before it is drawn (here its document's own function is taken away before
// the page's libraries run) says so in place of the loading picture, never a grey surface alone.
TEST_F(KRDesignViewHostileContent, APageThatFailsBeforeItIsDrawnSaysSo)
{
    registerClasses();
    openPages(QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                             "<KRLabel id=\"label1\" top=\"20\" left=\"10\" width=\"300\" height=\"24\">Hello</KRLabel>"
                             "</KRContents></KRPage>"));
    if (IsSkipped() || HasFatalFailure())
        return;
    auto made = KRPageDesignView::create(page);
    ASSERT_TRUE(made) << made.error().message().toStdString();
    std::unique_ptr<KRPageDesignView> live = std::move(made.value());
    KRWebView *view = live->webView();
    js(*view, QStringLiteral("Object.defineProperty(document, 'createElement', { value: null }); 1"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !live->loadProblem().isEmpty(); }, std::chrono::seconds(20)))
        << "nothing said; drawn: " << live->isDesignDocumentLoaded();
    EXPECT_FALSE(live->isDesignDocumentLoaded());
    EXPECT_TRUE(live->loadProblem().startsWith(QLatin1String("The page could not be drawn: Uncaught TypeError")))
        << live->loadProblem().toStdString();
}

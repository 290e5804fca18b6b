#include "KRModelTestFixtures.h"
#include "KRPageTestSupport.h"
#include "KRTestSupport.h"

#include <core/KRXMLDocument.h>
#include <model/KRClassRegistry.h>
#include <model/KRFunction.h>
#include <model/KRPasteboard.h>
#include <model/KRStyleClass.h>
#include <model/KRWebFolder.h>
#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <model/KRProjectResource.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const QString kPage1 = QStringLiteral(
    "<KRPage id=\"page1\" title=\"Page 1\" theme=\"c\" color=\"red\" backgroundColor=\"#fff\" fontSize=\"12\">"
    "<cssIncludes>a.less\n\nhttp://x/b.less</cssIncludes><KRContents/></KRPage>");

// Compares with a golden file; a mismatch leaves "<name>.FAILED" next to it.
void expectGolden(const QString &name, const QString &actual)
{
    const QString path = QStringLiteral(KR_TEST_DATA_DIR) + QStringLiteral("/model/golden/") + name;
    krExpectGoldenFile(path, actual);
}

QString head(const std::shared_ptr<KRPage> &page)
{
    // The base element holds the sandbox path: leave it out of the golden text.
    QString text = page->headElement()->outerHTML();
    if (const auto base = page->headElement()->firstElementByTagName(QStringLiteral("base")))
        text.replace(base->outerHTML(), QStringLiteral("<base>"));
    return text + QLatin1Char('\n');
}

std::shared_ptr<KRDesignControl> control(const std::shared_ptr<KRObject> &object)
{
    return std::dynamic_pointer_cast<KRDesignControl>(object);
}

// The design test classes, and a div that holds contents.
void registerClassesWithDivs()
{
    krRegisterDesignTestClasses();
    if (!KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KRDiv"))) {
        KRObjectClass div;
        div.className = QStringLiteral("KRDiv");
        div.superclassName = QStringLiteral("KRObject");
        div.idBase = QStringLiteral("div");
        div.factory = [](const KRObjectInit &init) { return std::make_shared<KRDesignControl>(init); };
        KRClassRegistry::sharedInstance().registerClass(div);
    }
}

} // namespace

TEST(KRPageDocument, DesignAndOutputMarkupMatchGoldenFiles)
{
    auto design = krOpenProject(krProjectXML(kPage1));
    ASSERT_TRUE(design);
    const auto page = design->krPages().first();
    expectGolden(QStringLiteral("design-head.html"), head(page));
    expectGolden(QStringLiteral("design-body.html"), page->bodyElement()->outerHTML() + QLatin1Char('\n'));

    auto output = krOpenProject(krProjectXML(kPage1, QStringLiteral("JQMVersion=\"1.3\" generateManifest=\"true\" "
                                                                     "cssIncludes='[\"site.css\"]' appleTouchIcon=\"icon.png\"")),
                                false);
    ASSERT_TRUE(output);
    const auto built = output->krPages().first();
    EXPECT_EQ(built->htmlElement()->getAttribute(QStringLiteral("manifest")), QStringLiteral("cache.manifest"));
    expectGolden(QStringLiteral("output-head.html"), head(built));
    expectGolden(QStringLiteral("output-body.html"), built->bodyElement()->outerHTML() + QLatin1Char('\n'));
    EXPECT_TRUE(built->manifestResources().contains(QStringLiteral("icon.png")));
}

TEST(KRPageDocument, BridgeQueueAndThemeSwitch)
{
    auto project = krOpenProject(krProjectXML(kPage1));
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    auto *host = dynamic_cast<DOMRecordingScriptHost *>(page->scriptHost());
    ASSERT_TRUE(host);
    EXPECT_EQ(host->hostObject(QStringLiteral("___kr_page")), page->pageProxy());

    QStringList order;
    page->onJQueryMobileLoaded([&] { order << QStringLiteral("a"); });
    page->onJQueryMobileLoaded([&] { order << QStringLiteral("b"); });
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    const auto scripts = page->headElement()->getElementsByTagName(QStringLiteral("script"));
    EXPECT_EQ(scripts.back()->getAttribute(QStringLiteral("src")),
              QStringLiteral("http://127.0.0.1:4242//__kr_bundle/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"));
    EXPECT_TRUE(order.isEmpty());
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryMobileLoaded");
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return order.size() == 2; }, std::chrono::milliseconds(5000)));
    EXPECT_EQ(order, (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    page->onJQueryMobileLoaded([&] { order << QStringLiteral("now"); });
    EXPECT_EQ(order.last(), QStringLiteral("now")); // ran before returning
    // The toolbar fix ran as the first queued block.
    EXPECT_FALSE(host->evaluatedScripts().isEmpty());

    // No theme resource: the link. A custom theme: inline style with images from the server.
    ASSERT_TRUE(page->themeLinkElement());
    const QString css = QStringLiteral(".ui-btn{} .ui-body-a{} .ui-bar-a{} .ui-shadow{} x{background:url(images/a.png)}");
    KRTest::writeFile(project->webFolder()->krwebPath() + QStringLiteral("/mytheme.css"), css.toUtf8());
    project->reloadResources();
    project->setDefaultTheme(QStringLiteral("mytheme"));
    EXPECT_FALSE(page->themeLinkElement());
    ASSERT_TRUE(page->themeStyleElement());
    EXPECT_TRUE(page->themeStyleElement()->textContent().contains(
        QStringLiteral("url(http://127.0.0.1:4242//__kr_bundle/jquery.mobile-1.4.0/images/a.png)")));
    project->setDefaultTheme(QString());
    EXPECT_FALSE(page->themeStyleElement());
    ASSERT_TRUE(page->themeLinkElement());
    EXPECT_EQ(page->headElement()->getElementsByTagName(QStringLiteral("style")).size(), 1u);
}

// A page mirrored again (another view, or the same one reloaded) loads jQuery Mobile again:
// the scripts are there once, work queued meanwhile waits for the new load and runs once, and
// the page's own set-up reaches the new view.
TEST(KRPageDocument, SecondMirrorLoadsJQueryMobileOnceMore)
{
    auto project = krOpenProject(krProjectXML(kPage1));
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto jqmScripts = [&] {
        int count = 0;
        for (const auto &script : page->headElement()->getElementsByTagName(QStringLiteral("script")))
            count += script->getAttribute(QStringLiteral("src")).contains(QLatin1String("jquery.mobile-1.4.0.min.js"));
        return count;
    };
    const auto headScripts = [&] { return page->headElement()->getElementsByTagName(QStringLiteral("script")).size(); };
    const auto atRest = headScripts();
    QStringList order;
    const auto loadInView = [&] {
        QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
        EXPECT_EQ(jqmScripts(), 1);
        QMetaObject::invokeMethod(page->pageProxy(), "jqueryMobileLoaded");
        KRTest::processEventsUntil([&] { return false; }, std::chrono::milliseconds(50));
    };
    page->onJQueryMobileLoaded([&] { order << QStringLiteral("first"); });
    loadInView();
    const auto afterFirst = headScripts();

    DOMRecordingScriptHost second;
    page->setScriptHost(&second);
    EXPECT_FALSE(page->didJQueryMobileLoad());
    page->onJQueryMobileLoaded([&] { order << QStringLiteral("second"); });
    EXPECT_EQ(order, QStringList{QStringLiteral("first")});
    loadInView();
    EXPECT_EQ(order, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    ASSERT_FALSE(second.evaluatedScripts().isEmpty()); // the toolbar fix
    // The same view reloaded: once more, and nothing piles up in the document.
    const auto evaluated = second.evaluatedScripts().size();
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded"); // a stray repeat adds nothing
    EXPECT_EQ(jqmScripts(), 1);
    loadInView();
    EXPECT_GT(second.evaluatedScripts().size(), evaluated);
    EXPECT_EQ(headScripts(), afterFirst);
    EXPECT_EQ(afterFirst, atRest); // a new view starts from jQuery alone, as the first did
    EXPECT_EQ(order.size(), 2);

    // A new view while the last one is still loading: it, too, starts from jQuery alone, and
    // the toolbar fix runs there once.
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    DOMRecordingScriptHost third;
    page->setScriptHost(&third);
    EXPECT_EQ(jqmScripts(), 0);
    loadInView();
    EXPECT_EQ(third.evaluatedScripts().size(), 1);
    EXPECT_EQ(headScripts(), atRest);
    page->setScriptHost(nullptr);
}

TEST(KRPageDocument, PagePropertiesThemeGradientAndRename)
{
    auto project = krOpenProject(krProjectXML(kPage1));
    const auto page = project->krPages().first();
    page->setValue(QStringLiteral("kr_theme"), QStringLiteral("b"));
    EXPECT_EQ(page->pageDivElement()->getAttribute(QStringLiteral("data-theme")), QStringLiteral("b"));
    EXPECT_TRUE(page->pageDivElement()->classes().contains(QStringLiteral("ui-body-b")));
    EXPECT_EQ(page->pageDivElement()->classes().filter(QStringLiteral("ui-body-")).size(), 1);
    EXPECT_EQ(page->bodyElement()->classes().filter(QStringLiteral("ui-overlay-")).size(), 1);

    page->setValue(QStringLiteral("kr_backgroundGradient"), QStringLiteral("red, blue"));
    EXPECT_EQ(page->value(QStringLiteral("kr_backgroundAttachment")), QStringLiteral("fixed"));
    page->setValue(QStringLiteral("kr_backgroundGradient"), QString());
    EXPECT_EQ(page->value(QStringLiteral("kr_backgroundAttachment")), QStringLiteral("fixed"));
    // The colour also goes on the body, with its priority.
    EXPECT_EQ(page->bodyElement()->style().getPropertyPriority(QStringLiteral("background-color")), QStringLiteral("important"));

    QVariantMap info;
    auto token = KRNotificationCenter::defaultCenter().addObserver(
        KRProjectDidRenamePageNotification, project->identity(), [&](const KRNotification &n) { info = n.userInfo; });
    page->setKr_id(QStringLiteral("home"));
    EXPECT_EQ(info.value(QStringLiteral("oldValue")).toString(), QStringLiteral("page1"));
    EXPECT_EQ(info.value(QStringLiteral("newValue")).toString(), QStringLiteral("home"));
    EXPECT_EQ(page->pageDivElement()->id(), QStringLiteral("home"));
    EXPECT_EQ(page->objectForID(QStringLiteral("home")), page);
}

TEST(KRProjectPages, FreeIdsDeleteUndoRedo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/><KRPage id=\"page3\"/>")), true, &document);
    ASSERT_TRUE(project);
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    EXPECT_EQ(project->createNewPage()->kr_id(), QStringLiteral("page2"));
    undo.endUndoGrouping();
    undo.beginUndoGrouping();
    EXPECT_EQ(project->createNewPage()->kr_id(), QStringLiteral("page4"));
    undo.endUndoGrouping();
    EXPECT_EQ(project->pageForID(QStringLiteral("page4"))->xmlElement().attribute(QStringLiteral("id")), QStringLiteral("page4"));

    int deleted = 0, created = 0;
    auto t1 = KRNotificationCenter::defaultCenter().addObserver(KRProjectDidDeletePageNotification, project->identity(),
                                                                [&](const KRNotification &) { ++deleted; });
    auto t2 = KRNotificationCenter::defaultCenter().addObserver(KRProjectDidCreatePageNotification, project->identity(),
                                                                [&](const KRNotification &) { ++created; });
    const auto first = project->krPages().first();
    undo.beginUndoGrouping();
    project->deletePage(first);
    undo.endUndoGrouping();
    EXPECT_EQ(deleted, 1);
    EXPECT_FALSE(project->pageForID(QStringLiteral("page1")));
    undo.undo();
    EXPECT_EQ(created, 1);
    EXPECT_EQ(project->krPages().last(), first);
    const auto elements = document->xmlDocument().rootElement().firstElementForXPath(QStringLiteral("//KRPages")).elements();
    EXPECT_EQ(elements.last().attribute(QStringLiteral("id")), QStringLiteral("page1"));
    undo.redo();
    EXPECT_EQ(deleted, 2);
    EXPECT_FALSE(project->pageForID(QStringLiteral("page1")));

    undo.beginUndoGrouping();
    auto dup = project->duplicatePage(project->pageForID(QStringLiteral("page3")));
    undo.endUndoGrouping();
    EXPECT_EQ(dup->kr_id(), QStringLiteral("page1"));
}

TEST(KRProjectSettings, TypedSettingsUndoIncludesAndLibraries)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>"), QStringLiteral("JQMVersion=\"1.4\" designTarget=\"\"")),
                                 true, &document);
    ASSERT_TRUE(project);
    EXPECT_EQ(project->designTarget(), QStringLiteral("iPhone"));
    EXPECT_FALSE(project->showGrid());
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    project->setShowGrid(true);
    undo.endUndoGrouping();
    undo.beginUndoGrouping();
    project->setShowGrid(false);
    undo.endUndoGrouping();
    EXPECT_EQ(project->projectSettingForKey(QStringLiteral("showGrid")), QStringLiteral("false"));
    undo.undo();
    EXPECT_TRUE(project->showGrid());
    undo.setGroupsByEvent(true);

    project->setJavascriptIncludes({});
    EXPECT_EQ(project->projectSettingForKey(QStringLiteral("javascriptIncludes")), QString());
    EXPECT_TRUE(project->javascriptIncludes().isEmpty());
    project->setJavascriptIncludes({QStringLiteral("a b.js")});
    EXPECT_EQ(project->projectSettingForKey(QStringLiteral("javascriptIncludes")), QStringLiteral("[\"a b.js\"]"));

    EXPECT_EQ(project->jqmURLs().size(), 17);
    EXPECT_EQ(project->jqmStructureCSSURL(true),
              QStringLiteral("http://127.0.0.1:4242//__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css"));
    project->setExportMode(true);
    project->setExportLocalJQuerySources(true);
    EXPECT_EQ(project->jqmJSURL(false), QStringLiteral("jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"));
    project->setExportLocalJQuerySources(false);
    EXPECT_EQ(project->jqmJSURL(false),
              QStringLiteral("https://ajax.aspnetcdn.com/ajax/jquery.mobile/1.4.0/jquery.mobile-1.4.0.min.js"));
    EXPECT_TRUE(project->syntaxErrors().isEmpty());
}

// The classes a project's pages left out because no class of the name is known: each once,
// across the pages, in the order met.
TEST(KRPageObjects, UnknownClassesAreNamedOnceAcrossPages)
{
    auto project = krOpenProject(krProjectXML(QStringLiteral(
        "<KRPage id=\"page1\"><KRContents>"
        "<XYZGauge id=\"g1\"/><KRDesignControl id=\"a\"/><XYZGauge id=\"g2\"/><PlugInDial id=\"d1\"/>"
        "</KRContents></KRPage>"
        "<KRPage id=\"page2\"><KRContents><XYZGauge id=\"g3\"/><Other id=\"o\"/></KRContents></KRPage>")));
    ASSERT_TRUE(project);
    EXPECT_EQ(project->pageForID(QStringLiteral("page1"))->unknownClassNames(),
              (QStringList{QStringLiteral("XYZGauge"), QStringLiteral("PlugInDial")}));
    EXPECT_EQ(project->unknownClassNames(),
              (QStringList{QStringLiteral("XYZGauge"), QStringLiteral("PlugInDial"), QStringLiteral("Other")}));
}

TEST(KRPageObjects, LoadOrderDuplicateIdsAndUnknownClasses)
{
    auto project = krOpenProject(krProjectXML(QStringLiteral(
        "<KRPage id=\"page1\"><KRContents>"
        "<KRDesignControl id=\"a\" top=\"50\" left=\"10\"/><KRDesignControl id=\"b\" top=\"10\" left=\"200\"/>"
        "<KRMissingPlugin id=\"m\"/><KRPage id=\"nested\"/>"
        "<KRDesignControl id=\"c\" top=\"10\" left=\"5\"/><KRDesignControl id=\"d\"/>"
        "<KRDesignControl id=\"x\" top=\"90\"/><KRDesignControl id=\"x\" top=\"91\"/><KRDesignControl id=\"x\" top=\"92\"/>"
        "</KRContents></KRPage>")));
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    QStringList order;
    for (const auto &child : page->children())
        order << child->kr_id();
    EXPECT_EQ(order, (QStringList{QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a"),
                                  QStringLiteral("x"), QStringLiteral("x2"), QStringLiteral("x3")}));
    EXPECT_EQ(page->objectForID(QStringLiteral("x3"))->xmlElement().attribute(QStringLiteral("id")), QStringLiteral("x3"));
    EXPECT_EQ(page->loadWarnings().size(), 4); // the unknown class, the nested page and the two renames
    EXPECT_EQ(page->unknownClassNames(), QStringList{QStringLiteral("KRMissingPlugin")});
    // The unknown element stays in the file.
    EXPECT_FALSE(page->xmlElement().firstElementForXPath(QStringLiteral(".//KRMissingPlugin")).isNull());
    EXPECT_TRUE(page->requiredObjectScripts().contains(QStringLiteral("test/control.js")));
    const auto span = page->domDocument()->createElement(QStringLiteral("span"));
    page->objectForID(QStringLiteral("a"))->domElement()->appendChild(span);
    EXPECT_EQ(page->objectFromElement(span), page->objectForID(QStringLiteral("a")));
    EXPECT_FALSE(page->objectFromElement(page->bodyElement()));
}

TEST(KRPageObjects, CreateDeleteUndoRedo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")), true, &document);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    const auto first = page->createNewObject(QStringLiteral("KRDesignControl"), 12.4, 30.6, QString());
    undo.endUndoGrouping();
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Create KRDesignControl"));
    undo.beginUndoGrouping();
    const auto second = page->createNewObject(QStringLiteral("KRDesignControl"), QString());
    undo.endUndoGrouping();
    EXPECT_EQ(first->kr_id(), QStringLiteral("control1"));
    EXPECT_EQ(second->kr_id(), QStringLiteral("control2"));
    EXPECT_EQ(first->value(QStringLiteral("kr_left")), QStringLiteral("12"));
    EXPECT_EQ(first->domElement()->style().getPropertyValue(QStringLiteral("top")), QStringLiteral("31px"));

    int deletedNotes = 0;
    auto token = KRNotificationCenter::defaultCenter().addObserver(KRPageDidDeleteObjectNotification, page->identity(),
                                                                   [&](const KRNotification &) { ++deletedNotes; });
    const auto domParent = first->domElement()->parentNode();
    undo.beginUndoGrouping();
    page->deleteObjects({first});
    undo.endUndoGrouping();
    EXPECT_EQ(deletedNotes, 1);
    EXPECT_FALSE(first->domElement()->parentNode());
    undo.beginUndoGrouping();
    EXPECT_EQ(page->createNewObject(QStringLiteral("KRDesignControl"), QString())->kr_id(), QStringLiteral("control1"));
    undo.endUndoGrouping();
    page->deleteObjects({page->objectForID(QStringLiteral("control1"))});
    undo.undo(); // the last deletion
    undo.undo(); // the creation of the third
    undo.undo(); // the first deletion
    EXPECT_EQ(page->objectForID(QStringLiteral("control1")), first);
    EXPECT_EQ(first->domElement()->parentNode(), domParent);
    EXPECT_EQ(domParent->lastChild(), first->domElement());
    undo.redo();
    EXPECT_FALSE(page->objectForID(QStringLiteral("control1")));
    undo.beginUndoGrouping();
    EXPECT_EQ(page->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("control2_onClick"))->kr_id(),
              QStringLiteral("control2_onClick"));
    undo.endUndoGrouping();
    EXPECT_FALSE(page->createNewObject(QStringLiteral("NoSuchClass"), QString()));
}

// Objects deleted together, in any order, go back to their places in the file when the
// deletion is undone, and again after a redo and a second undo.
TEST(KRPageObjects, UndoneDeletionKeepsTheObjectsOrder)
{
    krRegisterDesignTestClasses();
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents><KRDesignControl id=\"a\"/>"
                                    "<KRDesignControl id=\"b\"/><KRDesignControl id=\"c\"/>"
                                    "<KRDesignControl id=\"d\"/></KRContents></KRPage>")),
        true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto order = [&page] {
        QStringList ids;
        const KRXMLNode contents = page->objectForID(QStringLiteral("b"))->xmlElement().parent();
        for (const KRXMLNode &element : contents.elements())
            ids.append(element.attribute(QStringLiteral("id")));
        return ids.join(QLatin1Char(' '));
    };
    const auto domOrder = [&page] {
        QStringList ids;
        const auto container = page->objectForID(QStringLiteral("b"))->domElement()->parentNode();
        for (const auto &child : container->childNodes()) {
            const auto object = page->objectFromElement(child);
            if (object && object->domElement() == child)
                ids.append(object->kr_id());
        }
        return ids.join(QLatin1Char(' '));
    };
    ASSERT_EQ(order(), QStringLiteral("a b c d"));
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    page->deleteObjects({page->objectForID(QStringLiteral("c")), page->objectForID(QStringLiteral("a")),
                         page->objectForID(QStringLiteral("d"))});
    undo.endUndoGrouping();
    EXPECT_EQ(order(), QStringLiteral("b"));
    undo.undo();
    EXPECT_EQ(order(), QStringLiteral("a b c d"));
    EXPECT_EQ(domOrder(), QStringLiteral("a b c d"));
    undo.redo();
    EXPECT_EQ(order(), QStringLiteral("b"));
    undo.undo();
    EXPECT_EQ(order(), QStringLiteral("a b c d"));
}

// Objects pasted into a page land in its contents: a copy nested deeper than the saved project
// may hold there is refused with a message and no undo step, so the project always reads
// back; one that just fits is pasted.
TEST(KRPageObjects, PasteNestedPastWhatTheProjectMayHoldIsRefused)
{
    registerClassesWithDivs();
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents/></KRPage>")), true,
                                 &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    // KRProjectDocument, KRPages, KRPage, KRContents: the room below is the bound less four.
    const int room = KRXMLDocument::MaximumDepth - 4;
    const auto copied = [](int divs, bool control) {
        QString text = QStringLiteral("<objects>");
        for (int n = 1; n <= divs; ++n)
            text += QStringLiteral("<KRDiv id=\"d%1\"><KRContents>").arg(n);
        if (control)
            text += QStringLiteral("<KRDesignControl id=\"c\"/>");
        for (int n = 1; n <= divs; ++n)
            text += QStringLiteral("</KRContents></KRDiv>");
        return text + QStringLiteral("</objects>");
    };
    const int steps = undo.undoCount();
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    // Deeper than the page holds, and deeper than any document is read.
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType, copied(room / 2, true));
    EXPECT_TRUE(page->pasteObjects().isEmpty());
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType, copied(KRXMLDocument::MaximumDepth, false));
    EXPECT_TRUE(page->pasteObjects().isEmpty());
    // An object of more attributes than an element may carry.
    QString attributes;
    for (int n = 1; n <= 100000; ++n)
        attributes += QStringLiteral(" a%1=\"1\"").arg(n);
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType,
                                                QStringLiteral("<objects>\n<KRDesignControl id=\"c\"%1/></objects>")
                                                    .arg(attributes));
    EXPECT_TRUE(page->pasteObjects().isEmpty());
    KRAlertService::setCurrent(previous);
    EXPECT_EQ(undo.undoCount(), steps);
    EXPECT_FALSE(page->objectForID(QStringLiteral("c")));
    ASSERT_EQ(alerts->shownAlerts().size(), 3);
    EXPECT_EQ(alerts->shownAlerts().at(2).informativeText,
              QStringLiteral("The XML text is refused: line 2: the element \u201CKRDesignControl\u201D with the id \u201Cc\u201D "
                             "carries 100001 attributes, and an element may carry at most 1024."));
    EXPECT_EQ(alerts->shownAlerts().at(0).messageText, QStringLiteral("The objects could not be pasted."));
    EXPECT_EQ(alerts->shownAlerts().at(0).informativeText,
              QStringLiteral("The \u201CKRDiv\u201D copied nests elements %1 levels deep, and a page may hold them at "
                             "most %2 levels deep.")
                  .arg(room + 1)
                  .arg(room));
    EXPECT_TRUE(alerts->shownAlerts().at(1).informativeText.contains(
        QStringLiteral("is nested %1 levels deep").arg(KRXMLDocument::MaximumDepth + 1)))
        << alerts->shownAlerts().at(1).informativeText.toStdString();
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType, copied(room / 2, false));
    EXPECT_EQ(page->pasteObjects().size(), 1);
    const QString saved = KRTest::makeTempDir(QStringLiteral("pasted")) + QStringLiteral("/Saved.krproj");
    ASSERT_TRUE(document->saveToPackage(saved).ok());
    EXPECT_TRUE(KRDocument::openPackage(saved).ok());
}

// Many objects deleted, put back, deleted again and pasted are each one step, and what lists
// the page's objects hears of each step once: told of every object, the inspector and the
// design view redid their lists for each, and deleting or pasting many grew with the square of
// their number. The file holds them as before, a div with what is nested in it (listed with it,
// it leaves inside it).
TEST(KRPageObjects, ManyObjectsAreDeletedRestoredAndPastedAsOneStepEach)
{
    registerClassesWithDivs();
    QString controls;
    for (int n = 0; n < 60; ++n)
        controls += QStringLiteral("<KRDesignControl id=\"c%1\" top=\"%2\" left=\"10\"/>").arg(n).arg(n * 3 % 50);
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents>%1<KRDiv id=\"box\"><KRContents>"
                                    "<KRDesignControl id=\"inner\"/></KRContents></KRDiv></KRContents></KRPage>")
                         .arg(controls)),
        true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const KRXMLNode contents = page->objectForID(QStringLiteral("c0"))->xmlElement().parent();
    const QString file = contents.xmlString();
    QList<std::shared_ptr<KRObject>> all;
    for (int n = 0; n < 60; ++n)
        all.append(page->objectForID(QStringLiteral("c%1").arg(n)));
    all << page->objectForID(QStringLiteral("inner")) << page->objectForID(QStringLiteral("box"));
    int told = 0;
    const auto token = page->observable().observe(QStringLiteral("allObjects"),
                                                  [&told](const void *, const QString &, const QVariant &, const QVariant &) { ++told; });
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    const int steps = undo.undoCount();

    page->deleteObjects(all, QStringLiteral("Delete"));
    EXPECT_EQ(told, 1) << "deleted";
    EXPECT_EQ(undo.undoCount(), steps + 1);
    EXPECT_EQ(page->allObjects().size(), 1); // the page
    EXPECT_EQ(contents.elements().size(), 0);
    undo.undo();
    EXPECT_EQ(told, 2) << "put back";
    EXPECT_EQ(contents.xmlString(), file);
    EXPECT_EQ(page->allObjects().size(), 63);
    EXPECT_EQ(page->objectForID(QStringLiteral("inner"))->parentObject(), page->objectForID(QStringLiteral("box")));
    undo.redo();
    EXPECT_EQ(told, 3) << "deleted again";
    EXPECT_EQ(page->allObjects().size(), 1);
    undo.undo();
    EXPECT_EQ(contents.xmlString(), file);

    page->pasteboardCopyObjects(all);
    told = 0;
    EXPECT_EQ(page->pasteObjects().size(), 61); // the label in the div comes with it
    EXPECT_EQ(told, 1) << "pasted";
    EXPECT_EQ(page->allObjects().size(), 63 + 62);
    undo.undo();
    EXPECT_EQ(contents.xmlString(), file);
}

// Deleting a div frees the ids of the objects nested in it; undo takes them back.
TEST(KRPageObjects, DeletedDivFreesItsChildrensIds)
{
    registerClassesWithDivs();
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents><KRDiv id=\"div1\"><KRContents>"
                                    "<KRDesignControl id=\"control1\"/><KRDiv id=\"div2\"><KRContents>"
                                    "<KRDesignControl id=\"control2\"/></KRContents></KRDiv>"
                                    "</KRContents></KRDiv></KRContents></KRPage>")),
        true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto div = page->objectForID(QStringLiteral("div1"));
    const auto inner = page->objectForID(QStringLiteral("control2"));
    ASSERT_TRUE(div && inner);
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    page->deleteObjects({div});
    undo.endUndoGrouping();
    for (const char *id : {"div1", "control1", "div2", "control2"}) {
        EXPECT_FALSE(page->isIDTaken(QLatin1String(id))) << id;
        EXPECT_FALSE(page->objectForID(QLatin1String(id))) << id;
    }
    EXPECT_EQ(page->allObjects().size(), 1); // the page
    undo.beginUndoGrouping();
    EXPECT_EQ(page->createNewObject(QStringLiteral("KRDesignControl"), QString())->kr_id(), QStringLiteral("control1"));
    undo.endUndoGrouping();
    undo.undo(); // the creation
    undo.undo(); // the deletion
    EXPECT_EQ(page->objectForID(QStringLiteral("control2")), inner);
    EXPECT_EQ(page->allObjects().size(), 5);
    // A restored child follows its renames again.
    undo.beginUndoGrouping();
    inner->setValue(QStringLiteral("kr_id"), QStringLiteral("renamed"));
    undo.endUndoGrouping();
    EXPECT_EQ(page->objectForID(QStringLiteral("renamed")), inner);
    EXPECT_TRUE(page->isIDTaken(QStringLiteral("renamed")));
    EXPECT_FALSE(page->isIDTaken(QStringLiteral("control2")));
    // A new object does not take the id a rename gave.
    undo.beginUndoGrouping();
    EXPECT_EQ(page->createNewObject(QStringLiteral("KRDesignControl"), 0, 0, QStringLiteral("renamed"))->kr_id(),
              QStringLiteral("renamed2"));
    undo.endUndoGrouping();
}

TEST(KRPageObjects, CopyPasteOffsetsCutKeepsIdsBadClipboard)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"page1\"><KRContents><KRDesignControl id=\"a\" top=\"10\" left=\"20\"/>"
                                     "<KRDesignControl id=\"b\" top=\"30\" left=\"40\"/></KRContents></KRPage>")),
                                 true, &document);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    const auto a = page->objectForID(QStringLiteral("a"));
    const auto b = page->objectForID(QStringLiteral("b"));
    page->pasteboardCopyObjects({a, b});
    auto first = page->pasteObjects();
    ASSERT_EQ(first.size(), 2);
    EXPECT_EQ(first[0]->kr_id(), QStringLiteral("control1"));
    EXPECT_EQ(first[0]->value(QStringLiteral("kr_top")), QStringLiteral("18"));
    EXPECT_EQ(first[1]->value(QStringLiteral("kr_left")), QStringLiteral("48"));
    auto second = page->pasteObjects();
    ASSERT_EQ(second.size(), 2);
    EXPECT_EQ(second[0]->value(QStringLiteral("kr_top")), QStringLiteral("26"));
    EXPECT_EQ(second[1]->kr_id(), QStringLiteral("control4"));

    page->cutObjects({a});
    EXPECT_FALSE(page->objectForID(QStringLiteral("a")));
    auto pasted = page->pasteObjects();
    ASSERT_EQ(pasted.size(), 1);
    EXPECT_EQ(pasted[0]->kr_id(), QStringLiteral("a"));
    EXPECT_EQ(pasted[0]->value(QStringLiteral("kr_top")), QStringLiteral("10"));

    // Unreadable text, an unknown class, a page element: nothing pasted, no undo step.
    undo.setGroupsByEvent(false);
    const int steps = undo.undoCount();
    for (const QString &text : {QStringLiteral("<objects><broken"), QStringLiteral("<objects><Nope id=\"n\"/></objects>"),
                                QStringLiteral("<objects><KRPage id=\"p\"/></objects>")}) {
        KRPasteboard::generalPasteboard().setString(KRObjectPboardType, text);
        EXPECT_TRUE(page->pasteObjects().isEmpty());
    }
    EXPECT_EQ(undo.undoCount(), steps);
    // A hostile id is replaced before it reaches the file.
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType,
                                                QStringLiteral("<objects><KRDesignControl id=\"a b&quot;\"/></objects>"));
    const auto hostile = page->pasteObjects();
    ASSERT_EQ(hostile.size(), 1);
    EXPECT_EQ(hostile[0]->kr_id(), QStringLiteral("control5"));
}

namespace {

// A div for the model tests: a test control whose "KRContents" the page loads as its children.
void registerTestDiv()
{
    krRegisterDesignTestClasses();
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    if (!registry.classNamed(QStringLiteral("KRDiv"))) {
        KRObjectClass div;
        div.className = QStringLiteral("KRDiv");
        div.superclassName = QStringLiteral("KRObject");
        div.idBase = QStringLiteral("div");
        div.factory = [](const KRObjectInit &init) { return std::make_shared<KRDesignControl>(init); };
        registry.registerClass(div);
    }
    if (!registry.classNamed(QStringLiteral("KRTestButton"))) {
        KRObjectClass button;
        button.className = QStringLiteral("KRTestButton");
        button.superclassName = QStringLiteral("KRDesignControl");
        button.idBase = QStringLiteral("button");
        button.descriptors = {KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                                                   KRAdapterOptionEvent | KRAdapterOptionFunctionReference)};
        button.factory = [](const KRObjectInit &init) { return std::make_shared<KRDesignControl>(init); };
        registry.registerClass(button);
    }
}

// Every "id" in the element and below it, in document order.
QStringList xmlIDs(const KRXMLNode &element)
{
    QStringList ids;
    const QString id = element.attribute(QStringLiteral("id"));
    if (!id.isNull())
        ids << id;
    for (const KRXMLNode &child : element.elements())
        ids << xmlIDs(child);
    return ids;
}

// The objects whose elements are children of the page's element, in their order there.
QStringList pageDivOrder(const std::shared_ptr<KRPage> &page)
{
    QStringList order;
    for (const auto &child : page->pageDivElement()->childNodes())
        if (const auto object = page->objectFromElement(child); object && object->domElement() == child)
            order << object->kr_id();
    return order;
}

} // namespace

// The properties an object's element lacks read as empty and are written as empty attributes
// after its own, the same however the open project was used before: saved unchanged, copied
// for a build, after a paste and an edit undone, and read back and saved again. An edit of one
// of them keeps its place.
TEST(KRPageObjects, LackingPropertiesAreWrittenEmptyAfterTheElementsOwn)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"page1\"><KRContents><KRDesignControl id=\"a\" top=\"10\" left=\"20\"/>"
                                     "<KRDesignControl id=\"b\" color=\"red\">x</KRDesignControl></KRContents></KRPage>")),
                                 true, &document);
    ASSERT_TRUE(project);
    const QString file = document->fileURL() + QStringLiteral("/project.xml");
    const auto page = project->krPages().first();
    const auto a = page->objectForID(QStringLiteral("a"));
    EXPECT_EQ(a->xmlElement().attribute(QStringLiteral("width")), QString(""));
    EXPECT_FALSE(a->xmlElement().attribute(QStringLiteral("width")).isNull());
    ASSERT_TRUE(document->save().ok());
    const QByteArray saved = KRTest::readFile(file);
    const QByteArray lacking = "width=\"\" color=\"\" backgroundColor=\"\" backgroundImage=\"\" backgroundGradient=\"\" "
                               "padding=\"\" paddingTop=\"\" checked=\"\" visible=\"\" name=\"\" hidden=\"\"";
    EXPECT_TRUE(saved.contains("<KRDesignControl id=\"a\" top=\"10\" left=\"20\" " + lacking + "/>")) << saved.constData();
    EXPECT_TRUE(saved.contains("<KRDesignControl id=\"b\" color=\"red\" top=\"\" left=\"\" width=\"\" backgroundColor=\"\""))
        << saved.constData();
    EXPECT_EQ(project->snapshot().xml, saved);
    {
        // A build's copy reads the text as an opening does (the empty attributes as names
        // only): it reads and writes what the project holds.
        const KRResult<std::shared_ptr<KRProject>> copy = KRProject::fromSnapshot(project->snapshot());
        ASSERT_TRUE(copy.ok());
        const KRXMLDocument &copied = copy.value()->krDocument()->xmlDocument();
        EXPECT_EQ(copied.xmlData(), saved);
        const KRXMLNode copiedA = copied.rootElement().firstElementForXPath(QStringLiteral("//KRDesignControl"));
        EXPECT_EQ(copiedA.attributeNames(), a->xmlElement().attributeNames());
        EXPECT_EQ(copiedA.attribute(QStringLiteral("width")), QString(""));
    }
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(file), saved);

    KRUndoManager &undo = document->undoManager();
    page->pasteboardCopyObjects({a});
    EXPECT_TRUE(KRPasteboard::generalPasteboard().stringForType(KRObjectPboardType).contains(
        QString::fromUtf8("<KRDesignControl id=\"a\" top=\"10\" left=\"20\" " + lacking + "/>")));
    undo.beginUndoGrouping();
    const auto pasted = page->pasteObjects();
    undo.endUndoGrouping();
    ASSERT_EQ(pasted.size(), 1);
    EXPECT_EQ(pasted[0]->xmlElement().attributeNames(), a->xmlElement().attributeNames());
    undo.undo();
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(file), saved);

    undo.beginUndoGrouping();
    a->setValue(QStringLiteral("kr_color"), QStringLiteral("blue"));
    undo.endUndoGrouping();
    ASSERT_TRUE(document->save().ok());
    QByteArray edited = saved;
    edited.replace("id=\"a\" top=\"10\" left=\"20\" width=\"\" color=\"\"", "id=\"a\" top=\"10\" left=\"20\" width=\"\" color=\"blue\"");
    EXPECT_EQ(KRTest::readFile(file), edited);
    undo.undo();
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(file), saved);

    // The file as saved, with one more object whose empty properties are not all at its end
    // and an empty attribute that is no property among them: reopened, it reads, copies,
    // saves and takes edits as the project it was saved from, each attribute in its place.
    QByteArray withOdd = saved;
    withOdd.replace("<KRDesignControl id=\"b\"",
                    "<KRDesignControl id=\"c\" width=\"\" top=\"1\" zz=\"\" color=\"\"/><KRDesignControl id=\"b\"");
    std::shared_ptr<KRDocument> again;
    auto reopened = krOpenProject(withOdd, true, &again);
    ASSERT_TRUE(reopened);
    const QString againFile = again->fileURL() + QStringLiteral("/project.xml");
    const auto againPage = reopened->krPages().first();
    const auto againA = againPage->objectForID(QStringLiteral("a"));
    const auto c = againPage->objectForID(QStringLiteral("c"));
    ASSERT_TRUE(againA && c);
    EXPECT_EQ(againA->xmlElement().attributeNames(), a->xmlElement().attributeNames());
    for (const QString &name : a->xmlElement().attributeNames()) {
        EXPECT_EQ(againA->xmlElement().attribute(name), a->xmlElement().attribute(name)) << qPrintable(name);
        EXPECT_TRUE(againA->xmlElement().hasAttribute(name)) << qPrintable(name);
    }
    EXPECT_FALSE(againA->xmlElement().hasAttribute(QStringLiteral("zz")));
    EXPECT_TRUE(againA->xmlElement().attribute(QStringLiteral("zz")).isNull());
    EXPECT_EQ(againA->value(QStringLiteral("kr_width")), QString(""));
    const QByteArray oddSaved = "<KRDesignControl id=\"c\" width=\"\" top=\"1\" zz=\"\" color=\"\" left=\"\" backgroundColor=\"\" "
                                "backgroundImage=\"\" backgroundGradient=\"\" padding=\"\" paddingTop=\"\" checked=\"\" "
                                "visible=\"\" name=\"\" hidden=\"\"/>";
    QByteArray savedAgain = saved;
    savedAgain.replace("<KRDesignControl id=\"b\"", oddSaved + "<KRDesignControl id=\"b\"");
    EXPECT_EQ(reopened->snapshot().xml, savedAgain);
    ASSERT_TRUE(again->save().ok());
    EXPECT_EQ(KRTest::readFile(againFile), savedAgain);
    againPage->pasteboardCopyObjects({againA});
    EXPECT_TRUE(KRPasteboard::generalPasteboard().stringForType(KRObjectPboardType).contains(
        QString::fromUtf8("<KRDesignControl id=\"a\" top=\"10\" left=\"20\" " + lacking + "/>")));

    KRUndoManager &againUndo = again->undoManager();
    againUndo.beginUndoGrouping();
    againA->setValue(QStringLiteral("kr_color"), QStringLiteral("blue"));
    c->setValue(QStringLiteral("kr_color"), QStringLiteral("green"));
    c->setValue(QStringLiteral("kr_paddingTop"), QStringLiteral("3"));
    againUndo.endUndoGrouping();
    ASSERT_TRUE(again->save().ok());
    QByteArray againEdited = savedAgain;
    againEdited.replace("id=\"a\" top=\"10\" left=\"20\" width=\"\" color=\"\"", "id=\"a\" top=\"10\" left=\"20\" width=\"\" color=\"blue\"");
    againEdited.replace("zz=\"\" color=\"\"", "zz=\"\" color=\"green\"");
    againEdited.replace("padding=\"\" paddingTop=\"\" checked=\"\" visible=\"\" name=\"\" hidden=\"\"/><KRDesignControl id=\"b\"",
                        "padding=\"\" paddingTop=\"3\" checked=\"\" visible=\"\" name=\"\" hidden=\"\"/><KRDesignControl id=\"b\"");
    EXPECT_EQ(KRTest::readFile(againFile), againEdited);
    againUndo.undo();
    ASSERT_TRUE(again->save().ok());
    EXPECT_EQ(KRTest::readFile(againFile), savedAgain);
}

// A copied div brings what is nested in it: the paste makes it all anew under fresh ids (a
// copied button calls the copied handler), the original keeps its children, the file never
// holds an id twice, and undo takes the whole paste back. A cut and paste keeps the ids.
TEST(KRPageObjects, PastedDivBringsItsNestedObjectsWithFreshIds)
{
    registerTestDiv();
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents><KRDiv id=\"div1\" top=\"10\" left=\"10\"><KRContents>"
                                    "<KRDesignControl id=\"control1\" top=\"5\" left=\"5\"/>"
                                    "<KRTestButton id=\"button1\" top=\"30\" left=\"5\" onClick=\"f1\"/>"
                                    "<KRFunction id=\"f1\">go()</KRFunction>"
                                    "</KRContents></KRDiv></KRContents></KRPage>")),
        true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto div = page->objectForID(QStringLiteral("div1"));
    ASSERT_TRUE(div);
    ASSERT_EQ(div->children().size(), 3);
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    const auto noDuplicates = [&page] {
        const QStringList ids = xmlIDs(page->xmlElement());
        return QSet<QString>(ids.cbegin(), ids.cend()).size() == ids.size();
    };

    page->pasteboardCopyObjects({div, div->children().first()}); // the nested one comes with its div only
    undo.beginUndoGrouping();
    const auto pasted = page->pasteObjects();
    undo.endUndoGrouping();
    ASSERT_EQ(pasted.size(), 1);
    const auto copy = pasted.first();
    EXPECT_EQ(copy->kr_id(), QStringLiteral("div2"));
    ASSERT_EQ(copy->children().size(), 3);
    QStringList copiedIDs;
    QString functionCopy;
    for (const auto &child : copy->children()) {
        copiedIDs << child->kr_id();
        EXPECT_EQ(child->parentObject(), copy);
        EXPECT_EQ(page->objectForID(child->kr_id()), child);
        EXPECT_NE(child->xmlElement().parent().parent(), div->xmlElement());
        if (child->kr_className() == QLatin1String("KRFunction"))
            functionCopy = child->kr_id();
    }
    for (const char *original : {"control1", "button1", "f1"})
        EXPECT_FALSE(copiedIDs.contains(QLatin1String(original))) << original;
    const auto buttonCopy = std::find_if(copy->children().cbegin(), copy->children().cend(), [](const auto &child) {
        return child->kr_className() == QLatin1String("KRTestButton");
    });
    ASSERT_NE(buttonCopy, copy->children().cend());
    EXPECT_FALSE(functionCopy.isEmpty());
    EXPECT_EQ((*buttonCopy)->xmlElement().attribute(QStringLiteral("onClick")), functionCopy);
    // The original is whole.
    EXPECT_EQ(div->children().size(), 3);
    EXPECT_EQ(page->objectForID(QStringLiteral("control1"))->parentObject(), div);
    EXPECT_EQ(page->objectForID(QStringLiteral("button1"))->xmlElement().attribute(QStringLiteral("onClick")),
              QStringLiteral("f1"));
    EXPECT_TRUE(noDuplicates()) << xmlIDs(page->xmlElement()).join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(page->allObjects().size(), 9); // the page, two divs and three objects in each

    undo.undo();
    EXPECT_FALSE(page->objectForID(QStringLiteral("div2")));
    for (const QString &id : copiedIDs) {
        EXPECT_FALSE(page->objectForID(id)) << id.toStdString();
        EXPECT_FALSE(xmlIDs(page->xmlElement()).contains(id)) << id.toStdString();
    }
    EXPECT_EQ(page->allObjects().size(), 5);
    undo.redo();
    EXPECT_EQ(page->objectForID(copiedIDs.first()), copy->children().first());
    EXPECT_TRUE(noDuplicates());

    // Cut and paste: the div and its objects come back under their own ids.
    undo.beginUndoGrouping();
    page->cutObjects({div});
    undo.endUndoGrouping();
    EXPECT_FALSE(page->isIDTaken(QStringLiteral("control1")));
    undo.beginUndoGrouping();
    const auto back = page->pasteObjects();
    undo.endUndoGrouping();
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back.first()->kr_id(), QStringLiteral("div1"));
    ASSERT_EQ(back.first()->children().size(), 3);
    EXPECT_EQ(page->objectForID(QStringLiteral("control1"))->parentObject(), back.first());
    EXPECT_EQ(page->objectForID(QStringLiteral("button1"))->xmlElement().attribute(QStringLiteral("onClick")),
              QStringLiteral("f1"));
    EXPECT_TRUE(noDuplicates()) << xmlIDs(page->xmlElement()).join(QLatin1Char(' ')).toStdString();
}

// A click on a control inside a div finds that control, however the ids sort.
TEST(KRPageObjects, ObjectFromElementFindsTheNearestEnclosingControl)
{
    registerTestDiv();
    auto project = krOpenProject(krProjectXML(QStringLiteral(
        "<KRPage id=\"page1\"><KRContents><KRDiv id=\"a\"><KRContents><KRDesignControl id=\"b\"/>"
        "</KRContents></KRDiv></KRContents></KRPage>")));
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto outer = page->objectForID(QStringLiteral("a"));
    const auto inner = page->objectForID(QStringLiteral("b"));
    ASSERT_TRUE(outer && inner);
    outer->domElement()->appendChild(inner->domElement()); // the test div keeps no elements of its own
    const auto inside = page->domDocument()->createElement(QStringLiteral("span"));
    inner->domElement()->appendChild(inside);
    EXPECT_EQ(page->objectFromElement(inside), inner);
    EXPECT_EQ(page->objectFromElement(inner->domElement()), inner);
    EXPECT_EQ(page->objectFromElement(outer->domElement()), outer);
    EXPECT_FALSE(page->objectFromElement(page->pageDivElement()));
}

// The surface stacks controls as the built page does: their elements stand in the order of a
// load (by top, then left, ties in file order), whenever a control is made, moved or pasted.
TEST(KRPageObjects, ElementsStandInTheOrderOfTheBuiltPage)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"page1\"><KRContents><KRDesignControl id=\"low\" top=\"200\" left=\"0\"/>"
                                     "<KRDesignControl id=\"high\" top=\"20\" left=\"0\"/></KRContents></KRPage>")),
                                 true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    EXPECT_EQ(pageDivOrder(page), QStringList({QStringLiteral("high"), QStringLiteral("low")}));
    // Made last, but above "low" only when below it.
    undo.beginUndoGrouping();
    const auto made = page->createNewObject(QStringLiteral("KRDesignControl"), 10, 100, QString());
    undo.endUndoGrouping();
    ASSERT_TRUE(made);
    EXPECT_EQ(pageDivOrder(page), QStringList({QStringLiteral("high"), made->kr_id(), QStringLiteral("low")}));
    // Moved above everything: first; a tie keeps the order of the file.
    undo.beginUndoGrouping();
    made->setValue(QStringLiteral("kr_top"), QStringLiteral("5"));
    undo.endUndoGrouping();
    EXPECT_EQ(pageDivOrder(page), QStringList({made->kr_id(), QStringLiteral("high"), QStringLiteral("low")}));
    undo.beginUndoGrouping();
    made->setValue(QStringLiteral("kr_top"), QStringLiteral("200"));
    undo.endUndoGrouping();
    EXPECT_EQ(pageDivOrder(page), QStringList({QStringLiteral("high"), QStringLiteral("low"), made->kr_id()}));
    undo.undo();
    EXPECT_EQ(pageDivOrder(page), QStringList({made->kr_id(), QStringLiteral("high"), QStringLiteral("low")}));
    // While a move is under way nothing is re-arranged; at its end it is.
    undo.beginUndoGrouping();
    page->holdBuildOrder(true);
    made->setValue(QStringLiteral("kr_top"), QStringLiteral("300"));
    EXPECT_EQ(pageDivOrder(page).first(), made->kr_id());
    page->holdBuildOrder(false);
    undo.endUndoGrouping();
    EXPECT_EQ(pageDivOrder(page).last(), made->kr_id());
    // A pasted copy of "high" lands 8 pixels lower: after it, before the rest.
    page->pasteboardCopyObjects({page->objectForID(QStringLiteral("high"))});
    undo.beginUndoGrouping();
    const auto pasted = page->pasteObjects();
    undo.endUndoGrouping();
    ASSERT_EQ(pasted.size(), 1);
    EXPECT_EQ(pageDivOrder(page), QStringList({QStringLiteral("high"), pasted.first()->kr_id(), QStringLiteral("low"),
                                               made->kr_id()}));
}

// Each change of the pages and their objects comes in an event-loop turn of its own, as a
// person's commands do, and is one step under its own name: the name never lands on the step
// before it, and undo and redo offer each step under the name it had.
TEST(KRPageObjects, StepsAreNamedAsTheyComeAndKeepTheirNamesThroughUndoAndRedo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")), true, &document);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    QStringList names;
    const auto step = [&](const std::function<void()> &command) {
        command();
        QCoreApplication::processEvents();
        names << undo.undoActionName();
    };
    step([&] { project->createNewPage(); });
    step([&] { page->createNewObject(QStringLiteral("KRDesignControl"), 10, 10, QString()); });
    const auto control = page->objectForID(QStringLiteral("control1"));
    ASSERT_TRUE(control);
    step([&] {
        page->pasteboardCopyObjects({control});
        page->pasteObjects();
    });
    step([&] { page->cutObjects({control}); });
    step([&] { project->deletePage(project->krPages().last()); });
    const QStringList expected{QStringLiteral("Create Page"), QStringLiteral("Create KRDesignControl"), QStringLiteral("Paste"),
                               QStringLiteral("Cut"), QStringLiteral("Delete Page")};
    EXPECT_EQ(names, expected);
    ASSERT_EQ(undo.undoCount(), expected.size());
    for (qsizetype i = expected.size() - 1; i >= 0; --i) {
        EXPECT_EQ(undo.undoActionName(), expected[i]);
        undo.undo();
        EXPECT_EQ(undo.redoActionName(), expected[i]);
    }
    EXPECT_EQ(project->krPages().size(), 1);
    EXPECT_TRUE(page->allObjects().size() == 1);
    for (const QString &name : expected) {
        undo.redo();
        EXPECT_EQ(undo.undoActionName(), name);
    }
    EXPECT_FALSE(page->objectForID(QStringLiteral("control1")));
    EXPECT_TRUE(page->objectForID(QStringLiteral("control2")));
}

TEST(KRDesignViewWriter, EachWritePath)
{
    auto project = krOpenProject(krProjectXML(QStringLiteral(
        "<KRPage id=\"p\"><KRContents><KRDesignControl id=\"b\" top=\"10\" width=\"50%\"/>"
        "<KRDesignSelect id=\"s\" value=\"two\"><options>one\ntwo</options></KRDesignSelect></KRContents></KRPage>")));
    const auto page = project->krPages().first();
    const auto b = page->objectForID(QStringLiteral("b"));
    DOMElement &e = *b->domElement();
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("top")), QStringLiteral("10px"));
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("width")), QStringLiteral("50%"));
    b->setValue(QStringLiteral("kr_top"), QString());
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("top")), QString());
    EXPECT_EQ(e.getAttribute(QStringLiteral("name")), QStringLiteral("p_b")); // default to id, page prefix

    b->setValue(QStringLiteral("kr_checked"), QStringLiteral("true"));
    EXPECT_EQ(e.getAttribute(QStringLiteral("checked")), QStringLiteral("checked"));
    b->setValue(QStringLiteral("kr_checked"), QStringLiteral("TRUE"));
    EXPECT_FALSE(e.hasAttribute(QStringLiteral("checked")));
    b->setValue(QStringLiteral("kr_visible"), QStringLiteral("false")); // design mode: unchanged
    // Design mode hands "false" on unchanged (the DOM rejects it for display); never "none".
    EXPECT_NE(e.style().getPropertyValue(QStringLiteral("display")), QStringLiteral("none"));

    b->setValue(QStringLiteral("kr_backgroundGradient"), QStringLiteral("red, blue"));
    b->setValue(QStringLiteral("kr_backgroundColor"), QStringLiteral("green"));
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("background-color")), QStringLiteral("green"));
    EXPECT_EQ(e.parentElement()->style().getPropertyValue(QStringLiteral("background-color")), QStringLiteral("green"));
    b->setValue(QStringLiteral("kr_backgroundColor"), QString());
    EXPECT_TRUE(e.style().getPropertyValue(QStringLiteral("background-image")).contains(QStringLiteral("linear-gradient")) ||
                e.style().getPropertyValue(QStringLiteral("background")).contains(QStringLiteral("linear-gradient")));
    EXPECT_EQ(e.parentElement()->style().getPropertyValue(QStringLiteral("background-color")), QString());

    b->setValue(QStringLiteral("kr_paddingTop"), QStringLiteral("5"));
    b->setValue(QStringLiteral("kr_padding"), QStringLiteral("2"));
    b->setValue(QStringLiteral("kr_padding"), QString());
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("padding-top")), QStringLiteral("5px"));

    b->setValue(QStringLiteral("kr_content"), QStringLiteral("markdown:*hi*"));
    EXPECT_EQ(e.innerHTML().trimmed(), QStringLiteral("<p><em>hi</em></p>"));
    b->setValue(QStringLiteral("kr_content"), QStringLiteral("html:<b>x</b>"));
    EXPECT_EQ(e.innerHTML(), QStringLiteral("(HTML content)"));
    b->setValue(QStringLiteral("kr_hidden"), QStringLiteral("hidden")); // no design DOM
    EXPECT_EQ(e.style().getPropertyValue(QStringLiteral("visibility")), QString());

    const auto s = page->objectForID(QStringLiteral("s"));
    const auto options = s->domElement()->children();
    ASSERT_EQ(options.size(), 2u);
    EXPECT_TRUE(options[1]->hasAttribute(QStringLiteral("selected")));
    s->setValue(QStringLiteral("kr_value"), QStringLiteral("one"));
    EXPECT_TRUE(s->domElement()->children()[0]->hasAttribute(QStringLiteral("selected")));
    EXPECT_FALSE(s->domElement()->children()[1]->hasAttribute(QStringLiteral("selected")));

    page->setValue(QStringLiteral("kr_title"), QStringLiteral("Hello"));
    EXPECT_EQ(page->titleElement()->textContent(), QStringLiteral("Hello"));
}

TEST(KRDesignViewWriter, OutsideDesignModeDisplayAndHTMLContent)
{
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"p\"><KRContents><KRDesignControl id=\"b\" visible=\"false\">"
                                     "<content>html:&lt;b&gt;x&lt;/b&gt;</content></KRDesignControl></KRContents></KRPage>")),
                                 false);
    const auto b = project->krPages().first()->objectForID(QStringLiteral("b"));
    EXPECT_EQ(b->domElement()->style().getPropertyValue(QStringLiteral("display")), QStringLiteral("none"));
    EXPECT_EQ(b->domElement()->innerHTML(), QStringLiteral("<b>x</b>"));
}

TEST(KRStyleClass, RuleFoundByIdentityRenameDeleteUndo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"p\"><KRContents><KRStyleClass id=\"Big\" fontSize=\"20\" color=\"red\"/>"
                                     "<KRStyleClass id=\"other\" color=\"blue\"/></KRContents></KRPage>")),
                                 true, &document);
    const auto page = project->krPages().first();
    auto big = std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QStringLiteral("Big")));
    ASSERT_TRUE(big && big->cssRule());
    EXPECT_EQ(big->cssRule()->selectorText(), QStringLiteral(".big"));
    EXPECT_EQ(big->cssRule()->style().getPropertyValue(QStringLiteral("font-size")), QStringLiteral("20px"));
    const auto other = std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QStringLiteral("other")));

    big->setKr_id(QStringLiteral("Huge"));
    EXPECT_EQ(big->cssRule()->selectorText(), QStringLiteral(".huge"));
    EXPECT_EQ(big->cssRule()->style().getPropertyValue(QStringLiteral("color")), QStringLiteral("red"));
    // The other class still writes into its own rule although the sheet's order changed.
    other->setValue(QStringLiteral("kr_color"), QStringLiteral("green"));
    EXPECT_EQ(other->cssRule()->style().getPropertyValue(QStringLiteral("color")), QStringLiteral("green"));
    EXPECT_EQ(big->cssRule()->style().getPropertyValue(QStringLiteral("color")), QStringLiteral("red"));

    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    const int rules = page->styleSheet()->length();
    undo.beginUndoGrouping();
    page->deleteObjects({big});
    undo.endUndoGrouping();
    EXPECT_EQ(page->styleSheet()->length(), rules - 2); // with its widget rule
    undo.undo();
    EXPECT_EQ(page->styleSheet()->length(), rules);
    ASSERT_TRUE(big->cssRule());
    EXPECT_EQ(big->cssRule()->style().getPropertyValue(QStringLiteral("font-size")), QStringLiteral("20px"));
}

// Where two classes set the same property, the one whose rule stands later in the sheet wins,
// as it will in the built page and when the project is opened again: a rename, a deletion and
// the undoing of either leave every rule, and the widget rule after it, where it stood.
TEST(KRStyleClass, ItsRuleKeepsItsPlaceThroughRenameDeleteAndUndo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"p\"><KRContents><KRStyleClass id=\"red\" color=\"red\" fontSize=\"20\"/>"
                                     "<KRStyleClass id=\"blue\" color=\"blue\"/><KRStyleClass id=\"faint\" opacity=\"0.5\"/>"
                                     "</KRContents></KRPage>")),
                                 true, &document);
    const auto page = project->krPages().first();
    const auto sheet = page->styleSheet();
    const auto red = std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QStringLiteral("red")));
    ASSERT_TRUE(sheet && red && red->cssRule());
    // The sheet's style rules, in order (the marker and page rules before them included).
    const auto order = [&] {
        QStringList selectors;
        for (int i = 0; i < sheet->length(); ++i)
            selectors << sheet->item(i)->selectorText();
        return selectors;
    };
    const QStringList opened = order();
    ASSERT_LT(opened.indexOf(QStringLiteral(".red")), opened.indexOf(QStringLiteral(".blue")));
    const auto renamedIn = [](QStringList list, const QString &from, const QString &to) {
        for (QString &selector : list)
            if (selector.startsWith(from))
                selector.replace(0, from.size(), to);
        return list;
    };

    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    red->setKr_id(QStringLiteral("Crimson"));
    undo.endUndoGrouping();
    EXPECT_EQ(order(), renamedIn(opened, QStringLiteral(".red"), QStringLiteral(".crimson")));
    EXPECT_EQ(red->cssRule()->style().getPropertyValue(QStringLiteral("color")), QStringLiteral("red"));
    undo.undo();
    EXPECT_EQ(order(), opened);

    undo.beginUndoGrouping();
    page->deleteObjects({red});
    undo.endUndoGrouping();
    EXPECT_EQ(sheet->length(), opened.size() - 2); // with its widget rule
    undo.undo();
    EXPECT_EQ(order(), opened);
    ASSERT_TRUE(red->cssRule());
    EXPECT_EQ(red->cssRule()->style().getPropertyValue(QStringLiteral("font-size")), QStringLiteral("20px"));
}

// jQuery Mobile's elements inside a widget set their own colour and font: right after its
// rule, a class has one that lets them inherit the text properties the class sets, and only
// those, in the widgets of the class (which carry the widget attribute). It follows the
// class's values, its renames, its deletion and the undoing of that.
TEST(KRStyleClass, WidgetRuleFollowsTheTextPropertiesOfTheClass)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral(
                                     "<KRPage id=\"p\"><KRContents><KRStyleClass id=\"Big\" fontSize=\"20\" color=\"red\" "
                                     "borderWidth=\"2\"/><KRStyleClass id=\"frame\" borderWidth=\"1\"/></KRContents></KRPage>")),
                                 true, &document);
    const auto page = project->krPages().first();
    const auto sheet = page->styleSheet();
    const auto big = std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QStringLiteral("Big")));
    const auto frame = std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QStringLiteral("frame")));
    ASSERT_TRUE(big && frame && big->cssRule() && frame->cssRule());
    const auto widgetRule = [&](const KRStyleClass &c) -> QString {
        const auto next = sheet->item(sheet->indexOf(c.cssRule().get()) + 1);
        return next && next->selectorText().contains(QLatin1Char('*')) ? next->cssText() : QString();
    };
    EXPECT_EQ(widgetRule(*big), QStringLiteral(".big[data-kr-text] * { color: inherit !important; font-size: inherit !important; }"));
    EXPECT_EQ(widgetRule(*frame), QString()); // no text property, no rule

    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    big->setKr_id(QStringLiteral("Huge"));
    big->setValue(QStringLiteral("kr_color"), QString());
    big->setValue(QStringLiteral("kr_fontFamily"), QStringLiteral("Georgia"));
    frame->setValue(QStringLiteral("kr_textShadow"), QStringLiteral("1px 1px red"));
    undo.endUndoGrouping();
    EXPECT_EQ(widgetRule(*big), QStringLiteral(".huge[data-kr-text] * { font-family: inherit !important; font-size: inherit !important; }"));
    EXPECT_EQ(widgetRule(*frame), QStringLiteral(".frame[data-kr-text] * { text-shadow: inherit !important; }"));

    const int rules = sheet->length();
    undo.beginUndoGrouping();
    page->deleteObjects({big});
    undo.endUndoGrouping();
    EXPECT_EQ(sheet->length(), rules - 2);
    EXPECT_EQ(widgetRule(*frame), QStringLiteral(".frame[data-kr-text] * { text-shadow: inherit !important; }"));
    undo.undo();
    EXPECT_EQ(sheet->length(), rules);
    EXPECT_EQ(widgetRule(*big), QStringLiteral(".huge[data-kr-text] * { font-family: inherit !important; font-size: inherit !important; }"));
    // The edits undone: the first name and values again.
    undo.undo();
    EXPECT_EQ(widgetRule(*big), QStringLiteral(".big[data-kr-text] * { color: inherit !important; font-size: inherit !important; }"));
    EXPECT_EQ(widgetRule(*frame), QString());
    EXPECT_EQ(sheet->length(), rules - 1);
}

TEST(KRProjectResources, ImportRenameDeleteAndSaveThroughTheProject)
{
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")), true, &document);
    ASSERT_TRUE(project);
    KRUndoManager &undo = document->undoManager();
    const QString web = project->webFolder()->krwebPath();
    const QString source = KRTest::makeTempDir() + QStringLiteral("/app.js");
    KRTest::writeFile(source, "var a;");

    int resourceChanges = 0;
    auto observation = project->observable().observe(
        QStringLiteral("resources"), [&](const void *, const QString &, const QVariant &, const QVariant &) { ++resourceChanges; });
    alerts->scriptButton(QStringLiteral("Add"));
    undo.beginUndoGrouping();
    ASSERT_TRUE(project->importResource(source, web + QStringLiteral("/app.js")));
    undo.endUndoGrouping();
    EXPECT_EQ(project->javascriptIncludes(), QStringList{QStringLiteral("app.js")});
    EXPECT_EQ(project->projectSettingForKey(QStringLiteral("javascriptIncludes")), QStringLiteral("[\"app.js\"]"));
    project->reloadResources();
    EXPECT_GT(resourceChanges, 0);

    std::shared_ptr<KRProjectResource> resource;
    for (const auto &entry : project->resources())
        if (entry->name() == QLatin1String("app.js"))
            resource = entry;
    ASSERT_TRUE(resource);
    ASSERT_TRUE(resource->renameResource(QStringLiteral("main.js")));
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/main.js")));

    // Edited bytes go to disk with the save and leave the cache.
    project->webFolder()->modifiedResourceCache().setContents(QStringLiteral("main.js"), "var b;", QString());
    EXPECT_TRUE(project->modifiedResourceCache().contains(QStringLiteral("main.js")));
    ASSERT_TRUE(document->save());
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/main.js")), QByteArray("var b;"));
    EXPECT_TRUE(project->modifiedResourceCache().isEmpty());

    std::shared_ptr<KRProjectResource> renamed;
    for (const auto &entry : project->resources())
        if (entry->name() == QLatin1String("main.js"))
            renamed = entry;
    ASSERT_TRUE(renamed);
    alerts->scriptButton(QStringLiteral("Delete"));
    undo.beginUndoGrouping();
    ASSERT_TRUE(project->deleteResource(renamed));
    undo.endUndoGrouping();
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/main.js")));
    EXPECT_EQ(alerts->pendingAnswerCount(), 0);
    KRAlertService::setCurrent(previous);
}

TEST(KRPageDocument, BaseElementFollowsTheFirstSaveOfAnUntitledProject)
{
    krRegisterDesignTestClasses();
    auto document = KRDocument::makeUntitled();
    ASSERT_TRUE(document);
    auto project = KRProject::create(document.value(), true);
    ASSERT_TRUE(project);
    const auto page = project.value()->krPages().first();
    const auto base = [&] { return page->headElement()->firstElementByTagName(QStringLiteral("base"))->getAttribute(QStringLiteral("href")); };
    const QString before = base();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Saved.krproj");
    ASSERT_TRUE(document.value()->saveToPackage(package));
    EXPECT_NE(base(), before);
    EXPECT_TRUE(base().startsWith(QFileInfo(package).absoluteFilePath())) << base().toStdString();
    EXPECT_TRUE(base().endsWith(page->kr_id() + QStringLiteral(".html")));
    EXPECT_EQ(page->headElement()->getElementsByTagName(QStringLiteral("base")).size(), 1u);
}

// Opens a package that has project.xml but no web folder.
std::shared_ptr<KRProject> openWithoutWebFolder(const QByteArray &xml, std::shared_ptr<KRDocument> &document)
{
    krRegisterDesignTestClasses();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Legacy.krproj");
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    auto opened = KRDocument::openPackage(package);
    if (!opened)
        return nullptr;
    document = opened.value();
    auto project = KRProject::create(document, true);
    return project ? project.value() : nullptr;
}

// A legacy theme leaves the file only once its style sheet is written; a user's own style
// sheet of that name is never overwritten; settings and pages nested in the themes element
// survive the conversion and the save.
TEST(KRProjectSettings, LegacyThemesBecomeStyleSheetsAndLeaveTheFileOnlyOnceWritten)
{
    const QByteArray xml = krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>"))
                               .replace("</KRProjectDocument>",
                                        "<KRThemes><KRProjectTheme name=\"mytheme\">.ui-bar-a { color: red; }</KRProjectTheme>"
                                        "<KRProjectTheme name=\"../escape\">x</KRProjectTheme>"
                                        "<KRProjectTheme name=\"own\">.legacy{}</KRProjectTheme>"
                                        "<KRProjectTheme name=\"again\">.same{}</KRProjectTheme>"
                                        "</KRThemes></KRProjectDocument>");
    const auto themesLeft = [](const std::shared_ptr<KRDocument> &document) {
        QStringList names;
        for (const KRXMLNode &theme : document->xmlDocument().rootElement().nodesForXPath(QStringLiteral("//KRProjectTheme")))
            names << theme.attribute(QStringLiteral("name"));
        return names;
    };

    // A package without "kr-web" gets the folder; a name leading out of it stays in the file.
    std::shared_ptr<KRDocument> bare;
    ASSERT_TRUE(openWithoutWebFolder(xml, bare));
    const QString bareWeb = bare->fileURL() + QStringLiteral("/kr-web");
    EXPECT_EQ(KRTest::readFile(bareWeb + QStringLiteral("/mytheme.css")), QByteArray(".ui-bar-a { color: red; }"));
    EXPECT_EQ(KRTest::readFile(bareWeb + QStringLiteral("/own.css")), QByteArray(".legacy{}"));
    EXPECT_FALSE(QFile::exists(QDir(bareWeb).absoluteFilePath(QStringLiteral("../escape.css"))));
    EXPECT_EQ(themesLeft(bare), QStringList{QStringLiteral("../escape")});

    // The user's own style sheet of a theme's name is kept, and so is the theme; the same text
    // (written by an earlier opening that was not saved) counts as written.
    std::shared_ptr<KRDocument> mine;
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Mine.krproj");
    KRTest::writeFile(package + QStringLiteral("/kr-web/own.css"), "/* mine */");
    KRTest::writeFile(package + QStringLiteral("/kr-web/again.css"), ".same{}");
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    mine = KRDocument::openPackage(package).value();
    ASSERT_TRUE(KRProject::create(mine, true));
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/kr-web/own.css")), QByteArray("/* mine */"));
    EXPECT_EQ(themesLeft(mine), (QStringList{QStringLiteral("../escape"), QStringLiteral("own")}));
    ASSERT_TRUE(mine->save().ok());
    EXPECT_TRUE(KRTest::readFile(package + QStringLiteral("/project.xml")).contains(".legacy{}"));

    // Settings and pages inside the themes element survive the conversion and the save.
    const QByteArray nested = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument><KRThemes>"
                              "<KRProjectTheme name=\"t\">.t{}</KRProjectTheme><KRProject showGrid=\"true\"/>"
                              "<KRPages><KRPage id=\"page1\"/></KRPages></KRThemes></KRProjectDocument>\n";
    std::shared_ptr<KRDocument> inner;
    ASSERT_TRUE(krOpenProject(nested, true, &inner));
    ASSERT_TRUE(inner->save().ok());
    EXPECT_EQ(KRTest::readFile(inner->fileURL() + QStringLiteral("/kr-web/t.css")), QByteArray(".t{}"));
    std::shared_ptr<KRDocument> reopened;
    const auto again = krOpenProject(KRTest::readFile(inner->fileURL() + QStringLiteral("/project.xml")), true, &reopened);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->showGrid());
    EXPECT_TRUE(again->pageForID(QStringLiteral("page1")));
    EXPECT_TRUE(themesLeft(reopened).isEmpty());
}

// Undo puts settings back exactly: one the file did not have leaves it again, and switching
// the design target or auto-adjusting back restores every per-device value.
TEST(KRProjectSettings, UndoRestoresAbsentSettingsAndPerDeviceValues)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                                    "<KRTestControl id=\"a\" top='{\"iPhone\":\"10\",\"iPad\":\"20\"}' left='{\"iPhone\":\"1\"}'/>"
                                    "</KRContents></KRPage>"),
                     QStringLiteral("JQMVersion=\"1.4\" autoAdjustObjects=\"true\"")),
        true, &document);
    ASSERT_TRUE(project);
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    const auto step = [&](const std::function<void()> &change) {
        undo.beginUndoGrouping();
        change();
        undo.endUndoGrouping();
    };
    const KRXMLNode settings = document->xmlDocument().rootElement().firstElementForXPath(QStringLiteral("//KRProject"));
    step([&] { project->setStartPage(QStringLiteral("page1")); });
    step([&] { project->setShowGrid(true); });
    step([&] { project->setJavascriptIncludes({QStringLiteral("a.js")}); });
    undo.undo();
    undo.undo();
    undo.undo();
    for (const char *key : {"startPage", "showGrid", "javascriptIncludes"})
        EXPECT_FALSE(settings.hasAttribute(QLatin1String(key))) << key;
    EXPECT_TRUE(project->javascriptIncludes().isEmpty());
    undo.redo();
    EXPECT_EQ(project->startPage(), QStringLiteral("page1"));

    const auto page = project->krPages().first();
    const auto a = page->objectForID(QStringLiteral("a"));
    const KRXMLNode element = a->xmlElement();
    const QString top = element.attribute(QStringLiteral("top")), left = element.attribute(QStringLiteral("left"));
    step([&] { project->setDesignTarget(QStringLiteral("iPad")); });
    EXPECT_EQ(a->value(QStringLiteral("kr_top")), QStringLiteral("20"));
    EXPECT_EQ(a->value(QStringLiteral("kr_left")), QStringLiteral("1"));
    undo.undo();
    EXPECT_FALSE(settings.hasAttribute(QStringLiteral("designTarget")));
    EXPECT_EQ(element.attribute(QStringLiteral("top")), top);
    EXPECT_EQ(element.attribute(QStringLiteral("left")), left);
    EXPECT_EQ(a->value(QStringLiteral("kr_top")), QStringLiteral("10"));
    undo.redo();
    EXPECT_EQ(a->value(QStringLiteral("kr_top")), QStringLiteral("20"));

    step([&] { project->setAutoAdjustObjects(false); });
    EXPECT_EQ(element.attribute(QStringLiteral("top")), QStringLiteral("10"));
    undo.undo();
    EXPECT_TRUE(project->autoAdjustObjects());
    EXPECT_EQ(element.attribute(QStringLiteral("top")), top);
    EXPECT_EQ(a->value(QStringLiteral("kr_top")), QStringLiteral("20")); // the iPad's value again
}

// Only jQuery Mobile 1.4 is shipped. A project that names 1.3, or no version (as files written
// before 1.4 was shipped do), is designed and built with 1.4, says so, and keeps what its file
// names through a save until the user chooses a version.
TEST(KRProjectSettings, ProjectsNamingAnUnshippedVersionUseTheShippedLibraryAndKeepTheirFile)
{
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    for (const QString &settings : {QStringLiteral("JQMVersion=\"1.3\""), QStringLiteral("designTarget=\"iPhone\"")}) {
        SCOPED_TRACE(settings.toStdString());
        std::shared_ptr<KRDocument> document;
        auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>"), settings), true, &document);
        ASSERT_TRUE(project);
        EXPECT_EQ(project->JQMVersion(), QStringLiteral("1.3"));
        const QString notice = project->unshippedJQMVersionNotice();
        EXPECT_TRUE(notice.contains(QLatin1String("1.3"))) << notice.toStdString();
        EXPECT_TRUE(notice.contains(QLatin1String("jQuery Mobile 1.4"))) << notice.toStdString();
        const QHash<QString, QString> urls = project->jqmURLs();
        EXPECT_EQ(urls.size(), 17);
        for (auto it = urls.cbegin(); it != urls.cend(); ++it) {
            EXPECT_FALSE(it.value().contains(QLatin1String("1.3"))) << it.key().toStdString() << " " << it.value().toStdString();
            EXPECT_TRUE(it.value().contains(QLatin1String("1.4.0"))) << it.key().toStdString() << " " << it.value().toStdString();
        }
        // The design page links the shipped files, icons included.
        const QString head = project->krPages().first()->headElement()->outerHTML();
        EXPECT_TRUE(head.contains(QLatin1String("/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css")));
        EXPECT_TRUE(head.contains(QLatin1String("/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.icons-1.4.0.min.css")));
        EXPECT_FALSE(head.contains(QLatin1String("1.3.1")));

        // A save writes back what the file named.
        project->setSnapGrid(5);
        ASSERT_TRUE(document->save().ok());
        const QString saved = QString::fromUtf8(KRTest::readFile(document->fileURL() + QStringLiteral("/project.xml")));
        const bool named = settings.contains(QLatin1String("JQMVersion"));
        EXPECT_EQ(saved.contains(QLatin1String("JQMVersion=\"1.3\"")), named) << saved.toStdString();
        EXPECT_EQ(saved.contains(QLatin1String("JQMVersion")), named) << saved.toStdString();

        // Choosing the shipped version changes the file and nothing else needs telling.
        project->setJQMVersion(QStringLiteral("1.4"));
        EXPECT_EQ(project->JQMVersion(), QStringLiteral("1.4"));
        EXPECT_TRUE(project->unshippedJQMVersionNotice().isNull());
    }
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    // A version from the file is repeated only when it is a plain version number.
    auto odd = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>"), QStringLiteral("JQMVersion=\"&lt;b&gt;9\"")));
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->unshippedJQMVersionNotice().contains(QLatin1Char('<')));
    EXPECT_FALSE(odd->unshippedJQMVersionNotice().isEmpty());
    KRAlertService::setCurrent(previous);
}

// A file from anyone: ids that are no identifiers, reserved words, ids taken many times over,
// page ids that would be file names outside the output folder and style-class ids that are no
// CSS. Each gets a free id in the file, the user is told, and nothing is lost.
TEST(KRPageObjects, HostileAndRepeatedIdsAreRenamedOnLoadAndReported)
{
    QString copies;
    for (int i = 0; i < 1001; ++i)
        copies += QStringLiteral("<KRDesignControl id=\"x\" top=\"%1\"/>").arg(i);
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral("<KRPage id=\"../../x\"><KRContents>"
                                    "<KRDesignControl id=\"a b\" top=\"1\"/><KRDesignControl id=\"for\" top=\"2\"/>"
                                    "<KRDesignControl top=\"3\"/><KRDesignControl id=\"page1\" top=\"4\"/>"
                                    "<KRStyleClass id=\"x}\" color=\"red\"/><KRStyleClass id=\"&quot;\"/>"
                                    "<KRStyleClass id=\"$s\" color=\"blue\"/>"
                                    "<KRFunction id=\"f-1\">go()</KRFunction>%1</KRContents></KRPage>"
                                    "<KRPage id=\"dup\"/><KRPage id=\"dup\"/><KRPage/>")
                         .arg(copies)),
        true, &document);
    ASSERT_TRUE(project);
    QStringList pageIDs;
    for (const auto &page : project->krPages())
        pageIDs << page->kr_id() << page->xmlElement().attribute(QStringLiteral("id"));
    EXPECT_EQ(pageIDs, (QStringList{QStringLiteral("page1"), QStringLiteral("page1"), QStringLiteral("dup"),
                                    QStringLiteral("dup"), QStringLiteral("dup2"), QStringLiteral("dup2"),
                                    QStringLiteral("page2"), QStringLiteral("page2")}));
    const auto page = project->krPages().first();
    const auto top = [&](const char *id) {
        const auto object = page->objectForID(QString::fromLatin1(id));
        return object ? object->xmlElement().attribute(QStringLiteral("top")) : QStringLiteral("(none)");
    };
    // Invalid ids take the class's base; the object named like its page counts as taken.
    EXPECT_EQ(top("control1"), QStringLiteral("1"));
    EXPECT_EQ(top("control2"), QStringLiteral("2"));
    EXPECT_EQ(top("control3"), QStringLiteral("3"));
    EXPECT_EQ(top("page12"), QStringLiteral("4"));
    EXPECT_TRUE(page->objectForID(QStringLiteral("function1")));
    // Every one of the copies is kept under its own id, in file order.
    EXPECT_EQ(top("x"), QStringLiteral("0"));
    EXPECT_EQ(top("x1001"), QStringLiteral("1000"));
    EXPECT_EQ(page->kr_objects().size(), 4 + 3 + 1 + 1001);
    const auto all = page->allObjects();
    EXPECT_EQ(all.size(), page->kr_objects().size() + 1);
    EXPECT_TRUE(std::is_sorted(all.begin(), all.end(),
                               [](const auto &a, const auto &b) { return a->kr_id() < b->kr_id(); }));

    // Style classes: only CSS class names stay; each has its rule and takes values.
    auto styleClass = [&](const char *id) { return std::dynamic_pointer_cast<KRStyleClass>(page->objectForID(QString::fromLatin1(id))); };
    ASSERT_TRUE(styleClass("styleClass1") && styleClass("styleClass1")->cssRule());
    EXPECT_EQ(styleClass("styleClass1")->cssRule()->style().getPropertyValue(QStringLiteral("color")), QStringLiteral("red"));
    ASSERT_TRUE(styleClass("styleClass3") && styleClass("styleClass3")->cssRule());
    EXPECT_EQ(styleClass("styleClass3")->cssRule()->selectorText(), QStringLiteral(".styleclass3"));

    // One warning per rename (4 objects, 3 style classes, 1 function, 1000 copies, 3 pages).
    EXPECT_EQ(page->loadWarnings().size(), 4 + 3 + 1 + 1000);
    const QStringList warnings = project->loadWarnings();
    EXPECT_EQ(warnings.size(), 3 + page->loadWarnings().size());
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("'../../x' is no valid page id; this page is now 'page1'")))
        << warnings.first().toStdString();
    const KRError shown = project->loadWarningsError();
    EXPECT_TRUE(shown);
    EXPECT_EQ(shown.userInfo().value(QStringLiteral("warnings")).toStringList(), warnings);

    // Saved, the file carries the new ids and opens without a warning.
    const QString copy = KRTest::makeTempDir(QStringLiteral("renamed")) + QStringLiteral("/Copy.krproj");
    ASSERT_TRUE(document->saveToPackage(copy).ok());
    auto reopened = krOpenProject(KRTest::readFile(copy + QStringLiteral("/project.xml")));
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->loadWarnings(), QStringList());
    EXPECT_FALSE(reopened->loadWarningsError());

    // Renamed later to an id that is no class name: the values stay in the file.
    const auto renamed = styleClass("styleClass3");
    renamed->setKr_id(QStringLiteral("$odd"));
    renamed->setValue(QStringLiteral("kr_color"), QStringLiteral("green"));
    EXPECT_EQ(styleClass("$odd"), renamed);
    EXPECT_EQ(renamed->xmlElement().attribute(QStringLiteral("color")), QStringLiteral("green"));
}

// A function's parameter list goes into the generated script as it stands, so one that is
// no list of identifiers would run as code when the script loads, not when the event comes.
// Loading gives such a function the event's own parameters and tells the user; a list set
// later is never pasted into the script unless it is sound.
TEST(KRPageObjects, ParameterListsThatAreNoIdentifiersAreReplacedOnLoad)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenProject(
        krProjectXML(QStringLiteral(
            "<KRPage id=\"page1\"><KRContents>"
            "<KRFunction id=\"none\">go()</KRFunction>"
            "<KRFunction id=\"empty\" arguments=\"\">go()</KRFunction>"
            "<KRFunction id=\"two\" arguments=\" a ,&#9;b\">go()</KRFunction>"
            "<KRFunction id=\"call\" arguments=\"e = alert(document.cookie)\">go()</KRFunction>"
            "<KRFunction id=\"escape\" arguments=\"e) {}; steal(); (function(x\">go()</KRFunction>"
            "<KRFunction id=\"serve\" serverFunction=\"Yes\" arguments=\"request,&#10;response\">go()</KRFunction>"
            "<KRFunction id=\"reserved\" arguments=\"event, this\">go()</KRFunction>"
            "<KRFunction id=\"trailing\" arguments=\"a,\">go()</KRFunction>"
            "</KRContents></KRPage>")),
        true, &document);
    ASSERT_TRUE(project);
    const auto page = project->krPages().first();
    const auto function = [&](const char *id) {
        return std::dynamic_pointer_cast<KRFunction>(page->objectForID(QString::fromLatin1(id)));
    };
    const auto arguments = [&](const char *id) {
        const auto f = function(id);
        return f ? f->kr_arguments() + QLatin1Char('|') + f->xmlElement().attribute(QStringLiteral("arguments"))
                 : QStringLiteral("(none)");
    };
    EXPECT_EQ(arguments("none"), QStringLiteral("|"));
    EXPECT_EQ(arguments("empty"), QStringLiteral("|"));
    EXPECT_EQ(arguments("two"), QStringLiteral(" a ,\tb| a ,\tb"));
    EXPECT_EQ(arguments("call"), QStringLiteral("event|event"));
    EXPECT_EQ(arguments("escape"), QStringLiteral("event|event"));
    EXPECT_EQ(arguments("serve"), QStringLiteral("request, response|request, response"));
    EXPECT_EQ(arguments("reserved"), QStringLiteral("event|event"));
    EXPECT_EQ(arguments("trailing"), QStringLiteral("event|event"));
    const QStringList warnings = page->loadWarnings();
    ASSERT_EQ(warnings.size(), 5) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(warnings.at(0).contains(QStringLiteral("'e = alert(document.cookie)' is no valid parameter list; "
                                                       "the function 'call' now takes (event)")))
        << warnings.at(0).toStdString();

    ASSERT_TRUE(function("two"));
    EXPECT_TRUE(function("two")->functionSource().contains(QStringLiteral("= function( a ,\tb) {")));
    function("two")->setKr_arguments(QStringLiteral("x) {}; steal(); (function(y"));
    EXPECT_TRUE(function("two")->functionSource().startsWith(QStringLiteral("application._pages.page1._events.two = function(event) {\n")))
        << function("two")->functionSource().toStdString();
}

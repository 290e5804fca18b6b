#include "KRCompositeTestSupport.h"
#include "KRTestSupport.h"

#include <controls/KRBluffGraph.h>
#include <controls/KRPhotoSwipe.h>
#include <controls/jqm/JQMBaseToolbar.h>
#include <controls/jqm/JQMListView.h>
#include <controls/jqm/JQMSimplePopup.h>
#include <model/KRClassRegistry.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPropertyInfo.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

template <typename T>
std::shared_ptr<T> object(const std::shared_ptr<KRProject> &project, const QString &id)
{
    return std::dynamic_pointer_cast<T>(project->krPages().first()->objectForID(id));
}

QString xmlAttr(const QString &text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("&#10;"));
}

const QString kToolbars = QStringLiteral(
    "<JQMHeaderToolbar id=\"header1\" title=\"Tom &amp; Jerry\" theme=\"b\" position=\"fixed\" leftButtonLabel=\"Back\""
    " leftButtonIcon=\"arrow-l\" leftButtonIconpos=\"notext\" leftButtonGotoPage=\"page2\" rightButtonIcon=\"gear\""
    " rightButtonTheme=\"a\" navbarIconpos=\"top\""
    " navbarItems='[{\"label\":\"One\",\"icon\":\"home\",\"active\":true},{\"label\":\"Two\",\"theme\":\"b\",\"active\":0}]'/>"
    "<JQMFooterToolbar id=\"footer1\" position=\"inline\" navbarItems='[{\"label\":\"A\"},{\"label\":\"B\",\"active\":1}]'/>"
    "<JQMFooterToolbar id=\"footer2\" title=\"\"/>"
    "<JQMHeaderToolbar id=\"header2\" title=\"\" leftButtonLabel=\"\" rightButtonLabel=\"\"/>");

} // namespace

TEST(JQMToolbar, DesignAndOutputMarkupFollowTheHeadingAndButtonRules)
{
    for (const bool design : {true, false}) {
        auto project = krOpenPageProject(kToolbars, design);
        ASSERT_TRUE(project);
        const auto page = project->krPages().first();
        const QString suffix = design ? QStringLiteral("design") : QStringLiteral("output");
        krExpectGolden(QStringLiteral("toolbars-%1.html").arg(suffix), page->pageDivElement()->outerHTML() + QLatin1Char('\n'));
        const auto header = object<JQMBaseToolbar>(project, QStringLiteral("header1"));
        ASSERT_TRUE(header);
        EXPECT_EQ(header->designViewSelectionElement()->id(), QStringLiteral("_page1_header1_div"));
        // The toolbars sit at the end of the page element, with no position of their own.
        EXPECT_EQ(header->domElement()->parentNode(), page->pageDivElement());
        EXPECT_FALSE(header->domElement()->hasAttribute(QStringLiteral("data-role")));
        // Footers are fixed whatever the position says; the items-only footer has no heading.
        const auto footer = object<JQMBaseToolbar>(project, QStringLiteral("footer1"));
        EXPECT_EQ(footer->designViewSelectionElement()->getAttribute(QStringLiteral("data-position")), QStringLiteral("fixed"));
        EXPECT_FALSE(footer->domElement()->firstElementByTagName(QStringLiteral("h1")));
        const auto footer2 = object<JQMBaseToolbar>(project, QStringLiteral("footer2"));
        EXPECT_EQ(footer2->domElement()->firstElementByTagName(QStringLiteral("h1"))->textContent(), QStringLiteral(" "));
        EXPECT_EQ(object<JQMBaseToolbar>(project, QStringLiteral("header2"))
                      ->domElement()->firstElementByTagName(QStringLiteral("h1"))->textContent(),
                  QStringLiteral(" "));
        EXPECT_EQ(page->pageDivElement()->outerHTML().contains(QStringLiteral("ui-disabled")), design);
        if (design) {
            const QStringList scripts = krRunDesignScripts(page);
            EXPECT_TRUE(scripts.contains(QStringLiteral(
                "$(document).ready(function() {$('#page1_header1').closest('.ui-page').removeClass('ui-page-header-fixed')"
                ".css('padding-top', '');$('#page1_header1').enhanceWithin();});")))
                << scripts.join(QLatin1Char('\n')).toStdString();
        } else {
            krExpectGolden(QStringLiteral("toolbars-initializers.txt"), krInitializerLines(header) + krInitializerLines(footer));
        }
    }
}

// A project that names jQuery Mobile 1.3 runs on the shipped 1.4: its toolbars are made for 1.4.
TEST(JQMToolbar, ProjectsNamingJQueryMobile13GetToolbarsForTheShippedRelease)
{
    auto project = krOpenPageProject(QStringLiteral("<JQMHeaderToolbar id=\"header1\" title=\"T\"/>"), true, nullptr,
                                     QStringLiteral("JQMVersion=\"1.3\""));
    ASSERT_TRUE(project);
    const auto header = object<JQMBaseToolbar>(project, QStringLiteral("header1"));
    EXPECT_EQ(header->designViewSelectionElement()->getAttribute(QStringLiteral("data-update-page-padding")), QStringLiteral("false"));
    const QStringList scripts = krRunDesignScripts(project->krPages().first());
    EXPECT_FALSE(scripts.join(QString()).contains(QStringLiteral("pagecreate"))) << scripts.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(scripts.join(QString()).contains(QStringLiteral(".enhanceWithin();});"))) << scripts.join(QLatin1Char('\n')).toStdString();
}

TEST(JQMToolbar, NewToolbarsHaveNoGeometryAndHeadersAreFixed)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenPageProject(QString(), true, &document);
    const auto page = project->krPages().first();
    const auto header = page->createNewObject(QStringLiteral("JQMHeaderToolbar"), QString());
    ASSERT_TRUE(header);
    EXPECT_EQ(header->kr_id(), QStringLiteral("header1"));
    EXPECT_EQ(header->value(QStringLiteral("kr_position")), QStringLiteral("fixed"));
    EXPECT_EQ(header->value(QStringLiteral("kr_title")), QStringLiteral("Header"));
    for (const char *key : {"kr_width", "kr_height"})
        EXPECT_EQ(header->value(QLatin1String(key)), QString()) << key;
    EXPECT_FALSE(header->domElement()->style().getPropertyValue(QStringLiteral("position")).size());
    EXPECT_EQ(page->createNewObject(QStringLiteral("JQMFooterToolbar"), QString())->kr_id(), QStringLiteral("footer1"));
}

TEST(JQMItemList, HostileTextMakesValidScriptsAndReferencesAreChecked)
{
    JQMItemList::Items items = JQMItemList::Items::array();
    items.push_back({{"label", "say \"hi\"\nback\\slash\\"},
                     {"icon", "x\u2028y</script><script>alert(1)</script>"},
                     {"onClick", "handler1"},
                     {"active", true},
                     {"badge", ""},
                     {"weird\"key", 1.5}});
    items.push_back({{"label", "two\r\n"}, {"onClick", "alert(1); x"}, {"nested", {1, 2}}, {"gotoPage", "page2"}});
    items.push_back(42); // not an item
    const QString literal = JQMItemList::initializer(items, QStringLiteral("{_krinit:true, items: ["), QStringLiteral("page1"), false);
    EXPECT_EQ(literal, QStringLiteral("{_krinit:true, items: [{\"label\":\"say \\\"hi\\\"\\nback\\\\slash\\\\\","
                                      "\"icon\":\"x\\u2028y<\\/script><script>alert(1)<\\/script>\","
                                      "\"onClick\":application._pages.page1._events.handler1,\"active\":1,"
                                      "\"weird\\\"key\":1.5},{\"label\":\"two\\r\\n\",\"gotoPage\":\"page2\"}]}"));
    QString errors;
    EXPECT_TRUE(krNodeAccepts(QStringLiteral("var application = {_pages: {page1: {_events: {handler1: function() {}}}}};\n"
                                             "var list = %1;\n")
                                  .arg(literal),
                              &errors))
        << errors.toStdString();
    // A page id that is no identifier makes no reference at all.
    EXPECT_FALSE(JQMItemList::initializer(items, QStringLiteral("{"), QStringLiteral("bad-id"), false).contains(QStringLiteral("_events")));
    EXPECT_TRUE(JQMItemList::parse(QStringLiteral("{\"label\":1}")).empty());
    EXPECT_TRUE(JQMItemList::parse(QStringLiteral("[oops")).empty());
    // Reading the same text again gives the list afresh: what a caller changed in its copy
    // is not seen, and another text is read as itself.
    const QString listText = QStringLiteral("[{\"label\":\"A\"}]");
    JQMItemList::Items changed = JQMItemList::parse(listText);
    changed.push_back({{"label", "B"}});
    EXPECT_EQ(JQMItemList::serialize(JQMItemList::parse(listText)), listText);
    EXPECT_EQ(JQMItemList::parse(QStringLiteral("[{\"label\":\"C\"}]")).size(), 1u);
    EXPECT_TRUE(JQMItemList::parse(QStringLiteral("[oops")).empty());
    // More lists than are kept, read in turn, each come back as themselves.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 7; ++i) {
            const JQMItemList::Items items = JQMItemList::parse(QStringLiteral("[{\"label\":\"%1\"}]").arg(i));
            ASSERT_EQ(items.size(), 1u);
            EXPECT_EQ(JQMItemList::stringValue(items[0], "label"), QString::number(i));
        }
    }
}

TEST(JQMToolbar, HandlerReferencesFollowRenameAndDeletionWithUndo)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenPageProject(
        QStringLiteral("<JQMHeaderToolbar id=\"header1\" navbarOnClick=\"go\" leftButtonOnClick=\"go\" rightButtonOnClick=\"other\""
                       " navbarItems='[{\"label\":\"A\",\"onClick\":\"go\"},{\"label\":\"B\",\"onClick\":\"go\"},{\"label\":\"C\",\"onClick\":\"other\"}]'/>"),
        true, &document);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    const auto go = std::dynamic_pointer_cast<KRFunction>(page->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("go")));
    undo.endUndoGrouping();
    ASSERT_TRUE(go);
    QCoreApplication::processEvents(); // the adapters start following function references
    const auto toolbar = object<JQMBaseToolbar>(project, QStringLiteral("header1"));
    const QString original = toolbar->value(QStringLiteral("kr_navbarItems"));
    const auto xml = [&](const char *name) { return toolbar->xmlElement().attribute(QLatin1String(name)); };

    undo.beginUndoGrouping();
    go->setKr_id(QStringLiteral("goThere"));
    undo.endUndoGrouping();
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_navbarOnClick")), QStringLiteral("goThere"));
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_leftButtonOnClick")), QStringLiteral("goThere"));
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_rightButtonOnClick")), QStringLiteral("other"));
    EXPECT_EQ(xml("navbarItems"), QStringLiteral("[{\"label\":\"A\",\"onClick\":\"goThere\"},{\"label\":\"B\",\"onClick\":\"goThere\"},"
                                                 "{\"label\":\"C\",\"onClick\":\"other\"}]"));
    EXPECT_TRUE(krInitializerLines(toolbar).contains(QStringLiteral("navbarOnClick=application._pages.page1._events.goThere")));
    undo.undo();
    EXPECT_EQ(go->kr_id(), QStringLiteral("go"));
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_navbarOnClick")), QStringLiteral("go"));
    EXPECT_EQ(JQMItemList::serialize(toolbar->navbarItems()), JQMItemList::serialize(JQMItemList::parse(original)));
    undo.redo();
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_leftButtonOnClick")), QStringLiteral("goThere"));
    EXPECT_TRUE(xml("navbarItems").contains(QStringLiteral("goThere")));

    // Deleting the function clears every link to it; undoing the deletion restores them all.
    int writes = 0;
    auto token = toolbar->observable().observe(QStringLiteral("kr_navbarItems"),
                                               [&](const void *, const QString &, const QVariant &, const QVariant &) { ++writes; });
    undo.beginUndoGrouping();
    page->deleteObjects({go});
    undo.endUndoGrouping();
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_navbarOnClick")), QString());
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_leftButtonOnClick")), QString());
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_rightButtonOnClick")), QStringLiteral("other"));
    EXPECT_EQ(xml("navbarItems"), QStringLiteral("[{\"label\":\"A\"},{\"label\":\"B\"},{\"label\":\"C\",\"onClick\":\"other\"}]"));
    EXPECT_EQ(xml("navbarOnClick"), QString());
    undo.undo();
    EXPECT_EQ(page->objectForID(QStringLiteral("goThere")), go);
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_navbarOnClick")), QStringLiteral("goThere"));
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_leftButtonOnClick")), QStringLiteral("goThere"));
    EXPECT_EQ(xml("navbarOnClick"), QStringLiteral("goThere"));
    EXPECT_TRUE(xml("navbarItems").startsWith(QStringLiteral("[{\"label\":\"A\",\"onClick\":\"goThere\"}")));
    undo.redo();
    EXPECT_EQ(toolbar->value(QStringLiteral("kr_navbarOnClick")), QString());
    EXPECT_FALSE(xml("navbarItems").contains(QStringLiteral("goThere")));
}

TEST(JQMListView, MarkupInitialiserAndEdgeCases)
{
    const QString items = QStringLiteral(
        "[{\"divider\":true,\"label\":\"Fruit\",\"theme\":\"b\",\"icon\":\"star\",\"badge\":\"3\",\"onClick\":\"f\"},"
        "{\"label\":\"Apple\",\"badge\":\"\",\"gotoPage\":\"page2\"},"
        "{\"label\":\"Pear\",\"icon\":\"gear\",\"badge\":\"12\",\"thumbnailImage\":\"pear.png\",\"theme\":\"c\",\"onClick\":\"f\"}]");
    const QString xml = QStringLiteral("<JQMListView id=\"listview1\" top=\"40\" left=\"0\" width=\"100%\" height=\"400\" icon=\"arrow-r\""
                                       " inset=\"true\" filter=\"true\" filterPlaceholder=\"Find…\" wordwrap=\"true\">%1</JQMListView>"
                                       "<JQMListView id=\"listview2\" icon=\"\">[{\"label\":\"No icon\"}]</JQMListView>"
                                       "<JQMListView id=\"listview3\">not json</JQMListView>")
                            .arg(items.toHtmlEscaped());
    for (const bool design : {true, false}) {
        auto project = krOpenPageProject(xml, design);
        ASSERT_TRUE(project);
        const auto page = project->krPages().first();
        const QString suffix = design ? QStringLiteral("design") : QStringLiteral("output");
        krExpectGolden(QStringLiteral("listview-%1.html").arg(suffix), page->pageDivElement()->outerHTML() + QLatin1Char('\n'));
        const auto list = object<JQMListView>(project, QStringLiteral("listview1"));
        ASSERT_TRUE(list);
        const auto lis = list->domElement()->getElementsByTagName(QStringLiteral("li"));
        ASSERT_EQ(lis.size(), 3u);
        EXPECT_FALSE(lis[0]->firstElementByTagName(QStringLiteral("a")));
        EXPECT_FALSE(lis[0]->hasAttribute(QStringLiteral("data-icon")));
        EXPECT_EQ(lis[1]->getAttribute(QStringLiteral("data-icon")), QStringLiteral("arrow-r"));
        EXPECT_EQ(lis[1]->firstElementByTagName(QStringLiteral("span"))->getAttribute(QStringLiteral("class")), QStringLiteral("kr-lvi-badge"));
        const auto noIcon = object<JQMListView>(project, QStringLiteral("listview2"));
        EXPECT_FALSE(noIcon->domElement()->firstElementByTagName(QStringLiteral("li"))->hasAttribute(QStringLiteral("data-icon")));
        const auto broken = object<JQMListView>(project, QStringLiteral("listview3"));
        EXPECT_FALSE(broken->domElement()->firstElementByTagName(QStringLiteral("li")));
        EXPECT_EQ(broken->jsInitializerForKey(QStringLiteral("kr_items")), QStringLiteral("{ _krinit: true, items: []}"));
        if (design) {
            const QStringList scripts = krRunDesignScripts(page);
            EXPECT_TRUE(scripts.contains(QStringLiteral(
                "$('#page1_listview1').trigger('create');$('#_page1_listview1_ul li').addClass('ui-disabled');"
                "$('#page1_listview1 input').textinput('disable');")))
                << scripts.join(QLatin1Char('\n')).toStdString();
        } else {
            const QString lines = krInitializerLines(list);
            krExpectGolden(QStringLiteral("listview-initializers.txt"), lines);
            QString errors;
            EXPECT_TRUE(krNodeAccepts(QStringLiteral("var application = {_pages: {page1: {_events: {}}}};\nvar x = %1;\n")
                                          .arg(list->jsInitializerForKey(QStringLiteral("kr_items"))),
                                      &errors))
                << errors.toStdString();
        }
    }
}

TEST(JQMListView, NewListDefaultsAndItemReferencesFollowFunctions)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenPageProject(QString(), true, &document);
    const auto page = project->krPages().first();
    KRUndoManager &undo = document->undoManager();
    undo.setGroupsByEvent(false);
    undo.beginUndoGrouping();
    const auto list = std::dynamic_pointer_cast<JQMListView>(page->createNewObject(QStringLiteral("JQMListView"), QString()));
    const auto f = page->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("tap"));
    undo.endUndoGrouping();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->kr_id(), QStringLiteral("listview1"));
    EXPECT_EQ(list->value(QStringLiteral("kr_items")),
              QStringLiteral("[{\"label\":\"Item #1\"}, {\"label\":\"Item #2\"}, {\"label\":\"Item #3\"}]"));
    EXPECT_EQ(list->value(QStringLiteral("kr_width")), QStringLiteral("100%"));
    EXPECT_EQ(list->domElement()->getElementsByTagName(QStringLiteral("li")).size(), 3u);

    JQMItemList::Items items = list->items();
    items[0]["onClick"] = "tap";
    items[2]["onClick"] = "tap";
    undo.beginUndoGrouping();
    list->setItems(items);
    undo.endUndoGrouping();
    EXPECT_EQ(list->xmlElement().stringValue(),
              QStringLiteral("[{\"label\":\"Item #1\",\"onClick\":\"tap\"},{\"label\":\"Item #2\"},{\"label\":\"Item #3\",\"onClick\":\"tap\"}]"));

    undo.beginUndoGrouping();
    f->setKr_id(QStringLiteral("tapped"));
    undo.endUndoGrouping();
    EXPECT_EQ(list->items()[0]["onClick"], "tapped");
    EXPECT_EQ(list->items()[2]["onClick"], "tapped");

    int writes = 0;
    auto token = list->observable().observe(QStringLiteral("kr_items"),
                                            [&](const void *, const QString &, const QVariant &, const QVariant &) { ++writes; });
    undo.beginUndoGrouping();
    page->deleteObjects({f});
    undo.endUndoGrouping();
    EXPECT_EQ(writes, 1);
    EXPECT_FALSE(list->value(QStringLiteral("kr_items")).contains(QStringLiteral("onClick")));
    undo.undo();
    EXPECT_EQ(list->items()[2]["onClick"], "tapped");
    undo.undo();
    EXPECT_EQ(list->items()[0]["onClick"], "tap");
    undo.redo();
    undo.redo();
    EXPECT_FALSE(list->value(QStringLiteral("kr_items")).contains(QStringLiteral("onClick")));
}

TEST(KRBluffGraph, MarkupAndEscapedDesignScript)
{
    const QString xml = QStringLiteral("<KRBluffGraph id=\"graph1\" top=\"10\" left=\"10\" width=\"300\" height=\"200\" type=\"Bar\""
                                       " theme=\"keynote\" title=\"%1\"/>")
                            .arg(xmlAttr(QStringLiteral("Tom's \"sales\"\n</script>")));
    auto output = krOpenPageProject(xml, false);
    ASSERT_TRUE(output);
    const auto built = object<KRBluffGraph>(output, QStringLiteral("graph1"));
    krExpectGolden(QStringLiteral("graph-output.html"), built->domElement()->outerHTML() + QLatin1Char('\n'));
    krExpectGolden(QStringLiteral("graph-initializers.txt"), krInitializerLines(built));
    EXPECT_EQ(KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KRBluffGraph"))->requiredScripts,
              (QStringList{QStringLiteral("js-class.js"), QStringLiteral("bluff-src.js")}));

    auto design = krOpenPageProject(xml, true);
    const auto page = design->krPages().first();
    const auto graph = object<KRBluffGraph>(design, QStringLiteral("graph1"));
    krExpectGolden(QStringLiteral("graph-design-script.js"), graph->designScript());
    QString errors;
    EXPECT_TRUE(krNodeAccepts(graph->designScript(), &errors)) << errors.toStdString();
    QStringList scripts = krRunDesignScripts(page);
    EXPECT_TRUE(scripts.contains(graph->designScript()));

    // Names in code fall back to the defaults when they are not plain names.
    graph->setValue(QStringLiteral("kr_type"), QStringLiteral("Line(); evil()"));
    graph->setValue(QStringLiteral("kr_theme"), QStringLiteral("x();y"));
    EXPECT_TRUE(graph->designScript().contains(QStringLiteral("new Bluff.Line(\"_page1_graph1_canvas\", \"300x200\")")));
    EXPECT_TRUE(graph->designScript().contains(QStringLiteral("g.theme_greyscale();")));

    // A change redraws once, later; during a drag nothing is redrawn.
    krRunDesignScripts(page);
    KRBluffGraph::setDraggingProvider([] { return true; });
    graph->setValue(QStringLiteral("kr_left"), QStringLiteral("50"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(krRunDesignScripts(page).isEmpty());
    KRBluffGraph::setDraggingProvider({});
    graph->setValue(QStringLiteral("kr_title"), QStringLiteral("A"));
    graph->setValue(QStringLiteral("kr_title"), QStringLiteral("B"));
    QCoreApplication::processEvents();
    scripts = krRunDesignScripts(page);
    ASSERT_EQ(scripts.size(), 1);
    EXPECT_TRUE(scripts.first().contains(QStringLiteral("g.title = \"B\";")));
    EXPECT_EQ(graph->domElement()->getElementsByTagName(QStringLiteral("canvas")).size(), 1u);
}

TEST(KRPhotoSwipe, PlaceholderImagesInitialiserAndLibraryFiles)
{
    const QString images = QStringLiteral("a.jpg|First\n\nb.jpg\nc\\|d.jpg|cap\\|tion|ignored\n");
    const QString xml = QStringLiteral("<KRPhotoSwipe id=\"photoswipe1\" top=\"0\" left=\"0\" width=\"300\" height=\"200\" loop=\"true\""
                                       " margin=\"20\" imageScaleMethod=\"fit\">%1</KRPhotoSwipe>")
                            .arg(images.toHtmlEscaped());
    auto design = krOpenPageProject(xml, true);
    ASSERT_TRUE(design);
    const auto gallery = object<KRPhotoSwipe>(design, QStringLiteral("photoswipe1"));
    krExpectGolden(QStringLiteral("photoswipe-design.html"), gallery->domElement()->outerHTML() + QLatin1Char('\n'));
    EXPECT_EQ(gallery->placeholderIconSize(), 100);
    gallery->setValue(QStringLiteral("kr_width"), QStringLiteral("301"));
    gallery->setValue(QStringLiteral("kr_height"), QStringLiteral("301"));
    QCoreApplication::processEvents();
    EXPECT_EQ(gallery->placeholderIconSize(), 150);
    EXPECT_TRUE(gallery->domElement()->innerHTML().contains(QStringLiteral("background-size:150px 150px;")));

    auto output = krOpenPageProject(xml, false);
    const auto built = object<KRPhotoSwipe>(output, QStringLiteral("photoswipe1"));
    EXPECT_FALSE(built->domElement()->hasChildNodes());
    EXPECT_EQ(built->jsInitializerForKey(QStringLiteral("kr_images")),
              QStringLiteral("[{\"url\":\"a.jpg\",\"caption\":\"First\"},{\"url\":\"b.jpg\",\"caption\":\"\"},"
                             "{\"url\":\"c|d.jpg\",\"caption\":\"cap|tion\"}]"));
    krExpectGolden(QStringLiteral("photoswipe-initializers.txt"), krInitializerLines(built));

    // Every library file the class names is one that the staged folder holds.
    const KRObjectClass *c = KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KRPhotoSwipe"));
    const QString staged = KRResources::resourcesDirectory() + QStringLiteral("/local-server/");
    if (!QFileInfo(staged + QStringLiteral("photoswipe-3.0.5")).isDir())
        GTEST_SKIP() << "web libraries not staged (tools/stage-web-libs)";
    for (const QStringList &list : {c->requiredScripts, c->requiredStylesheets, c->requiredResources})
        for (const QString &path : list)
            EXPECT_TRUE(QFileInfo(staged + path).isFile()) << path.toStdString();
    EXPECT_TRUE(QFileInfo(staged + QStringLiteral("photoswipe-3.0.5/aperture-icon.png")).isFile());
}

TEST(JQMSimplePopup, HasNoElementButReachesThePageScript)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenPageProject(QString(), true, &document);
    const auto page = project->krPages().first();
    const QString before = page->bodyElement()->outerHTML();
    const auto popup = page->createNewObject(QStringLiteral("JQMSimplePopup"), QString());
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->kr_id(), QStringLiteral("popup1"));
    EXPECT_FALSE(popup->domElement());
    EXPECT_EQ(page->bodyElement()->outerHTML(), before);
    popup->setValue(QStringLiteral("kr_text"), QStringLiteral("Line one\nLine \"two\"\\"));
    krExpectGolden(QStringLiteral("popup-initializers.txt"), krInitializerLines(popup));
    QString errors;
    EXPECT_TRUE(krNodeAccepts(QStringLiteral("var o = {};\n") + krInitializerLines(popup).replace(QRegularExpression(QStringLiteral("^(\\w+)="), QRegularExpression::MultilineOption), QStringLiteral("o.\\1 = ")),
                              &errors))
        << errors.toStdString();
    QStringList events;
    for (const KRMenuItem &item : popup->contextMenuItemsForObject())
        for (const KRMenuItem &sub : item.submenu)
            events << sub.title;
    EXPECT_TRUE(events.join(QLatin1Char('|')).contains(QStringLiteral("onButton1Click")));
    EXPECT_TRUE(events.join(QLatin1Char('|')).contains(QStringLiteral("onButton2Click")));
}

TEST(CompositeCatalogue, EveryPropertyHasACatalogueEntryAndEveryEntryAProperty)
{
    krRegisterCompositeTestClasses();
    KRObjectInfo &catalogue = KRObjectInfo::sharedInstance();
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    for (const char *name : {"JQMBaseToolbar", "JQMHeaderToolbar", "JQMFooterToolbar", "JQMListView", "KRBluffGraph",
                             "KRPhotoSwipe", "JQMSimplePopup", "KRPlugin"}) {
        const QString className = QLatin1String(name);
        ASSERT_TRUE(catalogue.hasClass(className)) << name;
        EXPECT_EQ(catalogue.superclassName(className), registry.classNamed(className)->superclassName) << name;
        EXPECT_FALSE(catalogue.objectDescription(className).isEmpty()) << name;
        EXPECT_FALSE(catalogue.objectHelpHTML(className).isEmpty()) << name;
        const QSet<QString> keys = registry.objectProperties(className);
        for (const KRPropertyDescriptor &d : registry.descriptorTable(className)) {
            const KRPropertyInfo *info = catalogue.propertyInfoForProperty(d.propertyName(), className);
            EXPECT_TRUE(info) << name << " " << d.propertyName().toStdString();
        }
        for (const QString &property : catalogue.flatPropertyInfo(className).keyEnumerator())
            EXPECT_TRUE(keys.contains(QStringLiteral("kr_") + property)) << name << " " << property.toStdString();
    }
}

// A page shown again in a new view (the pool took the last one back) starts from its bare
// markup there: the class scripts and each control's latest set-up run once more, in document
// order, once jQuery Mobile has loaded, without touching the document or its history.
TEST(DesignSetUp, ANewViewSetsEveryControlUpAgain)
{
    std::shared_ptr<KRDocument> document;
    auto project = krOpenPageProject(
        QStringLiteral("<KRBluffGraph id=\"graph1\" top=\"320\" width=\"300\" height=\"200\"/>"
                       "<JQMHeaderToolbar id=\"header1\" title=\"Top\"/>"
                       "<JQMListView id=\"listview1\" top=\"40\">[{\"label\":\"One\"},{\"label\":\"Two\"}]</JQMListView>"
                       "<JQMSelect id=\"select1\" top=\"200\" options=\"a\nb\"/>"
                       "<JQMSlider id=\"slider1\" top=\"260\"/>"),
        true, &document);
    ASSERT_TRUE(project && document);
    const auto page = project->krPages().first();
    DOMRecordingScriptHost first;
    page->setScriptHost(&first);
    const QStringList shown = krRunDesignScripts(page);
    const auto list = object<JQMListView>(project, QStringLiteral("listview1"));
    const auto graph = object<KRBluffGraph>(project, QStringLiteral("graph1"));
    ASSERT_TRUE(list && graph);
    // Each control's set-up once, the page's toolbar fix first.
    const auto setUpOf = [&](const QString &id) {
        const QStringList found = shown.filter(QRegularExpression(QStringLiteral("^\\$.*%1").arg(id), QRegularExpression::DotMatchesEverythingOption));
        EXPECT_EQ(found.size(), 1) << id.toStdString();
        return found.value(0);
    };
    for (const char *id : {"_page1_graph1_canvas", "page1_header1", "_page1_listview1_ul", "_page1_select1_sel", "_page1_slider1_inp"})
        setUpOf(QLatin1String(id));
    ASSERT_TRUE(shown.first().contains(QLatin1String("ui-page-header-fixed")));

    // The view goes; meanwhile the list is renamed (a new set-up) and the slider deleted.
    page->setScriptHost(nullptr);
    list->setKr_id(QStringLiteral("menu"));
    page->deleteObjects({page->objectForID(QStringLiteral("slider1"))});
    krRunDesignScripts(page);
    QStringList expected = shown;
    const QString oldList = setUpOf(QStringLiteral("_page1_listview1_ul"));
    expected.replace(expected.indexOf(oldList), QString(oldList).replace(QStringLiteral("listview1"), QStringLiteral("menu")));
    expected.removeAll(setUpOf(QStringLiteral("_page1_slider1_inp")));
    const QString markup = page->htmlElement()->outerHTML();
    const auto undoSteps = document->undoManager().undoCount();
    const auto changeCount = document->undoManager().changeCount();

    // A new view taken back while loading runs nothing; the next one runs everything once.
    DOMRecordingScriptHost second, third;
    page->setScriptHost(&second);
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    QCoreApplication::processEvents();
    page->setScriptHost(&third);
    EXPECT_TRUE(third.evaluatedScripts().isEmpty());
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    EXPECT_TRUE(third.evaluatedScripts().isEmpty()); // not before jQuery Mobile
    EXPECT_EQ(krRunDesignScripts(page), expected);
    EXPECT_TRUE(second.evaluatedScripts().isEmpty());
    // The same view reloaded sets up again, once.
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryLoaded");
    QMetaObject::invokeMethod(page->pageProxy(), "jqueryMobileLoaded");
    EXPECT_EQ(krRunDesignScripts(page), expected);

    EXPECT_EQ(page->htmlElement()->outerHTML(), markup);
    EXPECT_EQ(document->undoManager().undoCount(), undoSteps);
    EXPECT_EQ(document->undoManager().changeCount(), changeCount);
    page->setScriptHost(nullptr);
}

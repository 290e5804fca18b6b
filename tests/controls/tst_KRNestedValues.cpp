// Values nested a hundred thousand levels deep, given to every reader of what a project, a
// paste, a plug-in manifest, a feed or a helper program's answer holds: none may crash, and a
// value past its reader's bound is refused with a message naming the depth, never dropped
// without a word.

#include "KRControlTestSupport.h"

#include <controls/KRPluginLoader.h>
#include <controls/jqm/JQMBaseToolbar.h>
#include <core/KRJSONSerialization.h>
#include <core/KRPropertyList.h>
#include <core/KRXMLDocument.h>
#include <core/markdown/KRMarkdown.h>
#include <model/KREditableResourceTypes.h>
#include <model/KRPasteboard.h>
#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMHTMLParser.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include <QDir>

#include <gtest/gtest.h>

namespace {

constexpr int kDeep = 100000;

// `open` repeated `depth` times around `inner`, closed by `close`.
QByteArray nested(int depth, const QByteArray &open, const QByteArray &inner, const QByteArray &close)
{
    return open.repeated(depth) + inner + close.repeated(depth);
}

QByteArray jsonArrays(int depth)
{
    return nested(depth, "[", "1", "]");
}

// The deepest level below the node, walked without recursion.
int treeDepth(const DOMNode &root)
{
    int deepest = 0;
    std::vector<std::pair<const DOMNode *, int>> pending{{&root, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, depth);
        for (const auto &child : node->childNodes())
            pending.emplace_back(child.get(), depth + 1);
    }
    return deepest;
}

// The error of opening a package that holds the project.
KRError openingError(const QByteArray &projectXML)
{
    const QString package = KRTest::makeTempDir(QStringLiteral("nested")) + QStringLiteral("/Deep.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), projectXML);
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return document.error();
    KRResult<std::shared_ptr<KRProject>> project = KRProject::create(document.value(), true);
    return project ? KRError() : project.error();
}

QByteArray pageXML(const QString &contents)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">\n"
                          "<KRProject/><KRPages><KRPage id=\"page1\" title=\"Page 1\"><KRContents>\n%2"
                          "</KRContents></KRPage></KRPages></KRProjectDocument>\n")
        .arg(KRDocument::applicationShortVersion(), contents)
        .toUtf8();
}

std::string text(const QString &s) { return s.toStdString(); }

} // namespace

TEST(KRNestedValues, EveryReaderRefusesOrBoundsAHundredThousandLevels)
{
    KRControlTest::registerClasses();
    const QByteArray deepJSON = jsonArrays(kDeep);
    const QString deepLevels = QStringLiteral("%1 levels deep").arg(kDeep);

    // JSON: the shared readers refuse the text before any tree is built, naming its depth, and
    // read it at the bound.
    {
        const std::string_view view(deepJSON.constData(), std::size_t(deepJSON.size()));
        const KRResult<nlohmann::ordered_json> read = KRJSONSerialization::read(view);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().userInfo().value(QStringLiteral("depth")).toInt(), kDeep);
        EXPECT_EQ(text(read.error().message()),
                  "The JSON text is refused: it nests arrays and objects 100000 levels deep, and JSON may nest them "
                  "at most 512 levels deep.");
        const KRResult<QJsonDocument> document = KRJSONSerialization::readDocument(deepJSON);
        ASSERT_FALSE(document.ok());
        EXPECT_EQ(document.error().message(), read.error().message());
        EXPECT_FALSE(KRJSONSerialization::parse(view).has_value());
        const QByteArray atBound = jsonArrays(KRJSONSerialization::MaximumDepth);
        EXPECT_TRUE(KRJSONSerialization::read(std::string_view(atBound.constData(), std::size_t(atBound.size()))).ok());
        EXPECT_TRUE(KRJSONSerialization::readDocument(atBound).ok());
        EXPECT_FALSE(KRJSONSerialization::readDocument("[1,").ok());
        // An item list read past the bound is empty (the project holding it is refused below).
        EXPECT_TRUE(JQMItemList::parse(QString::fromLatin1(deepJSON)).empty());
        EXPECT_EQ(JQMItemList::parse(QStringLiteral("[{\"label\":\"a\"}]")).size(), 1u);
        // The table of editable resource types.
        const KRResult<KREditableResourceTypes> types = KREditableResourceTypes::loadFromData(deepJSON);
        ASSERT_FALSE(types.ok());
        EXPECT_TRUE(types.error().message().contains(deepLevels)) << text(types.error().message());
    }

    // A project whose list items, bar items, per-device value or include list nest that deep is
    // refused as its file is read, before a window is made, naming the line, the object, the
    // value and the depth.
    {
        const QString deep = QString::fromLatin1(deepJSON);
        const struct
        {
            QString contents;
            QString named;
        } projects[] = {
            {QStringLiteral("<JQMListView id=\"list\">%1</JQMListView>").arg(deep),
             QStringLiteral("line 4: the value \u201Citems\u201D of the JQMListView \u201Clist\u201D nests")},
            {QStringLiteral("<JQMHeaderToolbar id=\"bar\" navbarItems=\"%1\"/>").arg(deep),
             QStringLiteral("line 4: the value \u201CnavbarItems\u201D of the JQMHeaderToolbar \u201Cbar\u201D nests")},
            {QStringLiteral("<KRLabel id=\"label\" top='%1'/>").arg(nested(kDeep, "{\"a\":", "1", "}")),
             QStringLiteral("line 4: the value \u201Ctop\u201D of the KRLabel \u201Clabel\u201D nests")},
            {QString(), QStringLiteral("line 3: the value \u201CcssIncludes\u201D of the KRProject nests")},
        };
        const QByteArray includes = pageXML(QString()).replace(
            "<KRProject/>", "<KRProject cssIncludes=\"" + deepJSON + "\"/>");
        for (const auto &project : projects) {
            const KRError error = openingError(project.contents.isNull() ? includes : pageXML(project.contents));
            EXPECT_TRUE(error.message().startsWith(QStringLiteral("The file \""))) << text(error.message());
            EXPECT_TRUE(error.message().contains(QStringLiteral("project.xml\" is refused: ") + project.named))
                << text(error.message());
            EXPECT_EQ(error.userInfo().value(QStringLiteral("depth")).toInt(), kDeep);
            EXPECT_TRUE(error.message().contains(deepLevels)) << text(error.message());
        }
        // At the bound the list opens with its items.
        const QByteArray atBound = QByteArray("[{\"label\":\"x\",\"more\":") + jsonArrays(KRJSONSerialization::MaximumDepth - 2)
            + "}]";
        const auto page = KRControlTest::openPage(
            QStringLiteral("<JQMListView id=\"list\">%1</JQMListView>").arg(QString::fromLatin1(atBound)), true);
        ASSERT_TRUE(page);
        EXPECT_TRUE(page->objectForID(QStringLiteral("list")));

        // Pasted: refused with a message, nothing pasted.
        auto alerts = std::make_shared<KRScriptedAlertService>();
        auto previous = KRAlertService::setCurrent(alerts);
        KRPasteboard::generalPasteboard().setString(
            KRObjectPboardType, QStringLiteral("<objects><JQMListView id=\"pasted\">%1</JQMListView></objects>").arg(deep));
        EXPECT_TRUE(page->pasteObjects().isEmpty());
        KRAlertService::setCurrent(previous);
        EXPECT_FALSE(page->objectForID(QStringLiteral("pasted")));
        ASSERT_EQ(alerts->shownAlerts().size(), 1);
        EXPECT_EQ(alerts->shownAlerts().at(0).messageText, QStringLiteral("The objects could not be pasted."));
        EXPECT_TRUE(alerts->shownAlerts().at(0).informativeText.contains(deepLevels))
            << text(alerts->shownAlerts().at(0).informativeText);
    }

    // A plug-in's manifest is skipped with a word in the loader's report.
    {
        const QString bundle = KRTest::makeTempDir(QStringLiteral("plugins")) + QStringLiteral("/Deep.krplugin");
        QDir().mkpath(bundle);
        KRTest::writeFile(bundle + QStringLiteral("/krplugin.json"),
                          "{\"classes\":" + deepJSON + "}");
        KRPluginLoader loader;
        loader.loadPlugin(bundle);
        EXPECT_TRUE(loader.loadedClasses().isEmpty());
        const QString report = loader.problems().join(QLatin1Char('\n'));
        EXPECT_TRUE(report.contains(QStringLiteral("krplugin.json is refused: it nests arrays and objects 100001 levels deep")))
            << text(report);
    }

    // XML and property lists refuse the element past their bound.
    {
        const KRResult<KRXMLDocument> xml = KRXMLDocument::fromData(nested(kDeep, "<e>", "", "</e>"));
        ASSERT_FALSE(xml.ok());
        EXPECT_EQ(xml.error().userInfo().value(QStringLiteral("depth")).toInt(), KRXMLDocument::MaximumDepth + 1);
        EXPECT_FALSE(KRPropertyList::propertyListFromData("<plist>" + nested(1000, "<array>", "", "</array>") + "</plist>").ok());
    }

    // HTML content keeps what lies past 512 levels beside the deepest element kept; Markdown past
    // 16 levels keeps its text as it stands, every level either read or kept as text; a style
    // sheet's blocks are counted, not descended, and the rule is kept whole.
    {
        const QByteArray html = nested(kDeep, "<div>", "innermost", "</div>");
        {
            const auto document = DOMDocument::create();
            DOMHTMLParser::parseDocument(QString::fromLatin1(html), *document);
            EXPECT_LE(treeDepth(*document), DOMHTMLParser::maximumDepth + 2);
            EXPECT_TRUE(document->documentElement()->textContent().contains(QStringLiteral("innermost")));
        }
        KRError error;
        const QString markdown = KRMarkdown::htmlFromMarkdown(QString::fromLatin1(nested(kDeep, "> ", "quoted", "")), &error);
        EXPECT_TRUE(markdown.contains(QStringLiteral("quoted")));
        const qsizetype quotes = markdown.count(QStringLiteral("<blockquote>"));
        EXPECT_LE(quotes, 17);
        EXPECT_EQ(quotes + markdown.count(QStringLiteral("&gt; ")), kDeep) << "levels lost";
        const QString brackets = KRMarkdown::htmlFromMarkdown(QString::fromLatin1(nested(kDeep, "[", "x", "](y)")));
        EXPECT_TRUE(brackets.contains(QLatin1Char('x')));
        const qsizetype links = brackets.count(QStringLiteral("<a href=\"y\">"));
        EXPECT_LE(links, 17);
        EXPECT_EQ(links + brackets.count(QLatin1Char('[')), kDeep) << "levels lost";
        EXPECT_EQ(brackets.count(QStringLiteral("</a>")) + brackets.count(QStringLiteral("](y)")), kDeep) << "levels lost";
        const QString css = QString::fromLatin1(nested(kDeep, "@media screen { a ", "{color: red}", "}"));
        const DOMCSSStyleSheet sheet(nullptr, css);
        ASSERT_EQ(sheet.cssRules().size(), 1u);
        EXPECT_TRUE(sheet.cssRules().front()->cssText() == css) << "the rule is not kept whole";
    }
}

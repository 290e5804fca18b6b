#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/dom/DOMText.h>

#include "DOMTestSupport.h"

#include <gtest/gtest.h>

namespace {

QString id(const std::shared_ptr<DOMNode> &node)
{
    return QString::number(node->nodeId());
}

} // namespace

TEST(DOMMutations, EveryChangeOfTheTreeIsReportedInOrder)
{
    const auto doc = DOMDocument::createHTMLDocument();
    RecordingListener listener;
    doc->addMutationListener(&listener);
    const auto body = doc->body();

    // Changes of a node outside the tree are not reported; its insertion carries the node.
    const auto div = doc->createElement("div");
    div->setAttribute("id", "page1_b");
    div->style().setProperty("position", "absolute");
    const auto text = doc->createTextNode("x");
    div->appendChild(text);
    EXPECT_TRUE(listener.lines.isEmpty());
    std::shared_ptr<DOMNode> inserted;
    struct Capture : DOMMutationListener {
        std::shared_ptr<DOMNode> *out;
        void domDidMutate(const DOMMutation &m) override { if (m.insertedNode) *out = m.insertedNode; }
    } capture;
    capture.out = &inserted;
    doc->addMutationListener(&capture);
    body->appendChild(div);
    doc->removeMutationListener(&capture);
    EXPECT_EQ(inserted, div);

    div->setAttribute("data-theme", "b");
    div->style().setProperty("left", "10px", "important");
    div->style().removeProperty("left");
    div->addClass("ui-page");
    div->setClasses({"ui-page", "kr-selected"});
    div->removeClassWithPrefix("ui-");
    text->setData("y");
    div->removeAttribute("data-theme");
    doc->evaluateScript("$('div').trigger('pagecreate');");
    const auto p = doc->createElement("p");
    body->insertBefore(p, div);
    body->removeChild(div);

    const QString d = id(div), b = id(body);
    EXPECT_EQ(listener.lines,
              QStringList({"insert " + d + " into " + b + " before 0",
                           "attr " + d + " data-theme=b",
                           "style " + d + "[-1] left=10px important",
                           "unstyle " + d + "[-1] left",
                           "+class " + d + " ui-page",
                           "+class " + d + " kr-selected",
                           "-class " + d + " ui-page",
                           "text " + id(text) + " y",
                           "unattr " + d + " data-theme",
                           "script $('div').trigger('pagecreate');",
                           "insert " + id(p) + " into " + b + " before " + d,
                           "remove " + d + " from " + b}));
    EXPECT_EQ(doc->recordingScriptHost()->evaluatedScripts(), QStringList({"$('div').trigger('pagecreate');"}));

    // Detached now: silent.
    listener.lines.clear();
    div->setAttribute("title", "t");
    EXPECT_TRUE(listener.lines.isEmpty());
    doc->removeMutationListener(&listener);
    p->setAttribute("title", "t");
    EXPECT_TRUE(listener.lines.isEmpty());
}

TEST(DOMMutations, ClassAttributeChangesComeAsWords)
{
    const auto doc = DOMDocument::parseHTML("<div id='d' class='a b'></div>");
    RecordingListener listener;
    doc->addMutationListener(&listener);
    const auto div = doc->getElementById("d");
    const QString d = id(div);
    div->setAttribute("class", "b c");
    div->removeAttribute("class");
    div->setOptionalAttribute("class", "x");
    EXPECT_EQ(listener.lines, QStringList({"-class " + d + " a", "+class " + d + " c", "-class " + d + " b",
                                           "-class " + d + " c", "+class " + d + " x"}));
    doc->removeMutationListener(&listener);
}

TEST(DOMMutations, TextInnerHTMLRulesAndStyleAttribute)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto style = doc->createElement("style");
    style->setTextContent("p.kr-css-marker {}");
    doc->head()->appendChild(style);
    const auto ul = doc->createElement("ul");
    ul->setInnerHTML("<li>1</li>");
    doc->body()->appendChild(ul);
    const auto oldLi = ul->firstChild();

    RecordingListener listener;
    doc->addMutationListener(&listener);
    ul->setInnerHTML("<li>a</li><li>b</li>");
    const auto sheet = doc->styleSheets().at(0);
    sheet->insertRule(".c1 {  }", 1);
    sheet->item(1)->style().setProperty("color", "red");
    sheet->item(1)->style().removeProperty("color");
    sheet->deleteRule(1);
    ul->style().setCssText("top: 0");
    ul->setAttribute("style", "left: 0");
    ul->setTextContent("");

    const QString u = id(ul), s = id(style);
    ASSERT_EQ(listener.lines.size(), 11) << listener.lines.join('\n').toStdString();
    const QString a = listener.lines[1].section(' ', 1, 1), b = listener.lines[2].section(' ', 1, 1);
    EXPECT_EQ(listener.lines,
              QStringList({"remove " + id(oldLi) + " from " + u, "insert " + a + " into " + u + " before 0",
                           "insert " + b + " into " + u + " before 0", "rule " + s + "[1] .c1 { }",
                           "style " + s + "[1] color=red", "unstyle " + s + "[1] color", "unrule " + s + "[1]",
                           "attr " + u + " style=top: 0;", "attr " + u + " style=left: 0", "remove " + b + " from " + u,
                           "remove " + a + " from " + u}));
    doc->removeMutationListener(&listener);
}

TEST(DOMMutations, ScriptHostHoldsNamedObjects)
{
    const auto doc = DOMDocument::createHTMLDocument();
    QObject proxy;
    doc->scriptHost()->setHostObject("___kr_page", &proxy);
    EXPECT_EQ(doc->scriptHost()->hostObject("___kr_page"), &proxy);
    EXPECT_EQ(doc->scriptHost()->hostObject("___kr_dwc"), nullptr);
    doc->scriptHost()->setHostObject("___kr_page", nullptr);
    EXPECT_EQ(doc->scriptHost()->hostObject("___kr_page"), nullptr);

    struct Host : DOMScriptHost {
        QStringList scripts;
        void setHostObject(const QString &, QObject *) override {}
        QObject *hostObject(const QString &) const override { return nullptr; }
        void evaluateScript(const QString &script) override { scripts << script; }
    } host;
    doc->setScriptHost(&host);
    doc->evaluateScript("a()");
    EXPECT_EQ(host.scripts, QStringList({"a()"}));
    doc->setScriptHost(nullptr);
    EXPECT_EQ(doc->scriptHost(), doc->recordingScriptHost());
}

TEST(DOMClassHelpers, EdgeCases)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto e = doc->createElement("div");

    e->addClass("ui-page");
    EXPECT_EQ(e->getAttribute("class"), "ui-page");
    e->addClass("ui-page");
    EXPECT_EQ(e->getAttribute("class"), "ui-page") << "a name already there stays once";
    e->removeClass("ui-page");
    EXPECT_FALSE(e->hasAttribute("class")) << "removing the only class removes the attribute";

    e->setAttribute("class", "  b   a  b ");
    EXPECT_EQ(e->classes(), QStringList({"b", "a"}));
    e->addClass("c");
    EXPECT_EQ(e->getAttribute("class"), "b a c") << "order kept, empty words and repeats dropped";
    e->setClasses({"c", "d", "", "b"});
    EXPECT_EQ(e->getAttribute("class"), "b c d");
    e->removeClass("x");
    EXPECT_EQ(e->getAttribute("class"), "b c d");

    e->setAttribute("class", "ui-body-a ui-page ui-body-b kr-x");
    e->removeClassWithPrefix("");
    EXPECT_EQ(e->getAttribute("class"), "ui-body-a ui-page ui-body-b kr-x");
    e->removeClassWithPrefix("ui-body-");
    EXPECT_EQ(e->getAttribute("class"), "ui-page kr-x");
    e->removeClassWithPrefix("");
    e->removeClassWithPrefix("ui-");
    e->removeClassWithPrefix("kr");
    EXPECT_FALSE(e->hasAttribute("class"));

    e->setClasses({});
    EXPECT_FALSE(e->hasAttribute("class"));
    e->setAttribute("class", "");
    e->removeClass("a");
    EXPECT_FALSE(e->hasAttribute("class")) << "an empty class attribute goes too";
}

TEST(DOMClassHelpers, OptionalAndDataAttributes)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto e = doc->createElement("div");
    e->setAttribute("id", "a");
    e->setAttribute("title", "x");
    e->setOptionalAttribute("id", "b");
    EXPECT_EQ(e->outerHTML(), "<div title=\"x\" id=\"b\"></div>") << "removed, then set: it moves to the end";
    e->setOptionalAttribute("title", "");
    EXPECT_FALSE(e->hasAttribute("title"));
    e->setOptionalAttribute("title", QString());
    EXPECT_FALSE(e->hasAttribute("title"));
    e->setDataAttribute("role", "page");
    e->setDataAttribute("theme", "a");
    EXPECT_EQ(e->getAttribute("data-role"), "page");
    e->setDataAttribute("theme", "");
    EXPECT_EQ(e->outerHTML(), "<div id=\"b\" data-role=\"page\"></div>");
    // Names are lower-cased as every attribute name is: an empty value removes whatever
    // case it was set in, and only that attribute.
    e->setDataAttribute("iconPos", "left");
    e->setDataAttribute("icon", "star");
    EXPECT_EQ(e->getAttribute("data-iconpos"), "left");
    e->setDataAttribute("ICONPOS", "");
    e->setDataAttribute("ico", "");
    e->setDataAttribute("missing", QString());
    EXPECT_EQ(e->outerHTML(), "<div id=\"b\" data-role=\"page\" data-icon=\"star\"></div>");
}

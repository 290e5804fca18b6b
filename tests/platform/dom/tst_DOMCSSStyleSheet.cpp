#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include "DOMTestSupport.h"

#include <gtest/gtest.h>

namespace {

// The fixed rules a page's style element starts with, ending with the marker rule.
const char *kPageRules =
    "html, body { font-size: 16px; font-family: \"Helvetica\"; background-color: #eee;}\n"
    "div { -webkit-box-sizing: border-box;}\n"
    "input, select { font-size: 24px; }\n"
    "input[type=\"text\"] { padding: 4px; }\n"
    "input { color: black }\n"
    "table, tr, td { border-color: black; border-width: 1px; }\n"
    ".ui-slider-input {display: none !important;}\n"
    ".ui-slider-track {width: 100% !important; margin: 0 0% 0 0% !important}\n"
    "form.ui-listview-filter {margin: 0 0% 0 0% !important}\n"
    "div[data-role=page].ui-page {background: inherit !important; font-family: inherit !important; color: inherit !important; text-shadow: inherit !important;}\n"
    "p.kr-css-marker {}\n";

std::shared_ptr<DOMElement> pageStyle(const std::shared_ptr<DOMDocument> &doc)
{
    const auto style = doc->createElement("style");
    style->setAttribute("type", "text/css");
    style->setTextContent(QString::fromUtf8(kPageRules));
    doc->head()->appendChild(style);
    return style;
}

} // namespace

TEST(DOMCSSStyleSheet, ParsesTheStyleElementsText)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto style = pageStyle(doc);
    const auto sheets = doc->styleSheets();
    ASSERT_EQ(sheets.size(), 1u);
    const auto sheet = sheets[0];
    EXPECT_EQ(sheet, style->sheet());
    EXPECT_EQ(sheet->ownerNode(), style.get());
    ASSERT_EQ(sheet->length(), 11);
    EXPECT_EQ(sheet->item(0)->selectorText(), "html, body");
    EXPECT_EQ(sheet->item(0)->cssText(), "html, body { font-size: 16px; font-family: \"Helvetica\"; background-color: #eee; }");
    EXPECT_EQ(sheet->item(1)->cssText(), "div { -webkit-box-sizing: border-box; }");
    EXPECT_EQ(sheet->item(7)->cssText(), ".ui-slider-track { width: 100% !important; margin: 0 0% !important; }");
    EXPECT_EQ(sheet->item(9)->style().getPropertyValue("background"), "inherit");
    EXPECT_EQ(sheet->item(10)->cssText(), "p.kr-css-marker { }");
    EXPECT_EQ(sheet->item(11), nullptr);
    EXPECT_EQ(sheet->item(-1), nullptr);
}

TEST(DOMCSSStyleSheet, InsertAndDeleteRulesWithoutTouchingTheText)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto style = pageStyle(doc);
    const QString text = style->textContent();
    const auto sheet = doc->styleSheets().at(0);
    const int n = sheet->length();

    EXPECT_EQ(sheet->insertRule(".styleClass1 {  }", n), n);
    const auto rule = sheet->item(n);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->cssText(), ".styleClass1 { }");
    EXPECT_EQ(rule->parentStyleSheet(), sheet.get());
    rule->style().setProperty("color", "red");
    rule->style().setProperty("border-width", "2px");
    EXPECT_EQ(rule->cssText(), ".styleClass1 { color: red; border-width: 2px; }");

    EXPECT_EQ(sheet->insertRule("#first { top: 0 }", 0), 0);
    EXPECT_EQ(sheet->indexOf(rule.get()), n + 1);
    EXPECT_EQ(sheet->insertRule("a { }", sheet->length() + 1), -1) << "beyond the end";
    EXPECT_EQ(sheet->insertRule("a { }", -1), -1);
    EXPECT_EQ(sheet->insertRule("not a rule", 0), -1);
    EXPECT_EQ(sheet->insertRule("a {} b {}", 0), -1) << "exactly one rule";
    EXPECT_EQ(sheet->insertRule("@media screen { a { color: red } }", 1), 1);
    EXPECT_EQ(sheet->item(1)->type(), DOMCSSRule::Type::Other);
    EXPECT_EQ(sheet->item(1)->cssText(), "@media screen { a { color: red } }");
    EXPECT_EQ(sheet->item(1)->selectorText(), "");

    EXPECT_TRUE(sheet->deleteRule(0));
    EXPECT_TRUE(sheet->deleteRule(0));
    EXPECT_FALSE(sheet->deleteRule(sheet->length()));
    EXPECT_EQ(sheet->indexOf(rule.get()), n);

    EXPECT_EQ(style->textContent(), text);
    EXPECT_EQ(style->sheet(), sheet) << "the sheet stays while the text does";

    // Renaming a style class: remove its rule, insert the edited text at the end.
    const QString renamed = rule->cssText().replace("styleclass1", "big", Qt::CaseInsensitive);
    sheet->deleteRule(sheet->indexOf(rule.get()));
    EXPECT_EQ(rule->parentStyleSheet(), nullptr);
    EXPECT_EQ(sheet->insertRule(renamed, sheet->length()), n);
    EXPECT_EQ(sheet->item(n)->cssText(), ".big { color: red; border-width: 2px; }");
    sheet->item(n)->setSelectorText(".Bigger");
    EXPECT_EQ(sheet->item(n)->selectorText(), ".Bigger");
}

TEST(DOMCSSStyleSheet, OutputWritesRulesAfterTheMarkerIntoTheText)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto style = pageStyle(doc);
    const auto sheet = style->sheet();
    sheet->insertRule(".a {  }", sheet->length());
    sheet->item(sheet->length() - 1)->style().setProperty("display", "none");
    sheet->insertRule(".b { color: blue }", sheet->length());

    int marker = -1;
    for (int i = 0; i < sheet->length(); ++i)
        if (sheet->item(i)->cssText().contains("kr-css-marker"))
            marker = i;
    ASSERT_EQ(marker, 10);
    EXPECT_EQ(sheet->rulesText(marker + 1), ".a { display: none; }\n.b { color: blue; }\n");

    style->writeRulesIntoText(marker + 1);
    const QString html = doc->documentElement()->outerHTML();
    EXPECT_TRUE(html.contains("<style type=\"text/css\">.a { display: none; }\n.b { color: blue; }\nhtml, body {"));
    // The sheet follows the new text.
    EXPECT_NE(style->sheet(), sheet);
    EXPECT_EQ(sheet->ownerNode(), nullptr);
    EXPECT_EQ(style->sheet()->length(), 13);
    EXPECT_EQ(style->sheet()->item(0)->selectorText(), ".a");
}

TEST(DOMCSSStyleSheet, SheetsInTreeOrderAndAfterTextChanges)
{
    const auto doc = DOMDocument::parseHTML(
        "<head><style>a{color:red}</style><link rel=stylesheet href=x.css></head><body><style>/* c */ b{}"
        "@import url(y.css); @font-face { font-family: F; src: url(f.woff) } <!-- c{} --> }broken{ d{top:0}</style></body>");
    const auto sheets = doc->styleSheets();
    ASSERT_EQ(sheets.size(), 2u);
    EXPECT_EQ(sheets[0]->item(0)->cssText(), "a { color: red; }");
    const auto second = sheets[1];
    QStringList texts;
    for (const auto &rule : second->cssRules())
        texts << rule->cssText();
    EXPECT_EQ(texts.mid(0, 4), QStringList({"b { }", "@import url(y.css);",
                                            "@font-face { font-family: F; src: url(f.woff) }", "c { }"}));

    // New text, new sheet; the old sheet loses its element.
    const auto style = doc->getElementsByTagName("style")[0];
    const auto oldRule = sheets[0]->item(0);
    style->setTextContent("x { top: 0 }");
    EXPECT_EQ(sheets[0]->ownerNode(), nullptr);
    EXPECT_EQ(oldRule->parentStyleSheet(), sheets[0].get()) << "the old sheet keeps its rules";
    EXPECT_EQ(doc->styleSheets()[0]->item(0)->cssText(), "x { top: 0; }");
    // A style element outside the tree is no sheet of the document.
    doc->head()->removeChild(style);
    EXPECT_EQ(doc->styleSheets().size(), 1u);
    EXPECT_EQ(doc->createElement("div")->sheet(), nullptr);
}

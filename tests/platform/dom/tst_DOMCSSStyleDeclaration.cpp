#include <platform/dom/DOMCSSProperties.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include "DOMTestSupport.h"

#include <gtest/gtest.h>

TEST(DOMCSSStyleDeclaration, LonghandsKeepOrderAndPriority)
{
    DOMCSSStyleDeclaration s;
    EXPECT_TRUE(s.setProperty("position", "absolute"));
    EXPECT_TRUE(s.setProperty("Left", " 10px "));
    EXPECT_TRUE(s.setProperty("color", "red", "important"));
    EXPECT_EQ(s.cssText(), "position: absolute; left: 10px; color: red !important;");
    EXPECT_EQ(s.getPropertyPriority("color"), "important");
    EXPECT_EQ(s.item(1), "left");
    // Setting again replaces value and priority in place.
    EXPECT_TRUE(s.setProperty("color", "blue"));
    EXPECT_EQ(s.cssText(), "position: absolute; left: 10px; color: blue;");
    EXPECT_EQ(s.getPropertyPriority("color"), "");
    EXPECT_EQ(s.removeProperty("left"), "10px");
    EXPECT_EQ(s.removeProperty("left"), "");
    // An empty value removes.
    EXPECT_TRUE(s.setProperty("position", ""));
    EXPECT_EQ(s.cssText(), "color: blue;");
}

// The property tables remember the names asked for last: answers stay right when many names
// come and go, when a name's characters are changed in place, and when names share the place
// where an earlier name lay.
TEST(DOMCSSStyleDeclaration, RememberedNamesNeverAnswerForAnother)
{
    const QStringList names{"margin", "padding", "border-top", "border", "color", "left", "top", "background",
                            "font", "border-radius", "-webkit-border-radius", "display", "position", "float",
                            "width", "height", "overflow", "text-align", "visibility", "box-sizing"};
    for (int round = 0; round < 3; ++round) {
        for (const QString &literal : names) {
            QString name = literal;
            name.detach(); // characters of its own, freed and reused between names
            DOMCSSStyleDeclaration s;
            s.setProperty(name, "inherit");
            EXPECT_EQ(s.getPropertyValue(literal), "inherit") << qPrintable(literal);
            EXPECT_EQ(DOMCSSProperties::longhands(name) != nullptr, DOMCSSProperties::longhands(literal) != nullptr);
        }
    }
    QString name = QStringLiteral("margin");
    name.detach();
    ASSERT_NE(DOMCSSProperties::longhands(name), nullptr);
    name[0] = QLatin1Char('x'); // "xargin", changed where it lies
    EXPECT_EQ(DOMCSSProperties::longhands(name), nullptr);
    DOMCSSStyleDeclaration s;
    EXPECT_TRUE(s.setProperty("display", "block"));
    EXPECT_FALSE(s.setProperty("display", "blocky"));
    EXPECT_TRUE(s.setProperty("position", "absolute"));
    EXPECT_FALSE(s.setProperty("position", "block"));
}

TEST(DOMCSSStyleDeclaration, RejectedValuesChangeNothing)
{
    DOMCSSStyleDeclaration s;
    s.setProperty("display", "block");
    EXPECT_FALSE(s.setProperty("display", "true")) << "a browser rejects a non-keyword for display";
    EXPECT_FALSE(s.setProperty("color", "red", "urgent"));
    EXPECT_FALSE(s.setProperty("color", "red; top: 0"));
    EXPECT_FALSE(s.setProperty("color", "red !important"));
    EXPECT_FALSE(s.setProperty("width", "calc(1px"));
    EXPECT_FALSE(s.setProperty("font", "bold")) << "a font needs size and family";
    EXPECT_FALSE(s.setProperty("margin", "1px 2px 3px 4px 5px"));
    EXPECT_FALSE(s.setProperty("border", "1px 2px solid"));
    EXPECT_EQ(s.cssText(), "display: block;");
    EXPECT_TRUE(s.setProperty("display", "NONE"));
    EXPECT_TRUE(s.setProperty("display", "inherit"));
}

TEST(DOMCSSStyleDeclaration, BackgroundShorthandAndTheTrioSequence)
{
    DOMCSSStyleDeclaration s;
    ASSERT_TRUE(s.setProperty("background", "url(a.png) no-repeat red"));
    EXPECT_EQ(s.getPropertyValue("background-image"), "url(a.png)");
    EXPECT_EQ(s.getPropertyValue("background-repeat"), "no-repeat");
    EXPECT_EQ(s.getPropertyValue("background-color"), "red");
    EXPECT_EQ(s.getPropertyValue("background-position"), "initial");
    EXPECT_EQ(s.getPropertyValue("background"), "url(a.png) no-repeat red");
    EXPECT_EQ(s.cssText(), "background: url(a.png) no-repeat red;");

    s.setProperty("background-color", "blue");
    EXPECT_EQ(s.getPropertyValue("background"), "url(a.png) no-repeat blue");
    s.setProperty("background-position", "center top");
    EXPECT_EQ(s.cssText(), "background: url(a.png) center top no-repeat blue;");

    // One longhand gone: no shorthand any more, the rest stay as longhands.
    s.removeProperty("background-image");
    EXPECT_EQ(s.getPropertyValue("background"), "");
    EXPECT_FALSE(s.cssText().contains("background:"));
    EXPECT_TRUE(s.cssText().contains("background-color: blue;"));

    // Removing the shorthand removes every longhand.
    s.removeProperty("background");
    EXPECT_TRUE(s.isEmpty());

    // What the model does to write a colour, then a gradient, then clear it again.
    s.setProperty("background-color", "#ff0000", "important");
    EXPECT_EQ(s.cssText(), "background-color: #ff0000 !important;");
    s.removeProperty("background");
    s.removeProperty("background-image");
    s.removeProperty("background-color");
    EXPECT_TRUE(s.isEmpty());
    const QString gradient = "-webkit-linear-gradient(top, #ffffff 0%, #000000 100%)";
    ASSERT_TRUE(s.setProperty("background", gradient, "important"));
    EXPECT_EQ(s.getPropertyValue("background-image"), gradient);
    EXPECT_EQ(s.getPropertyPriority("background"), "important");
    EXPECT_EQ(s.cssText(), "background: " + gradient + " !important;");
    s.setProperty("background-attachment", "fixed", "important");
    EXPECT_EQ(s.getPropertyValue("background"), gradient + " fixed");
    // A longhand with another priority breaks the shorthand.
    s.setProperty("background-repeat", "repeat-x");
    EXPECT_EQ(s.getPropertyValue("background"), "");
    EXPECT_EQ(s.getPropertyPriority("background"), "");
}

TEST(DOMCSSStyleDeclaration, BackgroundDetails)
{
    DOMCSSStyleDeclaration s;
    ASSERT_TRUE(s.setProperty("background", "inherit", "important"));
    EXPECT_EQ(s.getPropertyValue("background-color"), "inherit");
    EXPECT_EQ(s.cssText(), "background: inherit !important;");
    ASSERT_TRUE(s.setProperty("background", "url(x.png) 10px 20px / cover repeat-y fixed content-box #eee"));
    EXPECT_EQ(s.getPropertyValue("background-size"), "cover");
    EXPECT_EQ(s.getPropertyValue("background-position"), "10px 20px");
    EXPECT_EQ(s.getPropertyValue("background-origin"), "content-box");
    EXPECT_EQ(s.getPropertyValue("background"), "url(x.png) 10px 20px / cover repeat-y fixed content-box #eee");
    ASSERT_TRUE(s.setProperty("background", "url(a.png), url(b.png) no-repeat white"));
    EXPECT_EQ(s.getPropertyValue("background-image"), "url(a.png), url(b.png)");
    EXPECT_EQ(s.getPropertyValue("background-repeat"), "repeat, no-repeat");
    EXPECT_EQ(s.getPropertyValue("background"), "url(a.png), url(b.png) no-repeat white");
    EXPECT_FALSE(s.setProperty("background", "red, url(b.png)")) << "a colour only in the last layer";
    ASSERT_TRUE(s.setProperty("background", "none"));
    EXPECT_EQ(s.getPropertyValue("background"), "none");
}

TEST(DOMCSSStyleDeclaration, BoxShorthands)
{
    DOMCSSStyleDeclaration s;
    s.setProperty("padding", "1px 2px");
    EXPECT_EQ(s.getPropertyValue("padding-top"), "1px");
    EXPECT_EQ(s.getPropertyValue("padding-right"), "2px");
    EXPECT_EQ(s.getPropertyValue("padding-bottom"), "1px");
    EXPECT_EQ(s.getPropertyValue("padding-left"), "2px");
    EXPECT_EQ(s.cssText(), "padding: 1px 2px;");
    s.setProperty("padding-left", "5px");
    EXPECT_EQ(s.getPropertyValue("padding"), "1px 2px 1px 5px");
    s.setProperty("padding-left", "2px");
    s.setProperty("padding-bottom", "3px");
    EXPECT_EQ(s.getPropertyValue("padding"), "1px 2px 3px");
    s.removeProperty("padding-top");
    EXPECT_EQ(s.getPropertyValue("padding"), "");
    EXPECT_EQ(s.cssText(), "padding-right: 2px; padding-bottom: 3px; padding-left: 2px;");
    s.setProperty("padding-top", "0");
    EXPECT_EQ(s.cssText(), "padding: 0 2px 3px;");
    s.removeProperty("padding");
    EXPECT_TRUE(s.isEmpty());

    s.setProperty("margin", "0 auto");
    s.setProperty("color", "red");
    s.setProperty("margin-top", "4px", "important");
    EXPECT_EQ(s.getPropertyValue("margin"), "");
    EXPECT_EQ(s.cssText(), "margin-top: 4px !important; margin-right: auto; margin-bottom: 0; margin-left: auto; color: red;");
}

TEST(DOMCSSStyleDeclaration, BorderFamilies)
{
    DOMCSSStyleDeclaration s;
    ASSERT_TRUE(s.setProperty("border", "1px solid black"));
    EXPECT_EQ(s.length(), 12);
    EXPECT_EQ(s.getPropertyValue("border-left-style"), "solid");
    EXPECT_EQ(s.getPropertyValue("border-top"), "1px solid black");
    EXPECT_EQ(s.getPropertyValue("border-width"), "1px");
    EXPECT_EQ(s.getPropertyValue("border"), "1px solid black");
    EXPECT_EQ(s.cssText(), "border: 1px solid black;");

    s.setProperty("border-top-color", "red");
    EXPECT_EQ(s.getPropertyValue("border"), "");
    EXPECT_EQ(s.getPropertyValue("border-color"), "red black black");
    EXPECT_EQ(s.cssText(), "border-width: 1px; border-style: solid; border-color: red black black;");

    s.setProperty("border-width", "2px");
    s.setProperty("border-color", "green");
    EXPECT_EQ(s.cssText(), "border: 2px solid green;");

    // Clearing the family's width leaves the sides' styles and colours.
    s.removeProperty("border-width");
    EXPECT_EQ(s.getPropertyValue("border-top-width"), "");
    EXPECT_EQ(s.cssText(), "border-style: solid; border-color: green;");
    s.setProperty("border-top-width", "3px");
    EXPECT_EQ(s.getPropertyValue("border-top"), "3px solid green");

    s.removeProperty("border");
    EXPECT_TRUE(s.isEmpty());

    ASSERT_TRUE(s.setProperty("border-bottom", "dashed"));
    EXPECT_EQ(s.getPropertyValue("border-bottom-width"), "initial");
    EXPECT_EQ(s.getPropertyValue("border-bottom"), "dashed");
    EXPECT_EQ(s.cssText(), "border-bottom: dashed;");
    ASSERT_TRUE(s.setProperty("border", "none"));
    EXPECT_EQ(s.cssText(), "border: none;");
    // Style and width words in any case; a word twice, or a second width, is no border.
    ASSERT_TRUE(s.setProperty("border", "THICK Dashed #00f"));
    EXPECT_EQ(s.getPropertyValue("border-right-width"), "THICK");
    EXPECT_EQ(s.getPropertyValue("border-left-style"), "Dashed");
    EXPECT_EQ(s.getPropertyValue("border-bottom-color"), "#00f");
    EXPECT_FALSE(s.setProperty("border", "solid dotted"));
    EXPECT_FALSE(s.setProperty("border", "thin 2px"));
    EXPECT_EQ(s.cssText(), "border: THICK Dashed #00f;");
    // A calculated width and a colour with spaces inside its brackets are one word each.
    ASSERT_TRUE(s.setProperty("border", "Calc(1px + 1px) solid rgb(0, 0, 0)"));
    EXPECT_EQ(s.getPropertyValue("border-top-width"), "Calc(1px + 1px)");
    EXPECT_EQ(s.getPropertyValue("border-left-color"), "rgb(0, 0, 0)");
    // Sides no longer stored side by side are each found again, not added twice.
    s.removeProperty("border-top-width");
    ASSERT_TRUE(s.setProperty("color", "red"));
    ASSERT_TRUE(s.setProperty("border", "2px dotted blue"));
    EXPECT_EQ(s.getPropertyValue("border"), "2px dotted blue");
    EXPECT_EQ(s.properties().size(), 13u);
    // Every side's longhand takes its value, and a keyword reaches all twelve.
    const QStringList sideValues{"2px", "dotted", "blue"};
    ASSERT_TRUE(s.setProperty("border", "inherit"));
    for (const auto &p : s.properties())
        EXPECT_EQ(p.value, p.name == "color" ? "red" : "inherit") << qPrintable(p.name);
    const auto expanded = DOMCSSProperties::expand("border", "2px dotted blue");
    ASSERT_TRUE(expanded);
    ASSERT_EQ(expanded->size(), 12);
    for (qsizetype i = 0; i < 12; ++i)
        EXPECT_EQ(expanded->at(i), sideValues[i % 3]);
    EXPECT_EQ(*DOMCSSProperties::expand("margin", "unset"), QStringList(4, "unset"));
}

TEST(DOMCSSStyleDeclaration, RadiusAndItsPrefixedName)
{
    DOMCSSStyleDeclaration s;
    ASSERT_TRUE(s.setProperty("-webkit-border-radius", "5px"));
    EXPECT_EQ(s.getPropertyValue("border-radius"), "5px");
    EXPECT_EQ(s.getPropertyValue("-webkit-border-radius"), "5px");
    EXPECT_EQ(s.getPropertyValue("border-top-left-radius"), "5px");
    EXPECT_EQ(s.cssText(), "border-radius: 5px;");
    ASSERT_TRUE(s.setProperty("border-radius", "10px 5px / 20px"));
    EXPECT_EQ(s.getPropertyValue("border-top-right-radius"), "5px 20px");
    EXPECT_EQ(s.getPropertyValue("border-radius"), "10px 5px / 20px");
    s.setProperty("border-bottom-left-radius", "0");
    EXPECT_EQ(s.getPropertyValue("border-radius"), "10px 5px 10px 0 / 20px 20px 20px 0");
    s.removeProperty("-webkit-border-radius");
    EXPECT_TRUE(s.isEmpty());
}

TEST(DOMCSSStyleDeclaration, FontAndShadows)
{
    DOMCSSStyleDeclaration s;
    ASSERT_TRUE(s.setProperty("font", "italic bold 12px/30px Georgia, \"Times New Roman\", serif"));
    EXPECT_EQ(s.getPropertyValue("font-style"), "italic");
    EXPECT_EQ(s.getPropertyValue("font-variant"), "normal");
    EXPECT_EQ(s.getPropertyValue("font-weight"), "bold");
    EXPECT_EQ(s.getPropertyValue("font-size"), "12px");
    EXPECT_EQ(s.getPropertyValue("line-height"), "30px");
    EXPECT_EQ(s.getPropertyValue("font-family"), "Georgia, \"Times New Roman\", serif");
    s.setProperty("font-size", "14px");
    EXPECT_EQ(s.getPropertyValue("font"), "italic bold 14px/30px Georgia, \"Times New Roman\", serif");
    s.removeProperty("font-family");
    EXPECT_EQ(s.getPropertyValue("font"), "");
    s.removeProperty("font");
    EXPECT_TRUE(s.isEmpty());
    ASSERT_TRUE(s.setProperty("font", "16px Helvetica"));
    EXPECT_EQ(s.cssText(), "font: 16px Helvetica;");

    DOMCSSStyleDeclaration t;
    ASSERT_TRUE(t.setProperty("text-shadow", "0 1px 0 #ffffff"));
    ASSERT_TRUE(t.setProperty("-webkit-box-shadow", "2px 2px 4px rgba(0, 0, 0, 0.5)"));
    EXPECT_EQ(t.getPropertyValue("box-shadow"), "2px 2px 4px rgba(0, 0, 0, 0.5)");
    EXPECT_EQ(t.cssText(), "text-shadow: 0 1px 0 #ffffff; box-shadow: 2px 2px 4px rgba(0, 0, 0, 0.5);");
}

TEST(DOMCSSStyleDeclaration, ParsingDeclarationText)
{
    DOMCSSStyleDeclaration s;
    s.setCssText("color: red; /* note; */ background: url('a;b.png') ; bogus ; width:10px !IMPORTANT; top: ; "
                 "content: \"x;y\"; display: true");
    EXPECT_EQ(s.getPropertyValue("background-image"), "url('a;b.png')");
    EXPECT_EQ(s.getPropertyPriority("width"), "important");
    EXPECT_EQ(s.getPropertyValue("content"), "\"x;y\"");
    EXPECT_EQ(s.getPropertyValue("display"), "");
    EXPECT_EQ(s.cssText(), "color: red; background: url('a;b.png'); width: 10px !important; content: \"x;y\";");
    s.setCssText("background-image: url(a!b.png); color: red ! important; top: 1px !imp");
    EXPECT_EQ(s.cssText(), "background-image: url(a!b.png); color: red !important;");
}

TEST(DOMCSSStyleDeclaration, InlineStyleAndStyleAttributeStayInStep)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto e = doc->createElement("div");
    e->setAttribute("id", "x");
    e->setAttribute("style", "color: red; margin: 0");
    EXPECT_EQ(e->style().getPropertyValue("margin-top"), "0");
    e->style().setProperty("width", "10px");
    EXPECT_EQ(e->getAttribute("style"), "color: red; margin: 0; width: 10px;");
    e->setAttribute("style", "top: 1px");
    EXPECT_EQ(e->style().cssText(), "top: 1px;");
    EXPECT_EQ(e->style().getPropertyValue("color"), "");
    e->removeAttribute("style");
    EXPECT_TRUE(e->style().isEmpty());
    EXPECT_FALSE(e->hasAttribute("style"));

    // The first inline property adds the attribute at the end; removing the last keeps it empty.
    e->setAttribute("title", "t");
    e->style().setProperty("position", "absolute");
    EXPECT_EQ(e->outerHTML(), "<div id=\"x\" title=\"t\" style=\"position: absolute;\"></div>");
    e->style().removeProperty("position");
    EXPECT_EQ(e->outerHTML(), "<div id=\"x\" title=\"t\" style=\"\"></div>");

    // A parsed page's style attribute reads into the declaration.
    const auto page = DOMDocument::parseHTML("<div id='p' style='background: inherit !important; padding: 4px'></div>");
    const auto p = page->getElementById("p");
    EXPECT_EQ(p->style().getPropertyValue("padding-left"), "4px");
    EXPECT_EQ(p->style().getPropertyPriority("background"), "important");
    p->style().setProperty("padding-left", "0");
    EXPECT_EQ(p->getAttribute("style"), "background: inherit !important; padding: 4px 4px 4px 0;");
}

// Custom properties keep their case and stand apart from each other and from the names the
// property tables know; a shorthand checks the keywords of the longhands it sets; mixed
// priorities keep a shorthand from being read or written.
TEST(DOMCSSStyleDeclaration, CustomAndUnknownNamesBesideKnownOnes)
{
    DOMCSSStyleDeclaration s;
    EXPECT_TRUE(s.setProperty("--Margin", "4px"));
    EXPECT_TRUE(s.setProperty("--margin", "5px"));
    EXPECT_TRUE(s.setProperty("margin-top", "1px"));
    EXPECT_TRUE(s.setProperty("x-unknown", "a"));
    EXPECT_EQ(s.getPropertyValue("--Margin"), "4px");
    EXPECT_EQ(s.getPropertyValue("--margin"), "5px");
    EXPECT_EQ(s.getPropertyValue("margin"), "") << "three of its longhands are missing";
    EXPECT_TRUE(s.setProperty("margin", "2px"));
    EXPECT_EQ(s.cssText(), "--Margin: 4px; --margin: 5px; margin: 2px; x-unknown: a;");

    EXPECT_FALSE(s.setProperty("border-style", "solid bogus"));
    EXPECT_TRUE(s.setProperty("border-style", "solid dashed"));
    EXPECT_EQ(s.getPropertyValue("border-right-style"), "dashed");
    EXPECT_EQ(s.getPropertyValue("border-style"), "solid dashed");

    EXPECT_TRUE(s.setProperty("margin-left", "3px", "important"));
    EXPECT_EQ(s.getPropertyValue("margin"), "");
    EXPECT_EQ(s.getPropertyPriority("margin"), "");
    EXPECT_EQ(s.cssText(), "--Margin: 4px; --margin: 5px; margin-top: 2px; x-unknown: a; margin-right: 2px; "
                           "margin-bottom: 2px; margin-left: 3px !important; border-style: solid dashed;");
    EXPECT_EQ(s.removeProperty("--MARGIN"), "") << "custom names keep their case";
    EXPECT_EQ(s.removeProperty("--Margin"), "4px");
    EXPECT_EQ(s.removeProperty("margin"), "");
    EXPECT_EQ(s.cssText(), "--margin: 5px; x-unknown: a; border-style: solid dashed;");

    // Keywords in any case, also where lowering takes a letter out of ASCII's range.
    EXPECT_TRUE(s.setProperty("display", "Inline-BLOCK"));
    EXPECT_TRUE(s.setProperty("display", QStringLiteral("bloc") + QChar(0x212A))) << "the Kelvin sign lowers to k";
    EXPECT_FALSE(s.setProperty("display", "blocks"));
    EXPECT_FALSE(s.setProperty("display", "bloc"));
    EXPECT_TRUE(s.setProperty("position", "ABSOLUTE"));
    EXPECT_TRUE(s.setProperty("position", "Unset"));
    EXPECT_FALSE(s.setProperty("position", "unsets"));
}

// A design element is built one attribute and one property at a time, well past the room its
// lists start with; a copy of it shares nothing that a change of either could reach.
TEST(DOMCSSStyleDeclaration, ElementsBuiltPieceByPieceAndTheirCopies)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto e = doc->createElement("div");
    QString expectedAttributes;
    for (int i = 0; i < 20; ++i) {
        e->setAttribute(QStringLiteral("data-a%1").arg(i), QString::number(i));
        expectedAttributes += QStringLiteral(" data-a%1=\"%1\"").arg(i);
    }
    QString expectedStyle;
    const QStringList names{"position", "top", "left", "width", "height", "z-index", "color", "font-size",
                            "font-weight", "text-align", "line-height", "opacity", "display"};
    const QStringList values{"absolute", "1px", "2px", "3px", "4px", "5", "red", "12px", "bold", "center", "2",
                             "0.5", "block"};
    for (qsizetype i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(e->style().setProperty(names[i], values[i]));
        expectedStyle += (expectedStyle.isEmpty() ? "" : " ") + names[i] + ": " + values[i] + ";";
    }
    e->removeAttribute("data-a3");
    expectedAttributes.remove(" data-a3=\"3\"");
    ASSERT_EQ(e->outerHTML(), "<div" + expectedAttributes + " style=\"" + expectedStyle + "\"></div>");
    ASSERT_EQ(e->attributes().size(), 20);
    EXPECT_EQ(e->style().length(), names.size());

    // The copy changes alone, and so does the original after it.
    const auto copy = std::static_pointer_cast<DOMElement>(e->cloneNode(false));
    const QString before = e->outerHTML();
    copy->setAttribute("data-a0", "changed");
    copy->style().setProperty("color", "blue");
    copy->style().setProperty("margin", "1px 2px");
    copy->removeAttribute("data-a19");
    EXPECT_EQ(e->outerHTML(), before);
    EXPECT_EQ(copy->getAttribute("data-a0"), "changed");
    EXPECT_EQ(copy->style().getPropertyValue("margin"), "1px 2px");
    e->setAttribute("data-a1", "again");
    EXPECT_EQ(copy->getAttribute("data-a1"), "1");
    EXPECT_EQ(copy->getAttribute("style"), QString(expectedStyle).replace("color: red", "color: blue")
                                               + " margin: 1px 2px;");

    // Parsed text whose shorthands give more longhands than it has declarations.
    e->setAttribute("style", "margin: 0; padding: 1px 2px; border: 1px solid red; color: green");
    EXPECT_EQ(e->style().length(), 4 + 4 + 12 + 1);
    EXPECT_EQ(e->style().cssText(), "margin: 0; padding: 1px 2px; border: 1px solid red; color: green;");
}

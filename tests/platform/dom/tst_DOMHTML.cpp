#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMHTMLParser.h>
#include <platform/dom/DOMHTMLSerializer.h>
#include <platform/dom/DOMText.h>

#include "DOMTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::shared_ptr<DOMElement> makeElement(const std::shared_ptr<DOMDocument> &doc, const QString &tag)
{
    auto e = doc->createElement(tag);
    doc->body()->appendChild(e);
    return e;
}

struct RoundTrip {
    const char *name;
    const char *markup;
};

// Markup as a page's controls write it; each must come back unchanged from innerHTML.
const RoundTrip kJQueryMobileMarkup[] = {
    {"page",
     "<div data-role=\"page\" id=\"page1\" data-theme=\"a\" style=\"background-color: rgb(238, 238, 238) !important;\">"
     "<div data-role=\"header\" data-position=\"fixed\"><h1>Welcome</h1>"
     "<a href=\"#menu\" data-icon=\"bars\" class=\"ui-btn-left\">Menu</a></div>"
     "<div role=\"main\" class=\"ui-content\"><p>Hello &amp; welcome</p></div>"
     "<div data-role=\"footer\" data-position=\"fixed\"><h4>© 2026</h4></div></div>"},
    {"listview",
     "<ul data-role=\"listview\" data-inset=\"true\" data-filter=\"true\" data-filter-placeholder=\"Search…\">"
     "<li data-role=\"list-divider\">A</li>"
     "<li><a href=\"#detail\"><img src=\"images/a.png\" alt=\"\"><h2>Apples</h2><p>Fresh &lt;today&gt;</p></a></li>"
     "<li data-icon=\"false\"><a href=\"#\">Plain</a><span class=\"ui-li-count\">12</span></li></ul>"},
    {"select",
     "<label for=\"page1_sel\">Choose</label><select name=\"sel\" id=\"page1_sel\" data-native-menu=\"false\">"
     "<option value=\"1\">One</option><option value=\"2\" selected=\"selected\">Two</option>"
     "<option value=\"a|b\">A &amp; B</option></select>"},
    {"flip switch",
     "<div id=\"page1_flip\" data-role=\"none\" style=\"position: absolute; left: 10px; top: 20px;\">"
     "<select name=\"flip\" id=\"_page1_flip_sel\" data-role=\"slider\" disabled=\"disabled\">"
     "<option value=\"off\">Off</option><option value=\"on\">On</option></select></div>"},
    {"check box group",
     "<fieldset data-role=\"controlgroup\" data-type=\"horizontal\"><legend>Pick</legend>"
     "<input type=\"checkbox\" name=\"c\" id=\"page1_c-1\" checked=\"checked\"><label for=\"page1_c-1\">First</label>"
     "<input type=\"checkbox\" name=\"c\" id=\"page1_c-2\"><label for=\"page1_c-2\">Second</label></fieldset>"},
    {"table",
     "<table data-role=\"table\" id=\"t1\" data-mode=\"reflow\" class=\"ui-responsive\"><thead><tr><th>Name</th>"
     "<th data-priority=\"1\">Age</th></tr></thead><tbody><tr><td>Ann</td><td>31</td></tr><tr><td>Bob</td>"
     "<td>&nbsp;</td></tr></tbody></table>"},
    {"navbar and script",
     "<div data-role=\"navbar\"><ul><li><a href=\"#a\" class=\"ui-btn-active\">A</a></li><li><a href=\"#b\">B</a></li>"
     "</ul></div><script type=\"text/javascript\">if (a < b && c > d) { s = \"</p>\"; }</script>"
     "<style>div > p { color: red; }</style><!-- kr: end --><br><hr><input type=\"text\" value=\"&quot;q&quot;\">"},
};

} // namespace

TEST(DOMHTML, InnerHTMLRoundTripsOfJQueryMobileMarkup)
{
    for (const RoundTrip &row : kJQueryMobileMarkup) {
        SCOPED_TRACE(row.name);
        const auto doc = DOMDocument::createHTMLDocument();
        const auto host = makeElement(doc, "div");
        const QString markup = QString::fromUtf8(row.markup);
        host->setInnerHTML(markup);
        EXPECT_EQ(host->innerHTML(), markup);
        // And once more through a whole-document serialisation and parse.
        const auto again = DOMDocument::parseHTML(doc->serialize());
        EXPECT_EQ(again->serialize(), doc->serialize());
    }
}

TEST(DOMHTML, FragmentsParseInTheirElementsContext)
{
    const auto doc = DOMDocument::createHTMLDocument();

    const auto tbody = makeElement(doc, "tbody");
    tbody->setInnerHTML("<tr><td>a</td><td>b</td></tr>");
    EXPECT_EQ(tbody->innerHTML(), "<tr><td>a</td><td>b</td></tr>");

    const auto table = makeElement(doc, "table");
    table->setInnerHTML("<tr><td>a</td></tr>");
    EXPECT_EQ(table->innerHTML(), "<tbody><tr><td>a</td></tr></tbody>") << "a browser adds the tbody";

    const auto tr = makeElement(doc, "tr");
    tr->setInnerHTML("<td>x</td><th>y</th>");
    EXPECT_EQ(tr->innerHTML(), "<td>x</td><th>y</th>");

    const auto div = makeElement(doc, "div");
    div->setInnerHTML("<tr><td>a</td></tr>");
    EXPECT_EQ(div->innerHTML(), "a") << "table parts outside a table are dropped";

    const auto select = makeElement(doc, "select");
    select->setInnerHTML("<option value=\"1\">One</option><option>Two");
    EXPECT_EQ(select->innerHTML(), "<option value=\"1\">One</option><option>Two</option>");
    EXPECT_EQ(select->children().size(), 2u);

    const auto script = makeElement(doc, "script");
    script->setInnerHTML("if (a<b) x = \"</div>\" && y;");
    ASSERT_EQ(script->childNodes().size(), 1u);
    EXPECT_TRUE(script->firstChild()->isText());
    EXPECT_EQ(script->textContent(), "if (a<b) x = \"</div>\" && y;");
    EXPECT_EQ(script->innerHTML(), "if (a<b) x = \"</div>\" && y;");

    const auto style = makeElement(doc, "style");
    style->setInnerHTML("p > a { content: \"&\"; }");
    EXPECT_EQ(style->textContent(), "p > a { content: \"&\"; }");

    div->setInnerHTML("<!-- first --><p>x</p><script>var a = 1 < 2;</script>text &amp; more<!---->");
    ASSERT_EQ(div->childNodes().size(), 5u);
    EXPECT_TRUE(div->childNodes()[0]->isComment());
    EXPECT_EQ(div->childNodes()[0]->textContent(), " first ");
    EXPECT_EQ(div->childNodes()[3]->textContent(), "text & more");
    EXPECT_EQ(div->innerHTML(), "<!-- first --><p>x</p><script>var a = 1 < 2;</script>text &amp; more<!---->");

    const auto title = makeElement(doc, "title");
    title->setInnerHTML("a &amp; <b>b</b>");
    EXPECT_EQ(title->textContent(), "a & <b>b</b>") << "title text is never markup";
    EXPECT_EQ(title->innerHTML(), "a &amp; &lt;b&gt;b&lt;/b&gt;");

    div->setInnerHTML("<svg viewBox=\"0 0 10 10\"><foreignObject><p>x</p></foreignObject></svg>");
    EXPECT_EQ(div->innerHTML(), "<svg viewBox=\"0 0 10 10\"><foreignObject><p>x</p></foreignObject></svg>");

    div->setInnerHTML("<p>unclosed<div>block</div>");
    EXPECT_EQ(div->innerHTML(), "<p>unclosed</p><div>block</div>");

    div->setInnerHTML("");
    EXPECT_FALSE(div->hasChildNodes());
}

TEST(DOMHTML, EscapingOfAttributesAndText)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto e = makeElement(doc, "p");
    e->setAttribute("title", QString::fromUtf8("say \"hi\" & <go> 'now'\u00a0!"));
    e->setTextContent(QString::fromUtf8("a < b & c > d \"q\" 'r'\u00a0é"));
    EXPECT_EQ(e->outerHTML(), QString::fromUtf8("<p title=\"say &quot;hi&quot; &amp; <go> 'now'&nbsp;!\">"
                                                "a &lt; b &amp; c &gt; d \"q\" 'r'&nbsp;é</p>"));
    // Names that would break the markup are refused.
    e->setAttribute("a b", "x");
    e->setAttribute("x\"><script>", "x");
    e->setAttribute("", "x");
    EXPECT_EQ(e->attributes().size(), 1);
    // So are those of parsed markup, where they would come back out unescaped.
    const auto div = makeElement(doc, "div");
    div->setInnerHTML("<b a\"b=\"1\" c<d=\"2\" x'=\"3\" ok=\"4\">t</b>");
    const auto b = div->firstElementByTagName("b");
    ASSERT_TRUE(b);
    ASSERT_EQ(b->attributes().size(), 1) << b->outerHTML().toStdString();
    EXPECT_EQ(b->getAttribute("ok"), "4");
    EXPECT_EQ(DOMDocument::parseHTML(div->outerHTML())->body()->firstElementByTagName("b")->attributes().size(), 1);
    // Parsing gives back the same values.
    const auto doc2 = DOMDocument::parseHTML(e->outerHTML());
    const auto p = doc2->body()->firstElementByTagName("p");
    EXPECT_EQ(p->getAttribute("title"), e->getAttribute("title"));
    EXPECT_EQ(p->textContent(), e->textContent());
}

TEST(DOMHTML, VoidAndRawTextElements)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto head = doc->head();
    const auto meta = doc->createElement("meta");
    meta->setAttribute("http-equiv", "Content-Type");
    meta->setAttribute("content", "text/html; charset=UTF-8");
    head->appendChild(meta);
    const auto link = doc->createElement("LINK");
    link->setAttribute("REL", "stylesheet");
    head->appendChild(link);
    const auto style = doc->createElement("style");
    style->setAttribute("type", "text/css");
    style->setTextContent("a > b { content: \"<&>\"; }");
    head->appendChild(style);
    const auto script = doc->createElement("script");
    script->setAttribute("src", "a.js?x=1&y=2");
    head->appendChild(script);
    EXPECT_EQ(head->innerHTML(), "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">"
                                 "<link rel=\"stylesheet\"><style type=\"text/css\">a > b { content: \"<&>\"; }</style>"
                                 "<script src=\"a.js?x=1&amp;y=2\"></script>");
    EXPECT_EQ(link->getAttribute("rel"), "stylesheet");
    EXPECT_EQ(link->getAttribute("Rel"), "stylesheet");
    EXPECT_TRUE(link->getAttribute("href").isNull());
    link->setAttribute("href", "");
    EXPECT_FALSE(link->getAttribute("href").isNull());
    EXPECT_TRUE(link->getAttribute("href").isEmpty());
}

TEST(DOMHTML, WholeDocumentsWithAndWithoutDoctype)
{
    const QString page = "<!DOCTYPE html><html manifest=\"cache.manifest\"><head><title>T</title></head>"
                         "<body><div data-role=\"page\" id=\"p\"></div></body></html>";
    const auto doc = DOMDocument::parseHTML(page);
    EXPECT_EQ(doc->doctype(), "html");
    EXPECT_EQ(doc->serialize(), page);
    EXPECT_EQ(doc->documentElement()->outerHTML(), page.mid(15));

    // Broken markup is repaired as a browser does.
    const auto broken = DOMDocument::parseHTML("<title>x</title><p>one<p>two");
    EXPECT_TRUE(broken->doctype().isEmpty());
    EXPECT_EQ(broken->serialize(), "<html><head><title>x</title></head><body><p>one</p><p>two</p></body></html>");

    // Comments before the html element stay document children.
    const auto commented = DOMDocument::parseHTML("<!-- built --><html><head></head><body></body></html>");
    EXPECT_EQ(commented->serialize(), "<!-- built --><html><head></head><body></body></html>");
}

TEST(DOMHTML, OuterHTMLOfDesignElements)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto div = makeElement(doc, "div");
    div->setAttribute("id", "page1_button1");
    div->setAttribute("data-role", "none");
    div->style().setProperty("position", "absolute");
    div->setAttribute("onclick", "window.___kr_dwc.click_('button1', event)");
    const auto a = doc->createElement("a");
    a->setAttribute("href", "#");
    a->setTextContent("Go & see");
    div->appendChild(a);
    EXPECT_EQ(div->outerHTML(), "<div id=\"page1_button1\" data-role=\"none\" style=\"position: absolute;\" "
                                "onclick=\"window.___kr_dwc.click_('button1', event)\"><a href=\"#\">Go &amp; see</a></div>");
}

TEST(DOMHTML, DeepNestingIsCappedAsInABrowser)
{
    QString html;
    for (int i = 0; i < 5000; ++i)
        html += "<div>";
    html += "x";
    const auto doc = DOMDocument::parseHTML(html);
    const auto divs = doc->getElementsByTagName("div");
    ASSERT_EQ(divs.size(), 5000u);
    int depth = 0;
    for (const DOMNode *n = divs.back().get(); n; n = n->parent())
        ++depth;
    EXPECT_LE(depth, 513);
    EXPECT_EQ(doc->body()->textContent(), "x");
    EXPECT_FALSE(doc->serialize().isEmpty());
}

// Markup nested hundreds of thousands of levels deep (a feed's description, a pasted page)
// once took the parser minutes: its work for each tag grows with the elements it holds open.
// However the nesting is written, it never holds many more than the tree keeps, every element
// is still there and the text stays in its order.
TEST(DOMHTML, FarTooDeepMarkupKeepsTheParserShallow)
{
    struct Shape {
        const char *name;
        QString open;
        QString close;
        int elementsPerLevel;
        bool textInOrder = true; // text in a table outside its cells moves before the table
    };
    const int levels = 20000;
    const Shape shapes[] = {
        {"blocks", "<div class=\"a\">", "</div>", 1},
        {"closed as if empty", "<div/>", "", 1},
        {"inline", "<span><b>", "</b></span>", 2},
        {"unknown", "<x-y>", "</x-y>", 1},
        {"lists", "<ul><li>", "</li></ul>", 2},
        {"tables", "<table><tr><td>", "</td></tr></table>", 1, false},
        {"cells left open by a block", "<div><table><td></div>", "", 2, false},
        {"svg", "<svg><g>", "</g></svg>", 2},
        {"html in svg", "<svg><foreignObject><div>", "", 3},
        {"quoted tags", "<i title='<p>' data-x=\"</i>\">", "</i>", 1},
        {"links around blocks", "<a href=\"#\"><div>", "", 2},
        // Bold closed by the block around it is opened again by the parser at the next text.
        {"formatting closed by blocks", "<div><b id=\"b%1\">%2</div>", "", 1},
    };
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(shape.name);
        QString html;
        for (int i = 0; i < levels; ++i) {
            const QString level = QString(shape.open).replace("%1", QString::number(i));
            html += level.contains("%2") ? QString(level).replace("%2", QString::number(i % 10))
                                         : level + QString::number(i % 10);
        }
        for (int i = 0; i < levels; ++i)
            html += shape.close;
        const auto doc = DOMDocument::createHTMLDocument();
        DOMHTMLParser::Statistics statistics;
        const auto nodes = DOMHTMLParser::parseFragment(html, "div", doc.get(), &statistics);
        EXPECT_LE(statistics.deepestLevel, 2 * DOMHTMLParser::maximumDepth);
        auto holder = doc->createElement("div");
        for (const auto &node : nodes)
            holder->appendChild(node);
        QString digits;
        for (int i = 0; i < levels; ++i)
            digits += QString::number(i % 10);
        QString text = holder->textContent();
        if (!shape.textInOrder) {
            std::sort(text.begin(), text.end());
            std::sort(digits.begin(), digits.end());
        }
        EXPECT_TRUE(text == digits) << "text lost or out of order";
        int deepest = 0;
        qsizetype elements = 0;
        std::vector<std::pair<const DOMNode *, int>> walk{{holder.get(), 0}};
        while (!walk.empty()) {
            const auto [node, depth] = walk.back();
            walk.pop_back();
            deepest = std::max(deepest, depth);
            for (const auto &child : node->childNodes()) {
                if (child->isElement()) {
                    ++elements;
                    walk.push_back({child.get(), depth + 1});
                }
            }
        }
        EXPECT_LE(deepest, DOMHTMLParser::maximumDepth + 1);
        EXPECT_GE(elements, qsizetype(levels) * shape.elementsPerLevel * 9 / 10);
    }
}

// The parser library compares each attribute of a tag with every one before it, the attributes
// of every later html or body tag with those gathered on the first, and a formatting element's
// with those of each alike one open: a single tag of 40,000 attributes once held it nine
// seconds, and 100,000 minutes. However the attributes are written, and wherever the tag
// stands (in a select, past SVG or MathML, unterminated, an end tag), past the bounds they
// are dropped and counted, and the rest of the markup is read as before.
TEST(DOMHTML, TagsOfFarTooManyAttributesKeepTheirFirst)
{
    const int many = 100000;
    const int bound = DOMHTMLParser::maximumAttributes;
    const auto attributes = [](int count, const QString &prefix = QStringLiteral("a")) {
        QString written;
        for (int i = 0; i < count; ++i)
            written += QStringLiteral(" %1%2=\"%2\"").arg(prefix).arg(i);
        return written;
    };
    QString bodies;
    QString formatting;
    for (int i = 0; i < 1000; ++i) {
        bodies += "<body" + attributes(bound, QStringLiteral("b%1_").arg(i)) + ">" + QString::number(i % 10);
        formatting += "<b" + attributes(bound) + QStringLiteral(" z=\"%1\">").arg(i) + QString::number(i % 10);
    }
    QString digits;
    for (int i = 0; i < 1000; ++i)
        digits += QString::number(i % 10);
    struct Shape {
        const char *name;
        QString markup;
        const char *tag;   // the element that keeps the bound's attributes
        QString text;      // the text of the whole
        int dropped;
        bool document = false;
        const char *context = "div";
    };
    const Shape shapes[] = {
        {"one tag", "<div" + attributes(many) + ">x</div>y", "div", "xy", many - bound},
        {"unquoted, self-closing", "<img" + attributes(many).remove('"') + "/>x", "img", "x", many - bound},
        {"an end tag", "<p>x</p" + attributes(many) + ">y<i" + attributes(bound + 1) + ">z</i>", "i", "xyz",
         many - bound + 1},
        {"unterminated", "<span" + attributes(bound) + ">x</span><span" + attributes(many), "span", "x", many - bound},
        {"a raw-text element", "<textarea" + attributes(many) + "><b a b></textarea>", "textarea", "<b a b>",
         many - bound},
        {"raw text the select ignores", "<select><xmp><option" + attributes(many) + ">x</select>", "option", "x",
         many - bound},
        {"raw text a column group ignores", "<xmp><col" + attributes(many) + ">", "col", "", many - bound, false,
         "colgroup"},
        {"a text area the select ignores", "<textarea><option" + attributes(many) + ">x", "option", "x",
         many - bound, false, "select"},
        {"a select ended by an input", "<select><input><svg><style><div" + attributes(many) + ">x</div></style></svg>",
         "div", "x", many - bound},
        {"a font leaving SVG", "<svg><font color=\"red\"><![CDATA[ ><div" + attributes(many) + ">x</div>]]>", "div",
         "x]]>", many - bound, true},
        {"HTML tags in the SVG of a fragment", "<svg><p><style><div" + attributes(many) + ">x</div></style></svg>",
         "div", "x", many - bound},
        {"MathML whose annotation is no HTML", "<math><annotation-xml><style><div" + attributes(many)
         + ">x</div></style></math>", "div", "x", many - bound},
        {"body tags gathered on one", bodies, "body", digits, 999 * bound, true},
        {"formatting elements open at once", formatting, "b", digits, 1000 * (bound + 1) - bound},
    };
    for (const Shape &shape : shapes) {
        SCOPED_TRACE(shape.name);
        const auto doc = shape.document ? DOMDocument::create() : DOMDocument::createHTMLDocument();
        DOMHTMLParser::Statistics statistics;
        if (shape.document) {
            DOMHTMLParser::parseDocument(shape.markup, *doc, &statistics);
        } else {
            for (const auto &node : DOMHTMLParser::parseFragment(shape.markup, shape.context, doc.get(), &statistics))
                doc->body()->appendChild(node);
        }
        EXPECT_EQ(statistics.droppedAttributes, shape.dropped);
        EXPECT_EQ(doc->body()->textContent(), shape.text);
        const auto elements = doc->getElementsByTagName(shape.tag);
        ASSERT_FALSE(elements.empty());
        qsizetype kept = 0;
        for (const auto &element : elements)
            kept += element->attributes().size();
        EXPECT_EQ(kept, bound);
        // The first ones are kept, in their order.
        const auto &first = elements.front()->attributes();
        ASSERT_FALSE(first.isEmpty());
        EXPECT_TRUE(first.front().first.endsWith(QStringLiteral("0")));
        EXPECT_TRUE(first.back().first.endsWith(QString::number(bound - 1)));
    }

    // A formatting element closed by the paragraph around it is opened again, a copy with its
    // attributes, in each later one: the copies stop once a quarter as many attributes (or
    // 65,536) were copied as the markup has bytes (before, 20,000 paragraphs made five million).
    // Markup long enough that the quarter, not the floor, is the bound.
    const int paragraphs = 40000;
    const QString reopened = "<p><b" + attributes(bound) + ">x</p>" + QStringLiteral("<p>x</p>").repeated(paragraphs);
    const qsizetype copyBound = std::max<qsizetype>(reopened.toUtf8().size() / 4, 65536);
    ASSERT_GT(copyBound, 65536);
    const auto doc = DOMDocument::createHTMLDocument();
    DOMHTMLParser::Statistics statistics;
    for (const auto &node : DOMHTMLParser::parseFragment(reopened, "div", doc.get(), &statistics))
        doc->body()->appendChild(node);
    EXPECT_EQ(statistics.droppedAttributes, 0);
    EXPECT_EQ(statistics.formattingLeftClosed, 1);
    EXPECT_EQ(doc->body()->textContent(), QString(paragraphs + 1, QLatin1Char('x')));
    EXPECT_EQ(doc->getElementsByTagName("p").size(), size_t(paragraphs + 1));
    qsizetype copied = -bound; // the first bold's own attributes are no copies
    for (const auto &element : doc->getElementsByTagName("b"))
        copied += element->attributes().size();
    EXPECT_GT(copied, copyBound - bound) << "the copies stopped before their bound";
    EXPECT_LE(copied, copyBound);
}

// Markup that closes its elements without saying so (paragraphs, list items, rows, options,
// links) is nested no deeper than it reads, however long it runs: none of it is cut short.
TEST(DOMHTML, LongRunsOfImplicitlyClosedElementsAreKeptWhole)
{
    struct Run {
        const char *name;
        QString piece;
        QString expected;
    };
    const Run runs[] = {
        {"paragraphs", "<p>x", "<p>x</p>"},
        {"list items", "<li>x", "<li>x</li>"},
        {"definitions", "<dt>a<dd>b", "<dt>a</dt><dd>b</dd>"},
        {"links", "<a href=\"#\">x", "<a href=\"#\">x</a>"},
        {"headings", "<h1>a<h2>b", "<h1>a</h1><h2>b</h2>"},
        {"blocks in paragraphs", "<p><div>x</div>", "<p></p><div>x</div>"},
        {"void elements", "<br><img src=\"a\"><input>", "<br><img src=\"a\"><input>"},
        {"comments", "<!--<div>--><div>x</div>", "<!--<div>--><div>x</div>"},
        {"scripts", "<script>'<div>'</script>", "<script>'<div>'</script>"},
        {"empty svg", "<svg><g/></svg>", "<svg><g></g></svg>"},
    };
    for (const Run &run : runs) {
        SCOPED_TRACE(run.name);
        QString html, expected;
        for (int i = 0; i < 3000; ++i) {
            html += run.piece;
            expected += run.expected;
        }
        const auto doc = DOMDocument::createHTMLDocument();
        const auto host = doc->createElement("div");
        host->setInnerHTML(html);
        EXPECT_EQ(host->innerHTML(), expected);
    }
    const auto doc = DOMDocument::createHTMLDocument();
    const auto table = doc->createElement("table");
    QString rows, expected;
    for (int i = 0; i < 3000; ++i) {
        rows += "<tr><td>a<td>b";
        expected += "<tr><td>a</td><td>b</td></tr>";
    }
    table->setInnerHTML(rows);
    EXPECT_EQ(table->innerHTML(), "<tbody>" + expected + "</tbody>");
    rows.clear();
    expected.clear();
    for (int i = 0; i < 3000; ++i) {
        rows += "<tr><td><b>x</td></tr>";
        expected += "<tr><td><b>x</b></td></tr>";
    }
    table->setInnerHTML(rows);
    EXPECT_EQ(table->innerHTML(), "<tbody>" + expected + "</tbody>") << "bold left open in cells";
    const auto paragraphs = doc->createElement("div");
    QString bold;
    for (int i = 0; i < 3000; ++i)
        bold += "<p><b>x";
    paragraphs->setInnerHTML(bold);
    EXPECT_EQ(paragraphs->getElementsByTagName("p").size(), 3000u) << "bold left open in paragraphs";
    EXPECT_EQ(paragraphs->textContent(), QString("x").repeated(3000));
    // A script's text is text, however many tags it spells.
    const auto script = doc->createElement("script");
    const QString spelled = QString("if (a <div> b) {<p>").repeated(1000);
    script->setInnerHTML(spelled);
    EXPECT_TRUE(script->textContent() == spelled) << "a script's text changed";
    const auto select = doc->createElement("select");
    QString options;
    expected.clear();
    for (int i = 0; i < 3000; ++i) {
        options += "<optgroup label=\"g\"><option>a<option>b";
        expected += "<optgroup label=\"g\"><option>a</option><option>b</option></optgroup>";
    }
    select->setInnerHTML(options);
    EXPECT_EQ(select->innerHTML(), expected);
}

// Text far longer than the room made at first, and thousands of pieces, come out whole,
// whether written alone or after text already there.
TEST(DOMHTML, LongTextsAndManyPiecesAreWrittenWhole)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto div = doc->createElement("div");
    QString text, inText, inAttribute;
    for (int i = 0; i < 2000; ++i) {
        text += QStringLiteral("a&b<c>\u00A0\"");
        inText += QStringLiteral("a&amp;b&lt;c&gt;&nbsp;\"");
        inAttribute += QStringLiteral("a&amp;b<c>&nbsp;&quot;");
    }
    div->setAttribute("title", text);
    div->appendChild(doc->createTextNode(text));
    QString expected = "<div title=\"" + inAttribute + "\">" + inText;
    for (int i = 0; i < 500; ++i) {
        const auto span = doc->createElement("span");
        span->setAttribute("id", QString::number(i));
        span->setAttribute("class", "c");
        div->appendChild(span);
        expected += QStringLiteral("<span id=\"%1\" class=\"c\"></span>").arg(i);
    }
    expected += "</div>";
    EXPECT_EQ(div->outerHTML(), expected);
    doc->body()->appendChild(div);
    EXPECT_EQ(doc->body()->innerHTML(), expected);
    EXPECT_EQ(doc->serialize(), "<html><head></head><body>" + expected + "</body></html>");

    QString out = QStringLiteral("x");
    DOMHTMLSerializer::appendEscapedText(text, out);
    EXPECT_EQ(out, "x" + inText);
    out = QStringLiteral("y");
    DOMHTMLSerializer::appendEscapedAttribute(text, out);
    EXPECT_EQ(out, "y" + inAttribute);
    // A text shared with another, or with room before its characters, is written alone.
    out = QStringLiteral("zz");
    out.reserve(100);
    const QString shared = out;
    DOMHTMLSerializer::appendEscapedText(QStringLiteral("&"), out);
    EXPECT_EQ(out, "zz&amp;");
    EXPECT_EQ(shared, "zz");
    out.remove(0, 1);
    DOMHTMLSerializer::appendEscapedText(text, out);
    EXPECT_EQ(out, "z&amp;" + inText);
}

// Pieces larger than the parser's memory blocks (a long text, a long attribute) and many
// small ones (thousands of elements) read back exactly as they were written, in documents
// and in fragments.
TEST(DOMHTML, LargeDocumentsReadBackAsWritten)
{
    const auto doc = DOMDocument::createHTMLDocument();
    QString text;
    for (int i = 0; i < 30000; ++i)
        text += QStringLiteral("a&b<c>\u00A0\u20AC\"");
    const auto div = doc->createElement("div");
    div->setAttribute("title", text);
    div->appendChild(doc->createTextNode(text));
    for (int i = 0; i < 3000; ++i) {
        const auto span = doc->createElement("span");
        span->setAttribute("id", QString::number(i));
        span->setAttribute(QStringLiteral("data-n%1").arg(i % 7), QString(i % 50, QLatin1Char('x')));
        span->appendChild(doc->createTextNode(QString::number(i)));
        div->appendChild(span);
    }
    doc->body()->appendChild(div);
    const QString written = doc->serialize();

    const auto read = DOMDocument::parseHTML(written);
    EXPECT_EQ(read->serialize(), written);
    const auto first = std::dynamic_pointer_cast<DOMElement>(read->body()->firstChild());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->getAttribute("title"), text);
    EXPECT_EQ(read->getElementsByTagName("span").size(), 3000u);

    const auto piece = read->createElement("section");
    piece->setInnerHTML(div->innerHTML());
    EXPECT_EQ(piece->innerHTML(), div->innerHTML());
}

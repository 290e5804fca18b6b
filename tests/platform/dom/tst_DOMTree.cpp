#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>

#include "DOMTestSupport.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {

std::shared_ptr<DOMElement> element(const std::shared_ptr<DOMNode> &node)
{
    return std::dynamic_pointer_cast<DOMElement>(node);
}

} // namespace

TEST(DOMTree, EmptyPageHasHtmlHeadAndBodyWithoutDoctype)
{
    const auto doc = DOMDocument::createHTMLDocument();
    ASSERT_TRUE(doc->documentElement());
    EXPECT_EQ(doc->documentElement()->localName(), "html");
    EXPECT_EQ(doc->documentElement()->tagName(), "HTML");
    ASSERT_TRUE(doc->head());
    ASSERT_TRUE(doc->body());
    EXPECT_TRUE(doc->doctype().isEmpty());
    EXPECT_EQ(doc->serialize(), "<html><head></head><body></body></html>");
    EXPECT_EQ(doc->documentElement()->parentNode(), doc);
    EXPECT_EQ(doc->ownerDocument(), nullptr);
    EXPECT_EQ(doc->body()->ownerDocument(), doc);
    // Made directly, it is what parsing no text gives, with its ids in the same order.
    const auto parsed = DOMDocument::parseHTML(QString());
    EXPECT_EQ(doc->serialize(), parsed->serialize());
    EXPECT_EQ(doc->doctype(), parsed->doctype());
    EXPECT_EQ(doc->nodeCount(), parsed->nodeCount());
    const auto made = doc->getElementsByTagName("*");
    const auto read = parsed->getElementsByTagName("*");
    ASSERT_EQ(made.size(), read.size());
    for (std::size_t i = 0; i < made.size(); ++i) {
        EXPECT_EQ(made[i]->localName(), read[i]->localName());
        EXPECT_EQ(made[i]->nodeId() - doc->nodeId(), read[i]->nodeId() - parsed->nodeId());
    }
}

TEST(DOMTree, NodeIdsAreUniqueAndNeverReused)
{
    const auto doc = DOMDocument::createHTMLDocument();
    QSet<std::uint64_t> seen{doc->nodeId()};
    for (const auto &e : doc->getElementsByTagName("*")) {
        EXPECT_FALSE(seen.contains(e->nodeId()));
        seen.insert(e->nodeId());
    }

    auto div = doc->createElement("div");
    const auto divId = div->nodeId();
    EXPECT_FALSE(seen.contains(divId));
    doc->body()->appendChild(div);
    EXPECT_EQ(doc->nodeForId(divId), div);
    // The id stays when the node moves inside its document.
    doc->head()->appendChild(div);
    EXPECT_EQ(div->nodeId(), divId);
    doc->head()->removeChild(div);
    EXPECT_EQ(doc->nodeForId(divId), div) << "a detached node keeps its id while it lives";
    div.reset();
    EXPECT_EQ(doc->nodeForId(divId), nullptr);
    const auto next = doc->createElement("p");
    EXPECT_GT(next->nodeId(), divId);
    const auto text = doc->createTextNode("t");
    EXPECT_GT(text->nodeId(), next->nodeId());
}

TEST(DOMTree, AppendInsertRemoveAndReplace)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto body = doc->body();
    auto a = doc->createElement("a"), b = doc->createElement("b"), c = doc->createElement("c");
    body->appendChild(a);
    body->appendChild(c);
    body->insertBefore(b, c);
    EXPECT_EQ(body->innerHTML(), "<a></a><b></b><c></c>");
    EXPECT_EQ(body->firstChild(), a);
    EXPECT_EQ(body->lastChild(), c);
    EXPECT_EQ(b->previousSibling(), a);
    EXPECT_EQ(b->nextSibling(), c);
    EXPECT_EQ(c->nextSibling(), nullptr);

    // Moving a child to a later place of the same parent.
    body->insertBefore(a, c);
    EXPECT_EQ(body->innerHTML(), "<b></b><a></a><c></c>");
    body->appendChild(b);
    EXPECT_EQ(body->innerHTML(), "<a></a><c></c><b></b>");

    // A node cannot go into itself or its descendants; a reference must be a child.
    a->appendChild(c);
    EXPECT_EQ(c->appendChild(a), nullptr);
    EXPECT_EQ(a->appendChild(a), nullptr);
    EXPECT_EQ(body->insertBefore(doc->createElement("x"), c), nullptr);
    EXPECT_EQ(body->innerHTML(), "<a><c></c></a><b></b>");

    EXPECT_EQ(body->removeChild(c), nullptr) << "not a child of body";
    EXPECT_EQ(a->removeChild(c), c);
    EXPECT_EQ(c->parentNode(), nullptr);

    auto d = doc->createElement("d");
    EXPECT_EQ(body->replaceChild(d, b), b);
    EXPECT_EQ(body->innerHTML(), "<a></a><d></d>");

    // Text nodes have no children.
    auto t = doc->createTextNode("x");
    EXPECT_EQ(t->appendChild(doc->createElement("i")), nullptr);
}

TEST(DOMTree, TextContent)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto body = doc->body();
    body->setInnerHTML("<p>one <b>two</b><!-- no --></p><p>three</p>");
    EXPECT_EQ(body->textContent(), "one twothree");
    const auto p = body->firstElementByTagName("p");
    p->setTextContent("a < b");
    EXPECT_EQ(p->childNodes().size(), 1u);
    EXPECT_EQ(p->innerHTML(), "a &lt; b");
    p->setTextContent("");
    EXPECT_FALSE(p->hasChildNodes());
    const auto comment = doc->createComment("c");
    EXPECT_EQ(comment->textContent(), "c");
    comment->setTextContent("d");
    EXPECT_EQ(comment->data(), "d");
}

TEST(DOMTree, LookupsByTagAndId)
{
    const auto doc = DOMDocument::parseHTML(
        "<div id='a'><p id='x'>1</p><div id='b'><P id='x'>2</P></div></div><span></span>");
    const auto ps = doc->getElementsByTagName("P");
    ASSERT_EQ(ps.size(), 2u);
    EXPECT_EQ(ps[0]->textContent(), "1");
    EXPECT_EQ(doc->getElementsByTagName("div").size(), 2u);
    EXPECT_EQ(doc->getElementById("x"), ps[0]) << "the first in tree order";
    EXPECT_EQ(doc->getElementById(""), nullptr);
    EXPECT_EQ(doc->getElementById("none"), nullptr);
    const auto b = doc->getElementById("b");
    EXPECT_EQ(b->getElementsByTagName("p").size(), 1u);
    EXPECT_EQ(b->parentElement(), doc->getElementById("a"));
    // The tree is from "*" in document order: html, head, body, div, p, div, p, span.
    QStringList tags;
    for (const auto &e : doc->getElementsByTagName("*"))
        tags << e->localName();
    EXPECT_EQ(tags, QStringList({"html", "head", "body", "div", "p", "div", "p", "span"}));
}

TEST(DOMTree, AdoptionGivesFreshIdsOfTheNewDocument)
{
    const auto start = DOMDocument::parseHTML("<div data-role='page' id='p1'></div>");
    const auto other = DOMDocument::parseHTML("<div data-role='page' id='p2'><p>x</p></div>");
    const auto page = other->getElementById("p2");
    const auto p = page->firstElementByTagName("p");
    const auto oldPageId = page->nodeId(), oldPId = p->nodeId();

    // appendChild adopts a node of another document, as a browser does.
    start->body()->appendChild(page);
    EXPECT_EQ(page->ownerDocument(), start);
    EXPECT_EQ(p->ownerDocument(), start);
    EXPECT_EQ(other->getElementById("p2"), nullptr);
    EXPECT_EQ(other->nodeForId(oldPageId), nullptr);
    EXPECT_EQ(other->nodeForId(oldPId), nullptr);
    EXPECT_EQ(start->nodeForId(page->nodeId()), page);
    EXPECT_EQ(start->nodeForId(p->nodeId()), p);
    EXPECT_EQ(start->body()->innerHTML(),
              "<div data-role=\"page\" id=\"p1\"></div><div data-role=\"page\" id=\"p2\"><p>x</p></div>");

    // adoptNode detaches without inserting.
    const auto moved = other->adoptNode(page);
    EXPECT_EQ(moved, page);
    EXPECT_EQ(page->parentNode(), nullptr);
    EXPECT_EQ(page->ownerDocument(), other);
    EXPECT_EQ(start->getElementById("p2"), nullptr);
}

TEST(DOMTree, ImportCopiesAndLeavesTheOriginal)
{
    const auto a = DOMDocument::parseHTML("<ul id='l' class='x' style='color: red'><li>1</li><li>2</li></ul>");
    const auto b = DOMDocument::createHTMLDocument();
    const auto list = a->getElementById("l");
    const auto deep = element(b->importNode(*list, true));
    const auto shallow = element(b->importNode(*list, false));
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->ownerDocument(), b);
    EXPECT_EQ(deep->parentNode(), nullptr);
    EXPECT_EQ(deep->outerHTML(), list->outerHTML());
    EXPECT_EQ(shallow->outerHTML(), "<ul id=\"l\" class=\"x\" style=\"color: red\"></ul>");
    EXPECT_EQ(list->ownerDocument(), a);
    EXPECT_NE(deep->nodeId(), 0u);
    EXPECT_EQ(b->nodeForId(deep->nodeId()), deep);

    const auto clone = element(list->cloneNode(true));
    EXPECT_EQ(clone->outerHTML(), list->outerHTML());
    EXPECT_NE(clone->nodeId(), list->nodeId());
    EXPECT_EQ(clone->ownerDocument(), a);

    const auto copy = std::dynamic_pointer_cast<DOMDocument>(a->cloneNode(true));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->serialize(), a->serialize());
    EXPECT_EQ(copy->getElementById("l")->ownerDocument(), copy);
    EXPECT_EQ(copy->nodeForId(copy->getElementById("l")->nodeId()), copy->getElementById("l"));
}

TEST(DOMTree, NodesOutliveTheirDocumentSafely)
{
    std::shared_ptr<DOMElement> kept;
    std::shared_ptr<DOMElement> detached;
    {
        const auto doc = DOMDocument::parseHTML("<div id='a'><p>x</p></div>");
        kept = doc->getElementById("a");
        detached = doc->createElement("span");
    }
    EXPECT_EQ(kept->ownerDocument(), nullptr);
    EXPECT_EQ(kept->parentNode(), nullptr);
    EXPECT_EQ(kept->outerHTML(), "<div id=\"a\"><p>x</p></div>");
    kept->setAttribute("title", "t");
    kept->style().setProperty("color", "red");
    kept->addClass("c");
    kept->appendChild(detached);
    EXPECT_EQ(kept->outerHTML(), "<div id=\"a\" title=\"t\" style=\"color: red;\" class=\"c\"><p>x</p><span></span></div>");
}

TEST(DOMTree, DocumentAddressAndBase)
{
    const auto doc = DOMDocument::parseHTML("<head></head>", QUrl("file:///home/u/app/kr-web/page1.html"));
    EXPECT_EQ(doc->documentURI(), QUrl("file:///home/u/app/kr-web/page1.html"));
    EXPECT_EQ(doc->baseURL(), doc->documentURI());
    const auto base = doc->createElement("base");
    base->setAttribute("href", "/home/u/other/page1.html");
    doc->head()->appendChild(base);
    EXPECT_EQ(doc->baseURL(), QUrl("file:///home/u/other/page1.html"));
    doc->setDocumentURI(QUrl("file:///res/"));
    EXPECT_EQ(doc->documentURI().path(), "/res/");
}

// Appending the last child again leaves the children as they are; a style element still
// reads its sheet anew, and a document with listeners still hears of both steps.
TEST(DOMTree, AppendingTheLastChildAgain)
{
    const auto doc = DOMDocument::createHTMLDocument();
    const auto body = doc->body();
    const auto a = doc->createElement("a");
    const auto b = doc->createElement("b");
    body->appendChild(a);
    body->appendChild(b);
    EXPECT_EQ(body->appendChild(b), b);
    EXPECT_EQ(body->innerHTML(), "<a></a><b></b>");
    body->appendChild(a);
    EXPECT_EQ(body->innerHTML(), "<b></b><a></a>");

    const auto style = doc->createElement("style");
    style->setTextContent("p { color: red; }");
    doc->head()->appendChild(style);
    ASSERT_TRUE(style->sheet());
    style->appendChild(style->firstChild());
    EXPECT_EQ(style->sheetIfParsed(), nullptr);
    EXPECT_EQ(style->textContent(), "p { color: red; }");

    RecordingListener listener;
    doc->addMutationListener(&listener);
    body->appendChild(a);
    const QString ids = QStringLiteral("%1 %2").arg(a->nodeId()).arg(body->nodeId());
    EXPECT_EQ(listener.lines, QStringList({QStringLiteral("remove %1 from %2").arg(a->nodeId()).arg(body->nodeId()),
                                           QStringLiteral("insert %1 into %2 before 0").arg(a->nodeId()).arg(body->nodeId())}))
        << qPrintable(ids);
    EXPECT_EQ(body->innerHTML(), "<b></b><a></a>");
    doc->removeMutationListener(&listener);
}

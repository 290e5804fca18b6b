#pragma once

#include <platform/dom/DOMNode.h>

#include <QString>

class DOMDocument;

// HTML parsing as a browser does it (the HTML5 tree-building rules); the one place that knows
// the parser library.
//
// Markup nested deeper than the tree keeps (512 levels) continues beside the deepest element,
// and the parser library never holds much more than that many open elements: its work for each
// tag grows with the elements open, so a page nested hundreds of thousands of levels deep would
// otherwise take minutes.
//
// Likewise a tag keeps its first 256 attributes (the parser library compares each attribute with
// every one before it), the html and body tags, whose attributes the parser gathers on one
// element, keep 256 in all, and the formatting elements of one kind open at once (b, i, a,
// font, ...; the parser compares each new one's attributes with theirs) keep 256 in all. The
// attributes past those bounds are dropped, and the parse says so in the run log, naming the
// line and the tag. A formatting element closed by the element around it is opened again, a
// copy with its attributes, at the next text: once a quarter as many attributes were copied
// as the markup has bytes, those closed stay closed, and the run log says from which line.
// Parsing costs time in proportion to the markup's length.
class DOMHTMLParser
{
public:
    // What one parse did, for those who watch its cost.
    struct Statistics
    {
        int deepestLevel = 0; // the most elements the parser library had open at once
        int droppedAttributes = 0; // attributes dropped past the bounds on attributes
        int formattingLeftClosed = 0; // formatting elements not opened again (see above)
    };

    // Fills an empty document with the parsed page (html, head and body always exist) and
    // records its doctype.
    static void parseDocument(const QString &html, DOMDocument &document, Statistics *statistics = nullptr);
    // The nodes of a fragment parsed as the content of an element named `contextTag`
    // ("tr" for cells, "select" for options, "script" for raw text, ...), owned by `document`.
    static DOMNode::NodeList parseFragment(const QString &html, const QString &contextTag, DOMDocument *document,
                                           Statistics *statistics = nullptr);

    // The deepest nesting kept in the tree.
    static constexpr int maximumDepth = 512;
    // The most attributes a tag keeps.
    static constexpr int maximumAttributes = 256;

private:
    class Builder;
};

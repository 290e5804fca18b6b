#pragma once

#include <platform/dom/DOMNode.h>

#include <QString>

class DOMDocument;

// HTML parsing as a browser does it (the HTML5 tree-building rules); the one place that knows
// the parser library.
class DOMHTMLParser
{
public:
    // Fills an empty document with the parsed page (html, head and body always exist) and
    // records its doctype.
    static void parseDocument(const QString &html, DOMDocument &document);
    // The nodes of a fragment parsed as the content of an element named `contextTag`
    // ("tr" for cells, "select" for options, "script" for raw text, ...), owned by `document`.
    static DOMNode::NodeList parseFragment(const QString &html, const QString &contextTag, DOMDocument *document);

private:
    class Builder;
};

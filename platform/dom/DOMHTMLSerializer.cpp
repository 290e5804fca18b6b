#include "DOMHTMLSerializer.h"

#include <platform/dom/DOMCharacterData.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMTextWriter.h>

namespace {

constexpr char16_t kNbsp = 0x00A0;

using Writer = DOMTextWriter;

void appendEscaped(const QString &text, Writer &out, bool attribute)
{
    const QChar *begin = text.constData();
    const QChar *end = begin + text.size();
    const QChar *run = begin;
    for (const QChar *p = begin; p != end; ++p) {
        const char16_t c = p->unicode();
        if (c > '>' && c != kNbsp) // letters mostly: none of the characters below
            continue;
        const char *entity = nullptr;
        if (c == '&')
            entity = "&amp;";
        else if (c == kNbsp)
            entity = "&nbsp;";
        else if (attribute ? c == '"' : c == '<')
            entity = attribute ? "&quot;" : "&lt;";
        else if (!attribute && c == '>')
            entity = "&gt;";
        if (!entity)
            continue;
        out.append(run, p - run);
        out.append(QLatin1String(entity));
        run = p + 1;
    }
    out.append(run, end - run);
}

void serialize(const DOMNode &node, Writer &out);

void serializeChildrenOf(const DOMNode &node, Writer &out)
{
    const bool raw = node.isElement() && static_cast<const DOMElement &>(node).isRawTextElement();
    for (const auto &child : node.childNodes()) {
        if (raw && child->isText())
            out.append(static_cast<const DOMCharacterData &>(*child).data());
        else
            serialize(*child, out);
    }
}

void serialize(const DOMNode &node, Writer &out)
{
    switch (node.nodeType()) {
    case DOMNode::NodeType::Text:
        appendEscaped(static_cast<const DOMCharacterData &>(node).data(), out, false);
        return;
    case DOMNode::NodeType::Comment:
        out.append(QLatin1String("<!--"));
        out.append(static_cast<const DOMCharacterData &>(node).data());
        out.append(QLatin1String("-->"));
        return;
    case DOMNode::NodeType::Document:
        serializeChildrenOf(node, out);
        return;
    case DOMNode::NodeType::Element:
        break;
    }
    const auto &element = static_cast<const DOMElement &>(node);
    out.append(u"<");
    out.append(element.localName());
    bool quoteOpen = false; // an attribute value's closing quote goes with what follows
    for (const auto &[name, value] : element.attributes()) {
        out.append(quoteOpen ? QStringView(u"\" ") : QStringView(u" "));
        out.append(name);
        out.append(u"=\"");
        appendEscaped(value, out, true);
        quoteOpen = true;
    }
    out.append(quoteOpen ? QStringView(u"\">") : QStringView(u">"));
    if (element.isVoidElement())
        return;
    serializeChildrenOf(element, out);
    out.append(u"</");
    out.append(element.localName());
    out.append(u">");
}

int countNodes(const DOMNode &node)
{
    int n = 1;
    for (const auto &child : node.childNodes())
        n += countNodes(*child);
    return n;
}

// Room for about 64 characters a node (a page's controls with their attributes and styles
// mostly need 40 to 60, and growing a page's text copies it). The whole tree under the
// document element (a page written out) has about as many nodes as the document holds, known
// without a walk.
qsizetype nodesUnder(const DOMNode &node)
{
    const DOMDocument *document = node.document();
    if (document && node.parent() == document)
        return document->nodeCount();
    return countNodes(node);
}

} // namespace

void DOMHTMLSerializer::serializeNode(const DOMNode &node, QString &out)
{
    out.reserve(out.size() + nodesUnder(node) * 64);
    Writer writer(out);
    serialize(node, writer);
}

void DOMHTMLSerializer::serializeChildren(const DOMNode &node, QString &out)
{
    out.reserve(out.size() + countNodes(node) * 64);
    Writer writer(out);
    serializeChildrenOf(node, writer);
}

void DOMHTMLSerializer::serializeDocument(const DOMDocument &document, QString &out)
{
    out.reserve(out.size() + countNodes(document) * 64);
    Writer writer(out);
    if (!document.doctype().isEmpty()) {
        writer.append(QLatin1String("<!DOCTYPE "));
        writer.append(document.doctype());
        writer.append(QLatin1String(">"));
    }
    serializeChildrenOf(document, writer);
}

void DOMHTMLSerializer::appendEscapedText(const QString &text, QString &out)
{
    Writer writer(out);
    appendEscaped(text, writer, false);
}

void DOMHTMLSerializer::appendEscapedAttribute(const QString &value, QString &out)
{
    Writer writer(out);
    appendEscaped(value, writer, true);
}

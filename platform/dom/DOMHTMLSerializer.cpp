#include "DOMHTMLSerializer.h"

#include <platform/dom/DOMCharacterData.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <cstring>
#include <initializer_list>

namespace {

constexpr char16_t kNbsp = 0x00A0;

void appendEscaped(const QString &text, QString &out, bool attribute)
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

// Appends the pieces with one growth of the text: a page is written in thousands of pieces.
void appendPieces(QString &out, std::initializer_list<QStringView> pieces)
{
    qsizetype total = 0;
    for (const QStringView piece : pieces)
        total += piece.size();
    const qsizetype at = out.size();
    out.resize(at + total);
    QChar *to = out.data() + at;
    for (const QStringView piece : pieces) {
        std::memcpy(static_cast<void *>(to), piece.data(), size_t(piece.size()) * sizeof(QChar));
        to += piece.size();
    }
}

void serialize(const DOMNode &node, QString &out);

void serializeChildrenOf(const DOMNode &node, QString &out)
{
    const bool raw = node.isElement() && static_cast<const DOMElement &>(node).isRawTextElement();
    for (const auto &child : node.childNodes()) {
        if (raw && child->isText())
            out += static_cast<const DOMCharacterData &>(*child).data();
        else
            serialize(*child, out);
    }
}

void serialize(const DOMNode &node, QString &out)
{
    switch (node.nodeType()) {
    case DOMNode::NodeType::Text:
        appendEscaped(static_cast<const DOMCharacterData &>(node).data(), out, false);
        return;
    case DOMNode::NodeType::Comment:
        out += QLatin1String("<!--");
        out += static_cast<const DOMCharacterData &>(node).data();
        out += QLatin1String("-->");
        return;
    case DOMNode::NodeType::Document:
        serializeChildrenOf(node, out);
        return;
    case DOMNode::NodeType::Element:
        break;
    }
    const auto &element = static_cast<const DOMElement &>(node);
    appendPieces(out, {u"<", element.localName()});
    bool quoteOpen = false; // an attribute value's closing quote goes with what follows
    for (const auto &[name, value] : element.attributes()) {
        appendPieces(out, {quoteOpen ? QStringView(u"\" ") : QStringView(u" "), name, u"=\""});
        appendEscaped(value, out, true);
        quoteOpen = true;
    }
    appendPieces(out, {quoteOpen ? QStringView(u"\">") : QStringView(u">")});
    if (element.isVoidElement())
        return;
    serializeChildrenOf(element, out);
    appendPieces(out, {u"</", element.localName(), u">"});
}

int countNodes(const DOMNode &node)
{
    int n = 1;
    for (const auto &child : node.childNodes())
        n += countNodes(*child);
    return n;
}

// Room for about 40 characters a node. The whole tree under the document element (a page
// written out) has about as many nodes as the document holds, known without a walk.
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
    out.reserve(out.size() + nodesUnder(node) * 40);
    serialize(node, out);
}

void DOMHTMLSerializer::serializeChildren(const DOMNode &node, QString &out)
{
    out.reserve(out.size() + countNodes(node) * 40);
    serializeChildrenOf(node, out);
}

void DOMHTMLSerializer::serializeDocument(const DOMDocument &document, QString &out)
{
    out.reserve(out.size() + countNodes(document) * 40);
    if (!document.doctype().isEmpty()) {
        out += QLatin1String("<!DOCTYPE ");
        out += document.doctype();
        out += QLatin1String(">");
    }
    serializeChildrenOf(document, out);
}

void DOMHTMLSerializer::appendEscapedText(const QString &text, QString &out)
{
    appendEscaped(text, out, false);
}

void DOMHTMLSerializer::appendEscapedAttribute(const QString &value, QString &out)
{
    appendEscaped(value, out, true);
}

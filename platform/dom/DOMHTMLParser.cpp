#include "DOMHTMLParser.h"

#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>

#include <gumbo.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kMaximumDepth = 512;

const std::vector<QString> &tagNames()
{
    static const std::vector<QString> names = [] {
        std::vector<QString> n;
        n.reserve(GUMBO_TAG_LAST);
        for (int t = 0; t < GUMBO_TAG_LAST; ++t)
            n.push_back(QString::fromLatin1(gumbo_normalized_tagname(GumboTag(t))));
        return n;
    }();
    return names;
}

} // namespace

// Turns gumbo's tree into ours. Tag and attribute names are shared between nodes, so a large
// page costs one string per distinct name, not per element.
class DOMHTMLParser::Builder
{
public:
    explicit Builder(DOMDocument *document) : m_document(document) {}

    void appendChildren(const GumboVector &children, DOMNode &parent, bool skipWhitespace)
    {
        struct Frame {
            const GumboVector *children;
            unsigned next;
            DOMNode *parent;
            int depth;
        };
        std::vector<Frame> stack{{&children, 0, &parent, 0}};
        while (!stack.empty()) {
            Frame &frame = stack.back();
            if (frame.next >= frame.children->length) {
                stack.pop_back();
                continue;
            }
            const auto *node = static_cast<const GumboNode *>(frame.children->data[frame.next++]);
            DOMNode *target = frame.parent;
            switch (node->type) {
            case GUMBO_NODE_ELEMENT:
            case GUMBO_NODE_TEMPLATE: {
                auto element = makeElement(node->v.element);
                DOMNode *raw = element.get();
                const int depth = frame.depth + 1;
                target->appendParsedChild(std::move(element));
                // As browsers do, markup nested deeper than the limit continues beside the
                // deepest element, so no later walk of the tree runs out of stack.
                if (node->v.element.children.length > 0)
                    stack.push_back({&node->v.element.children, 0, depth < kMaximumDepth ? raw : target,
                                     std::min(depth, kMaximumDepth)});
                break;
            }
            case GUMBO_NODE_WHITESPACE:
                if (skipWhitespace && target->nodeType() == DOMNode::NodeType::Document)
                    break;
                [[fallthrough]];
            case GUMBO_NODE_TEXT:
            case GUMBO_NODE_CDATA:
                target->appendParsedChild(std::make_shared<DOMText>(m_document, QString::fromUtf8(node->v.text.text)));
                break;
            case GUMBO_NODE_COMMENT:
                target->appendParsedChild(std::make_shared<DOMComment>(m_document, QString::fromUtf8(node->v.text.text)));
                break;
            case GUMBO_NODE_DOCUMENT:
                break;
            }
        }
    }

private:
    QString tagName(const GumboElement &element)
    {
        if (element.tag_namespace == GUMBO_NAMESPACE_SVG) {
            GumboStringPiece piece = element.original_tag; // "<foreignObject ...>" until trimmed
            gumbo_tag_from_original_text(&piece);
            if (const char *svg = gumbo_normalize_svg_tagname(&piece))
                return QString::fromLatin1(svg);
        }
        if (element.tag != GUMBO_TAG_UNKNOWN && element.tag < GUMBO_TAG_LAST)
            return tagNames()[element.tag];
        GumboStringPiece piece = element.original_tag;
        gumbo_tag_from_original_text(&piece);
        return QString::fromUtf8(piece.data, qsizetype(piece.length)).toLower();
    }

    const QString &attributeName(const char *name)
    {
        const std::string_view key(name);
        auto it = m_names.find(key);
        if (it == m_names.end()) {
            QString decoded = QString::fromUtf8(name, qsizetype(key.size()));
            if (!DOMElement::isValidAttributeName(decoded))
                decoded = QString(); // null: refused, checked once per distinct name
            it = m_names.emplace(key, decoded).first;
        }
        return it->second;
    }

    std::shared_ptr<DOMElement> makeElement(const GumboElement &source)
    {
        auto element = std::make_shared<DOMElement>(m_document, tagName(source));
        DOMElement::AttributeList &attributes = element->m_attributes;
        attributes.reserve(source.attributes.length);
        for (unsigned i = 0; i < source.attributes.length; ++i) {
            const auto *a = static_cast<const GumboAttribute *>(source.attributes.data[i]);
            const QString &name = attributeName(a->name);
            // The parser keeps names with quotes or "<" that no serialisation could write
            // back; they are dropped, as setAttribute refuses them.
            if (!name.isNull())
                attributes.append({name, QString::fromUtf8(a->value)});
        }
        return element;
    }

    DOMDocument *m_document;
    std::unordered_map<std::string_view, QString> m_names; // views into gumbo's output, alive while building
};

namespace {

struct Output {
    GumboOptions options = kGumboDefaultOptions;
    GumboOutput *output = nullptr;
    ~Output()
    {
        if (output)
            gumbo_destroy_output(&options, output);
    }
};

} // namespace

void DOMHTMLParser::parseDocument(const QString &html, DOMDocument &document)
{
    const QByteArray utf8 = html.toUtf8();
    Output parsed;
    parsed.output = gumbo_parse_with_options(&parsed.options, utf8.constData(), std::size_t(utf8.size()));
    const GumboDocument &doc = parsed.output->document->v.document;
    document.setDoctype(doc.has_doctype ? QString::fromUtf8(doc.name) : QString());
    Builder(&document).appendChildren(doc.children, document, true);
}

DOMNode::NodeList DOMHTMLParser::parseFragment(const QString &html, const QString &contextTag, DOMDocument *document)
{
    DOMNode::NodeList nodes;
    if (html.isEmpty())
        return nodes;
    const QByteArray utf8 = html.toUtf8();
    const QByteArray context = contextTag.toLatin1();
    Output parsed;
    GumboTag tag = gumbo_tagn_enum(context.constData(), unsigned(context.size()));
    if (tag == GUMBO_TAG_UNKNOWN)
        tag = GUMBO_TAG_DIV;
    parsed.options.fragment_context = tag;
    parsed.options.fragment_namespace = GUMBO_NAMESPACE_HTML;
    parsed.output = gumbo_parse_with_options(&parsed.options, utf8.constData(), std::size_t(utf8.size()));
    // The fragment's nodes are the children of the root that the parser made for the context.
    DOMElement holder(nullptr, QStringLiteral("template"));
    Builder(document).appendChildren(parsed.output->root->v.element.children, holder, false);
    nodes.swap(holder.m_children);
    for (const auto &node : nodes)
        node->m_parent = nullptr;
    return nodes;
}

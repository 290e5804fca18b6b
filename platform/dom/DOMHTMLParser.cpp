#include "DOMHTMLParser.h"

#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>

#include <gumbo.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
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

// The parser's memory for one parse. Its tree lives only until ours is built, so it is taken
// from large blocks by moving a pointer and given back all at once: the parser makes and
// frees many small pieces (every buffer it grows, every node, every attribute), and handing
// each to malloc and free took about a third of parsing a page.
class ParseArena
{
public:
    ParseArena() = default;
    ParseArena(const ParseArena &) = delete;
    ParseArena &operator=(const ParseArena &) = delete;
    ~ParseArena()
    {
        for (void *block : m_blocks)
            std::free(block);
    }

    void *allocate(std::size_t size)
    {
        size = (size + Alignment - 1) & ~(Alignment - 1);
        if (size > std::size_t(m_end - m_next)) {
            // A piece larger than a quarter block gets a block of its own, so the current
            // block keeps serving the small ones.
            if (size > BlockSize / 4)
                return newBlock(size);
            m_next = static_cast<char *>(newBlock(BlockSize));
            m_end = m_next + BlockSize;
        }
        void *piece = m_next;
        m_next += size;
        return piece;
    }

    static void *allocate(void *arena, std::size_t size) { return static_cast<ParseArena *>(arena)->allocate(size); }
    static void release(void *, void *) {}

private:
    static constexpr std::size_t Alignment = alignof(std::max_align_t);
    static constexpr std::size_t BlockSize = 256 * 1024;

    void *newBlock(std::size_t size)
    {
        void *block = std::malloc(size);
        if (!block) // the parser has no way to fail
            qFatal("Out of memory while parsing HTML");
        m_blocks.push_back(block);
        return block;
    }

    std::vector<void *> m_blocks;
    char *m_next = nullptr;
    char *m_end = nullptr;
};

// Options whose memory comes from the arena; parse errors are not recorded, as nothing
// reads them.
GumboOptions optionsFor(ParseArena &arena)
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParseArena::allocate;
    options.deallocator = &ParseArena::release;
    options.userdata = &arena;
    options.max_errors = 0;
    return options;
}

} // namespace

void DOMHTMLParser::parseDocument(const QString &html, DOMDocument &document)
{
    const QByteArray utf8 = html.toUtf8();
    ParseArena arena;
    const GumboOptions options = optionsFor(arena);
    GumboOutput *output = gumbo_parse_with_options(&options, utf8.constData(), std::size_t(utf8.size()));
    const GumboDocument &doc = output->document->v.document;
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
    ParseArena arena;
    GumboOptions options = optionsFor(arena);
    GumboTag tag = gumbo_tagn_enum(context.constData(), unsigned(context.size()));
    if (tag == GUMBO_TAG_UNKNOWN)
        tag = GUMBO_TAG_DIV;
    options.fragment_context = tag;
    options.fragment_namespace = GUMBO_NAMESPACE_HTML;
    GumboOutput *output = gumbo_parse_with_options(&options, utf8.constData(), std::size_t(utf8.size()));
    // The fragment's nodes are the children of the root that the parser made for the context.
    DOMElement holder(nullptr, QStringLiteral("template"));
    Builder(document).appendChildren(output->root->v.element.children, holder, false);
    nodes.swap(holder.m_children);
    for (const auto &node : nodes)
        node->m_parent = nullptr;
    return nodes;
}

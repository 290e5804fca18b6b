#include "DOMHTMLParser.h"

#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>

#include <platform/foundation/KRLogSink.h>

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr int kMaximumDepth = DOMHTMLParser::maximumDepth;
constexpr int kMaximumAttributes = DOMHTMLParser::maximumAttributes;

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

    // The deepest element of the parser library's tree, counted from the parse's root.
    int deepestLevel() const { return m_deepestLevel; }

    void appendChildren(const GumboVector &children, DOMNode &parent, bool skipWhitespace)
    {
        struct Frame {
            const GumboVector *children;
            unsigned next;
            DOMNode *parent;
            int depth;
            int level;
        };
        std::vector<Frame> stack{{&children, 0, &parent, 0, 0}};
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
                const int level = frame.level + 1;
                m_deepestLevel = std::max(m_deepestLevel, level);
                target->appendParsedChild(std::move(element));
                // As browsers do, markup nested deeper than the limit continues beside the
                // deepest element, so no later walk of the tree runs out of stack.
                if (node->v.element.children.length > 0)
                    stack.push_back({&node->v.element.children, 0, depth < kMaximumDepth ? raw : target,
                                     std::min(depth, kMaximumDepth), level});
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
    int m_deepestLevel = 0;
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

namespace {

// Follows the markup's nesting the way the parser's tree building does, near enough, and writes
// every element that would open deeper than the limit as an empty one (its content continues
// beside it, as the tree keeps it anyway), so the parser library never has many more than the
// limit's elements open. Each tag costs at most one walk of the limit's open elements here.
//
// Where this reading and the parser's differ, it errs towards more nesting, never towards less:
// an element it believes open when the parser has closed it costs nothing but room, while one
// it believes closed would let the parser's nesting, and its cost, grow unseen. Markup that
// stays well under the limit is given to the parser as it is.
//
// It also drops the attributes past the bounds on attributes (see the header): the parser
// compares each attribute of a tag with every one before it, the attributes of each later html
// or body tag with all those gathered on the first, and a formatting element's with those of
// every alike one open, so a single tag of 40,000 attributes took it nine seconds.
class ShapeBound
{
public:
    // `context`: the element a fragment is parsed into (its rows, cells or options close as in it).
    ShapeBound(const QByteArray &markup, int limit, GumboTag context = GUMBO_TAG_LAST)
        : m_markup(markup)
        , m_limit(std::size_t(limit))
    {
        if (context != GUMBO_TAG_LAST)
            push({context, false, false, std::string()});
        // The content of a script, style, title or text area is text, whatever it holds.
        m_textOnly = context != GUMBO_TAG_LAST && (rawText().test(context) || context == GUMBO_TAG_PLAINTEXT);
        m_document = context == GUMBO_TAG_LAST;
        // The content of a frameset or a column group takes only frames or columns.
        m_frameset = context == GUMBO_TAG_FRAMESET;
        m_columns = context == GUMBO_TAG_COLGROUP;
    }

    // The markup to parse: the input itself when nothing opens deeper than the limit.
    QByteArray bounded()
    {
        if (m_textOnly)
            return m_markup;
        scan();
        if (!m_changed)
            return m_markup;
        m_out.append(m_markup.constData() + m_copied, m_markup.size() - m_copied);
        return m_out;
    }

    // Says in the run log which attributes were dropped, and counts them for the caller.
    void report(DOMHTMLParser::Statistics *statistics) const
    {
        if (statistics) {
            statistics->droppedAttributes = m_droppedAttributes;
            statistics->formattingLeftClosed = m_leftClosed;
        }
        if (m_leftClosed > 0)
            KR_PLATFORM_LOG(QStringLiteral("HTML content: from line %1 on, %2 formatting element(s) closed by the "
                                           "elements around them stay closed: their attributes were copied too "
                                           "often already")
                                .arg(1 + std::count(m_markup.constData(), m_firstLeftClosed, '\n'))
                                .arg(m_leftClosed));
        if (m_droppedTags == 0)
            return;
        const qsizetype line = 1 + std::count(m_markup.constData(), m_firstDropped, '\n');
        KR_PLATFORM_LOG(QStringLiteral("HTML content: %1 attributes past the bound of %2 dropped from %3 tag(s), "
                                       "the first at line %4 (<%5>)")
                            .arg(m_droppedAttributes)
                            .arg(kMaximumAttributes)
                            .arg(m_droppedTags)
                            .arg(line)
                            .arg(QString::fromUtf8(m_firstDroppedName.data(), qsizetype(m_firstDroppedName.size()))
                                     .left(64)));
    }

private:
    struct Open
    {
        GumboTag tag;
        bool foreign;     // an SVG or MathML element
        bool integration; // a foreign element whose content is HTML again
        std::string name; // the lower-case name of an element the parser has no number for
        int markers = 0;  // table cells, captions, objects and templates open around it
        // A formatting element's attributes as written, and whether the parser would open it
        // again once closed around it (at most three alike are).
        std::string attributes;
        bool reopens = false;
        int attributeCount = 0; // the attributes a formatting element keeps
    };
    // The attributes a tag was written with, as tagEnd reads them.
    struct Attributes
    {
        int count = 0;
        const char *cut = nullptr; // where the first one past those kept starts
        bool presentational = false; // a color, face or size among those kept (a font leaves SVG)
    };
    using TagSet = std::bitset<GUMBO_TAG_LAST + 1>;

    static TagSet set(std::initializer_list<GumboTag> tags)
    {
        TagSet s;
        for (GumboTag t : tags)
            s.set(t);
        return s;
    }
    static const TagSet &special()
    {
        static const TagSet s = set({GUMBO_TAG_ADDRESS, GUMBO_TAG_APPLET, GUMBO_TAG_AREA, GUMBO_TAG_ARTICLE,
            GUMBO_TAG_ASIDE, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_BODY, GUMBO_TAG_BR, GUMBO_TAG_BUTTON, GUMBO_TAG_CAPTION, GUMBO_TAG_CENTER, GUMBO_TAG_COL,
            GUMBO_TAG_COLGROUP, GUMBO_TAG_DD, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL,
            GUMBO_TAG_DT, GUMBO_TAG_EMBED, GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,
            GUMBO_TAG_FOOTER, GUMBO_TAG_FORM, GUMBO_TAG_FRAME, GUMBO_TAG_FRAMESET, GUMBO_TAG_H1, GUMBO_TAG_H2,
            GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6, GUMBO_TAG_HEAD, GUMBO_TAG_HEADER,
            GUMBO_TAG_HGROUP, GUMBO_TAG_HR, GUMBO_TAG_HTML, GUMBO_TAG_IFRAME, GUMBO_TAG_IMG, GUMBO_TAG_INPUT,
            GUMBO_TAG_KEYGEN, GUMBO_TAG_LI, GUMBO_TAG_LINK, GUMBO_TAG_LISTING, GUMBO_TAG_MAIN, GUMBO_TAG_MARQUEE,
            GUMBO_TAG_MENU, GUMBO_TAG_META, GUMBO_TAG_NAV, GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES,
            GUMBO_TAG_NOSCRIPT, GUMBO_TAG_OBJECT, GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_PARAM, GUMBO_TAG_PLAINTEXT,
            GUMBO_TAG_PRE, GUMBO_TAG_SCRIPT, GUMBO_TAG_SECTION, GUMBO_TAG_SELECT, GUMBO_TAG_SOURCE,
            GUMBO_TAG_STYLE, GUMBO_TAG_SUMMARY, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TEMPLATE,
            GUMBO_TAG_TEXTAREA, GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TITLE, GUMBO_TAG_TR,
            GUMBO_TAG_TRACK, GUMBO_TAG_UL, GUMBO_TAG_WBR, GUMBO_TAG_XMP});
        return s;
    }
    // Where a search for an open element stops (its scope ends); a select too, whose content
    // takes no other element's end tag.
    static const TagSet &scopeBoundary()
    {
        static const TagSet s = set({GUMBO_TAG_APPLET, GUMBO_TAG_CAPTION, GUMBO_TAG_HTML, GUMBO_TAG_TABLE,
            GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TEMPLATE, GUMBO_TAG_SELECT});
        return s;
    }
    static const TagSet &voidElements()
    {
        static const TagSet s = set({GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND,
            GUMBO_TAG_BR, GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_HR, GUMBO_TAG_IMAGE, GUMBO_TAG_IMG,
            GUMBO_TAG_INPUT, GUMBO_TAG_KEYGEN, GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE,
            GUMBO_TAG_TRACK, GUMBO_TAG_WBR,
            // opened nowhere inside a body
            GUMBO_TAG_HTML, GUMBO_TAG_HEAD, GUMBO_TAG_BODY, GUMBO_TAG_FRAMESET, GUMBO_TAG_FRAME});
        return s;
    }
    // Content read as text up to the element's own end tag.
    static const TagSet &rawText()
    {
        static const TagSet s = set({GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_XMP, GUMBO_TAG_IFRAME,
            GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES, GUMBO_TAG_TEXTAREA, GUMBO_TAG_TITLE});
        return s;
    }
    // Start tags that close an open paragraph.
    static const TagSet &closesParagraph()
    {
        static const TagSet s = set({GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_CENTER, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL, GUMBO_TAG_FIELDSET,
            GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_FOOTER, GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP,
            GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV, GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_SECTION,
            GUMBO_TAG_SUMMARY, GUMBO_TAG_UL, GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5,
            GUMBO_TAG_H6, GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_FORM, GUMBO_TAG_PLAINTEXT, GUMBO_TAG_TABLE,
            GUMBO_TAG_HR, GUMBO_TAG_XMP, GUMBO_TAG_LI, GUMBO_TAG_DD, GUMBO_TAG_DT});
        return s;
    }
    // Start tags before which the parser does not open the formatting elements closed around
    // it again (it does so at the text, or the tag, inside them).
    static const TagSet &opensNoFormatting()
    {
        static const TagSet s = [] {
            TagSet t = closesParagraph();
            t.reset(GUMBO_TAG_XMP);
            return t | set({GUMBO_TAG_HTML, GUMBO_TAG_HEAD, GUMBO_TAG_BODY, GUMBO_TAG_FRAMESET, GUMBO_TAG_FRAME,
                GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK, GUMBO_TAG_META,
                GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE,
                GUMBO_TAG_TEXTAREA, GUMBO_TAG_IFRAME, GUMBO_TAG_NOEMBED, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE,
                GUMBO_TAG_TRACK, GUMBO_TAG_RB, GUMBO_TAG_RTC, GUMBO_TAG_RP, GUMBO_TAG_RT, GUMBO_TAG_CAPTION,
                GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TFOOT, GUMBO_TAG_TH,
                GUMBO_TAG_THEAD, GUMBO_TAG_TR});
        }();
        return s;
    }
    // HTML start tags that end the SVG or MathML they appear in.
    static const TagSet &leavesForeignContent()
    {
        static const TagSet s = set({GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,
            GUMBO_TAG_BR, GUMBO_TAG_CENTER, GUMBO_TAG_CODE, GUMBO_TAG_DD, GUMBO_TAG_DIV, GUMBO_TAG_DL, GUMBO_TAG_DT,
            GUMBO_TAG_EM, GUMBO_TAG_EMBED, GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5,
            GUMBO_TAG_H6, GUMBO_TAG_HEAD, GUMBO_TAG_HR, GUMBO_TAG_I, GUMBO_TAG_IMG, GUMBO_TAG_LI, GUMBO_TAG_LISTING,
            GUMBO_TAG_MENU, GUMBO_TAG_META, GUMBO_TAG_NOBR, GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_PRE,
            GUMBO_TAG_RUBY, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_SPAN, GUMBO_TAG_STRONG, GUMBO_TAG_STRIKE,
            GUMBO_TAG_SUB, GUMBO_TAG_SUP, GUMBO_TAG_TABLE, GUMBO_TAG_TT, GUMBO_TAG_U, GUMBO_TAG_UL,
            GUMBO_TAG_VAR});
        return s;
    }
    static const TagSet &foreignIntegration()
    {
        static const TagSet s = set({GUMBO_TAG_MI, GUMBO_TAG_MO, GUMBO_TAG_MN, GUMBO_TAG_MS, GUMBO_TAG_MTEXT,
            GUMBO_TAG_ANNOTATION_XML, GUMBO_TAG_FOREIGNOBJECT, GUMBO_TAG_DESC, GUMBO_TAG_TITLE});
        return s;
    }
    static bool isHeading(GumboTag t) { return t >= GUMBO_TAG_H1 && t <= GUMBO_TAG_H6; }
    static bool isWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
    static bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    static bool isSpecial(const Open &o) { return o.foreign ? o.integration : special().test(o.tag); }
    static bool isBoundary(const Open &o) { return o.foreign ? o.integration : scopeBoundary().test(o.tag); }
    bool isHTML(const Open &o, GumboTag tag) const { return !o.foreign && o.tag == tag; }

    // The index of the nearest open element `matches` takes, searching down from the current
    // one and stopping at an element `stops` takes; -1 when there is none.
    template<typename Matches, typename Stops>
    std::ptrdiff_t find(Matches matches, Stops stops) const
    {
        for (std::ptrdiff_t i = std::ptrdiff_t(m_open.size()) - 1; i >= 0; --i) {
            if (matches(m_open[std::size_t(i)]))
                return i;
            if (stops(m_open[std::size_t(i)]))
                return -1;
        }
        return -1;
    }
    // Closes the element at `index` and everything opened inside it. Formatting elements
    // (b, i, a, ...) closed only because something around them was are opened again by the
    // parser at the next text or tag: until then they count as open ("reopened"), and those
    // opened inside a table cell, caption, object or template are forgotten when it closes.
    void closeFrom(std::ptrdiff_t index)
    {
        if (index < 0)
            return;
        std::vector<Open> reopened;
        while (m_open.size() > std::size_t(index)) {
            const bool inside = m_open.size() - 1 > std::size_t(index);
            Open element = std::move(m_open.back());
            pop();
            if (isMarker(element)) {
                reopened.clear();
                std::erase_if(m_reopened, [this](const Open &o) { return o.markers > markers(); });
            } else if (inside && element.reopens) {
                reopened.push_back(std::move(element));
            }
        }
        m_reopened.insert(m_reopened.end(), std::make_move_iterator(reopened.rbegin()),
                          std::make_move_iterator(reopened.rend()));
    }
    // Of the formatting elements alike (same name, same attributes as written) since the last
    // cell, the parser opens no more than three again: the oldest of three is forgotten.
    void forgetFourthAlike(const Open &element)
    {
        const auto alike = [&element](const Open &o) {
            return o.reopens && o.tag == element.tag && o.markers == element.markers && o.attributes == element.attributes;
        };
        int count = 0;
        for (const Open &o : m_open)
            count += alike(o) ? 1 : 0;
        for (const Open &o : m_reopened)
            count += alike(o) ? 1 : 0;
        if (count < 3)
            return;
        for (Open &o : m_open) {
            if (alike(o)) {
                o.reopens = false;
                return;
            }
        }
        const auto oldest = std::find_if(m_reopened.begin(), m_reopened.end(), alike);
        if (oldest != m_reopened.end())
            m_reopened.erase(oldest);
    }
    // The parser opens the formatting elements closed around it again, at `at`, as copies
    // with their attributes. Once it has copied a quarter as many attributes as the markup has
    // bytes (at least 65,536), it is told to forget them there instead (an end tag each,
    // innermost first), so a bold of 256 attributes closed by every paragraph of a page is not
    // copied into each.
    void reopen(const char *at)
    {
        if (m_reopened.empty())
            return;
        qsizetype attributes = 0;
        for (const Open &element : m_reopened)
            attributes += element.attributeCount;
        if (attributes > 0 && (m_copiedAttributes += attributes) > std::max<qsizetype>(m_markup.size() / 4, 65536)) {
            copyTo(at);
            for (auto it = m_reopened.rbegin(); it != m_reopened.rend(); ++it) {
                m_out += "</";
                m_out += gumbo_normalized_tagname(it->tag);
                m_out += '>';
            }
            if (m_leftClosed == 0)
                m_firstLeftClosed = at;
            m_leftClosed += int(m_reopened.size());
            m_reopened.clear();
            return;
        }
        for (Open &element : m_reopened)
            push(std::move(element));
        m_reopened.clear();
    }
    static bool isMarker(const Open &o)
    {
        return !o.foreign && (o.tag == GUMBO_TAG_TD || o.tag == GUMBO_TAG_TH || o.tag == GUMBO_TAG_CAPTION
                              || o.tag == GUMBO_TAG_APPLET || o.tag == GUMBO_TAG_MARQUEE || o.tag == GUMBO_TAG_OBJECT
                              || o.tag == GUMBO_TAG_TEMPLATE);
    }
    int markers() const
    {
        return m_openCount[GUMBO_TAG_TD] + m_openCount[GUMBO_TAG_TH] + m_openCount[GUMBO_TAG_CAPTION]
               + m_openCount[GUMBO_TAG_APPLET] + m_openCount[GUMBO_TAG_MARQUEE] + m_openCount[GUMBO_TAG_OBJECT]
               + m_openCount[GUMBO_TAG_TEMPLATE];
    }
    static const TagSet &formatting()
    {
        static const TagSet s = set({GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM,
            GUMBO_TAG_FONT, GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
            GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
        return s;
    }
    void push(Open element)
    {
        ++m_openCount[element.tag];
        m_open.push_back(std::move(element));
    }
    void pop()
    {
        --m_openCount[m_open.back().tag];
        m_open.pop_back();
    }
    // False when no element of the kind is open: no search for one is needed.
    bool anyOpen(GumboTag tag) const { return m_openCount[tag] > 0; }
    void closeParagraph()
    {
        if (!anyOpen(GUMBO_TAG_P))
            return;
        closeFrom(find([this](const Open &o) { return isHTML(o, GUMBO_TAG_P); },
                       [this](const Open &o) { return isBoundary(o) || isHTML(o, GUMBO_TAG_BUTTON); }));
    }
    // For a table's parts: closes what lies inside the nearest of `within` (kept open), cells,
    // rows and sections nested in it included; false when no such element is open (the tag
    // is then ignored).
    bool closeInsideTable(const TagSet &within)
    {
        const std::ptrdiff_t at = find([&within](const Open &o) { return !o.foreign && within.test(o.tag); },
                                       [this](const Open &o) {
                                           return o.foreign ? o.integration
                                                            : (o.tag == GUMBO_TAG_HTML || o.tag == GUMBO_TAG_TEMPLATE
                                                               || o.tag == GUMBO_TAG_TABLE);
                                       });
        if (at < 0)
            return find([this](const Open &o) { return isHTML(o, GUMBO_TAG_TABLE) || isHTML(o, GUMBO_TAG_TEMPLATE); },
                        [](const Open &) { return false; })
                   >= 0;
        closeFrom(at + 1);
        return true;
    }

    // The attributes of the open formatting elements of the kind, which the parser compares
    // a new one's with.
    int openAlikeAttributes(GumboTag tag) const
    {
        int count = 0;
        for (const Open &o : m_open)
            count += isHTML(o, tag) ? o.attributeCount : 0;
        for (const Open &o : m_reopened)
            count += isHTML(o, tag) ? o.attributeCount : 0;
        return count;
    }
    // Where the parser ignores most start tags: in a select, in a page made of frames and in a
    // column group. The content of the raw-text tags it ignores is markup, and no SVG or MathML
    // opens there.
    bool ignoresMostTags() const { return m_frameset || inColumns() || inSelect(); }
    bool inColumns() const { return m_columns && !anyOpen(GUMBO_TAG_TEMPLATE); }
    bool inSelect() const
    {
        return anyOpen(GUMBO_TAG_SELECT)
               && find([this](const Open &o) { return isHTML(o, GUMBO_TAG_SELECT); },
                       [this](const Open &o) { return isHTML(o, GUMBO_TAG_TEMPLATE); })
                      >= 0;
    }
    // The raw-text tags taken there: scripts in a select, and the text for browsers without
    // frames in a page of frames.
    bool takesRawText(GumboTag tag) const
    {
        if (tag == GUMBO_TAG_NOFRAMES)
            return m_frameset;
        return tag == GUMBO_TAG_SCRIPT && !m_frameset && !inColumns();
    }
    // An input, a key generator or a text area ends the select it stands in (not the one a
    // fragment is parsed into).
    void closeSelect()
    {
        if (!anyOpen(GUMBO_TAG_SELECT))
            return;
        const std::ptrdiff_t select = find([this](const Open &o) { return isHTML(o, GUMBO_TAG_SELECT); },
                                           [this](const Open &o) { return isHTML(o, GUMBO_TAG_TEMPLATE); });
        if (select >= 0 && !isContext(select))
            closeFrom(select);
    }
    // Whether the open element at `index` is the one a fragment is parsed into.
    bool isContext(std::ptrdiff_t index) const { return index == 0 && !m_document; }
    static bool htmlEncoding(const std::string &attributes)
    {
        const QByteArray lower = QByteArray::fromRawData(attributes.data(), qsizetype(attributes.size())).toLower();
        return lower.contains("encoding") && lower.contains("html");
    }

    // Leaves out the attributes of the tag at `tagStart` past those kept, and keeps its end
    // (`after`; null when the markup ends inside the tag, which the parser drops).
    void dropAttributes(const char *tagStart, const std::string &name, const Attributes &written, int keep,
                        const char *after, bool selfClosing)
    {
        if (!written.cut)
            return;
        copyTo(written.cut);
        m_copied = after ? after - (selfClosing ? 2 : 1) - m_markup.constData() : m_markup.size();
        m_droppedAttributes += written.count - keep;
        if (m_droppedTags++ == 0) {
            m_firstDropped = tagStart;
            m_firstDroppedName = name;
        }
    }

    void copyTo(const char *at)
    {
        const qsizetype offset = at - m_markup.constData();
        if (!m_changed) {
            m_out.reserve(m_markup.size() + m_markup.size() / 8);
            m_changed = true;
        }
        m_out.append(m_markup.constData() + m_copied, offset - m_copied);
        m_copied = offset;
    }

    // Past the '>' that ends a tag whose name ends at `p`, minding quoted attribute values;
    // null when the markup ends first (the parser drops such a tag). `written` counts the
    // attributes and notes where the first past `keep` starts.
    const char *tagEnd(const char *p, bool *selfClosing, int keep, Attributes *written) const
    {
        const char *end = m_markup.constData() + m_markup.size();
        *selfClosing = false;
        while (true) {
            while (p < end && isWhitespace(*p))
                ++p;
            if (p >= end)
                return nullptr;
            if (*p == '>')
                return p + 1;
            if (*p == '/') {
                if (p + 1 < end && p[1] == '>') {
                    *selfClosing = true;
                    return p + 2;
                }
                ++p;
                continue;
            }
            if (written->count++ == keep)
                written->cut = p;
            const char *name = p;
            ++p; // an attribute's name, which may start with '='
            while (p < end && !isWhitespace(*p) && *p != '/' && *p != '>' && *p != '=')
                ++p;
            if (!written->cut && p - name <= 5) {
                const std::string_view n(name, std::size_t(p - name));
                written->presentational = written->presentational || qstrnicmp(n.data(), n.size(), "color", 5) == 0
                                          || qstrnicmp(n.data(), n.size(), "face", 4) == 0
                                          || qstrnicmp(n.data(), n.size(), "size", 4) == 0;
            }
            while (p < end && isWhitespace(*p))
                ++p;
            if (p < end && *p == '=') {
                ++p;
                while (p < end && isWhitespace(*p))
                    ++p;
                if (p < end && (*p == '"' || *p == '\'')) {
                    p = static_cast<const char *>(std::memchr(p + 1, *p, std::size_t(end - p - 1)));
                    if (!p)
                        return nullptr;
                    ++p;
                } else {
                    while (p < end && !isWhitespace(*p) && *p != '>')
                        ++p;
                }
            }
        }
    }

    // Past the end of a comment starting at `p` ("<!--"), or the markup's end.
    const char *commentEnd(const char *p) const
    {
        const char *end = m_markup.constData() + m_markup.size();
        p += 4;
        if (p < end && *p == '>')
            return p + 1;
        if (p + 1 < end && p[0] == '-' && p[1] == '>')
            return p + 2;
        const std::string_view rest(p, std::size_t(end - p));
        std::size_t at = 0;
        while ((at = rest.find("--", at)) != std::string_view::npos) {
            at += 2;
            while (at < rest.size() && rest[at] == '-')
                ++at;
            if (at < rest.size() && rest[at] == '>')
                return p + at + 1;
            if (at + 1 < rest.size() && rest[at] == '!' && rest[at + 1] == '>')
                return p + at + 2;
        }
        return end;
    }

    const char *skipPast(const char *p, std::string_view what) const
    {
        const char *end = m_markup.constData() + m_markup.size();
        const std::string_view rest(p, std::size_t(end - p));
        const std::size_t at = rest.find(what);
        return at == std::string_view::npos ? end : p + at + what.size();
    }

    // The start of the end tag `</name` that ends raw text from `p`, or the markup's end.
    const char *rawTextEnd(const char *p, const std::string &name) const
    {
        const char *end = m_markup.constData() + m_markup.size();
        while (true) {
            p = static_cast<const char *>(std::memchr(p, '<', std::size_t(end - p)));
            if (!p)
                return end;
            const char *q = p + 2;
            if (p + 1 < end && p[1] == '/' && std::size_t(end - q) > name.size()
                && qstrnicmp(q, name.data(), name.size()) == 0) {
                const char after = q[name.size()];
                if (isWhitespace(after) || after == '/' || after == '>')
                    return p;
            }
            ++p;
        }
    }

    // Reads a tag's name starting at `p`; returns its end.
    const char *readName(const char *p, GumboTag *tag, std::string *name) const
    {
        const char *end = m_markup.constData() + m_markup.size();
        const char *start = p;
        while (p < end && !isWhitespace(*p) && *p != '/' && *p != '>')
            ++p;
        name->assign(start, std::size_t(p - start));
        for (char &c : *name)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        *tag = gumbo_tagn_enum(name->data(), unsigned(name->size()));
        return p;
    }

    bool sameElement(const Open &o, GumboTag tag, const std::string &name) const
    {
        return o.tag == tag && (tag != GUMBO_TAG_UNKNOWN || o.name == name);
    }

    // Returns where scanning goes on; null to stop (the rest is text).
    const char *startTag(const char *p)
    {
        const char *tagStart = p - 1;
        GumboTag tag;
        std::string name;
        p = readName(p, &tag, &name);
        int keep = kMaximumAttributes;
        const bool gathered = tag == GUMBO_TAG_HTML || tag == GUMBO_TAG_BODY;
        if (gathered)
            keep = std::max(0, keep - m_gathered[tag == GUMBO_TAG_BODY]);
        else if (formatting().test(tag))
            keep = std::max(0, keep - openAlikeAttributes(tag));
        bool selfClosing = false;
        Attributes written;
        const char *after = tagEnd(p, &selfClosing, keep, &written);
        if (!after) {
            dropAttributes(tagStart, name, written, keep, after, selfClosing);
            return nullptr;
        }
        if (!opensNoFormatting().test(tag))
            reopen(tagStart);
        dropAttributes(tagStart, name, written, keep, after, selfClosing);
        const int kept = std::min(written.count, keep);
        if (gathered)
            m_gathered[tag == GUMBO_TAG_BODY] += kept;
        const std::string attributes(p, std::size_t((written.cut ? written.cut : after) - p));

        const Open *current = m_open.empty() ? nullptr : &m_open.back();
        bool foreign = tag == GUMBO_TAG_SVG || tag == GUMBO_TAG_MATH;
        if (!foreign && current && current->foreign && !current->integration) {
            // In a fragment the parser reads every tag inside SVG or MathML as theirs.
            if (m_document
                && (leavesForeignContent().test(tag) || (tag == GUMBO_TAG_FONT && written.presentational))) {
                while (!m_open.empty() && m_open.back().foreign && !m_open.back().integration)
                    pop();
            } else {
                foreign = true;
            }
        }
        if (foreign && (tag == GUMBO_TAG_SVG || tag == GUMBO_TAG_MATH) && ignoresMostTags())
            return after;
        if (foreign) {
            if (selfClosing)
                return after;
            // An annotation-xml holds HTML only when its encoding says so.
            const bool integration = tag == GUMBO_TAG_ANNOTATION_XML ? htmlEncoding(attributes)
                                                                     : foreignIntegration().test(tag);
            return open({tag, true, integration, tag == GUMBO_TAG_UNKNOWN ? name : std::string()}, name, after);
        }

        if (tag == GUMBO_TAG_FRAMESET && m_document)
            m_frameset = true;
        if (voidElements().test(tag)) {
            if (tag == GUMBO_TAG_INPUT || tag == GUMBO_TAG_KEYGEN)
                closeSelect();
            return after;
        }
        if (closesParagraph().test(tag))
            closeParagraph();
        switch (tag) {
        case GUMBO_TAG_PLAINTEXT:
            return ignoresMostTags() ? after : nullptr;
        case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5:
        case GUMBO_TAG_H6:
            if (!m_open.empty() && !m_open.back().foreign && isHeading(m_open.back().tag))
                pop();
            break;
        case GUMBO_TAG_LI:
        case GUMBO_TAG_DD:
        case GUMBO_TAG_DT: {
            if (tag == GUMBO_TAG_LI ? !anyOpen(GUMBO_TAG_LI) : !anyOpen(GUMBO_TAG_DD) && !anyOpen(GUMBO_TAG_DT))
                break;
            const auto item = [tag](const Open &o) {
                return !o.foreign && (tag == GUMBO_TAG_LI ? o.tag == GUMBO_TAG_LI
                                                          : (o.tag == GUMBO_TAG_DD || o.tag == GUMBO_TAG_DT));
            };
            closeFrom(find(item, [](const Open &o) {
                return isSpecial(o) && !(!o.foreign && (o.tag == GUMBO_TAG_ADDRESS || o.tag == GUMBO_TAG_DIV
                                                         || o.tag == GUMBO_TAG_P));
            }));
            break;
        }
        case GUMBO_TAG_A:
        case GUMBO_TAG_NOBR:
            // With a block inside the open one, the parser takes only the link itself apart and
            // the block stays open: it is left open here too.
            if (!anyOpen(tag))
                break;
            closeFrom(find([this, tag](const Open &o) { return isHTML(o, tag); },
                           [](const Open &o) { return isBoundary(o) || isSpecial(o); }));
            break;
        case GUMBO_TAG_BUTTON:
            if (!anyOpen(tag))
                break;
            closeFrom(find([this, tag](const Open &o) { return isHTML(o, tag); },
                           [](const Open &o) { return isBoundary(o); }));
            break;
        case GUMBO_TAG_OPTION:
        case GUMBO_TAG_OPTGROUP:
            if (!m_open.empty() && isHTML(m_open.back(), GUMBO_TAG_OPTION))
                pop();
            if (tag == GUMBO_TAG_OPTGROUP && !m_open.empty() && isHTML(m_open.back(), GUMBO_TAG_OPTGROUP))
                pop();
            break;
        case GUMBO_TAG_SELECT: {
            if (!anyOpen(GUMBO_TAG_SELECT))
                break;
            const std::ptrdiff_t select = find([this](const Open &o) { return isHTML(o, GUMBO_TAG_SELECT); },
                                               [](const Open &o) { return isBoundary(o); });
            if (select >= 0) { // a select in a select only ends the first
                if (!isContext(select))
                    closeFrom(select);
                return after;
            }
            break;
        }
        case GUMBO_TAG_TEXTAREA:
            closeSelect();
            break;
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            if (!closeInsideTable(set({GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT,
                                       GUMBO_TAG_TABLE})))
                return after;
            break;
        case GUMBO_TAG_TR:
            if (!closeInsideTable(set({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT, GUMBO_TAG_TABLE})))
                return after;
            break;
        case GUMBO_TAG_TBODY:
        case GUMBO_TAG_THEAD:
        case GUMBO_TAG_TFOOT:
        case GUMBO_TAG_CAPTION:
        case GUMBO_TAG_COLGROUP:
            if (!closeInsideTable(set({GUMBO_TAG_TABLE})))
                return after;
            break;
        default:
            break;
        }
        if (rawText().test(tag) && ignoresMostTags() && !takesRawText(tag))
            return after; // the parser ignores the tag, and its content is markup
        if (rawText().test(tag)) {
            // Its content is text, however deep it stands; its end tag follows.
            return rawTextEnd(after, name);
        }
        const bool isFormatting = formatting().test(tag);
        Open element{tag, false, false, tag == GUMBO_TAG_UNKNOWN ? name : std::string(), 0,
                     isFormatting ? attributes : std::string()};
        element.attributeCount = isFormatting ? kept : 0;
        return open(std::move(element), name, after);
    }

    const char *open(Open element, const std::string &name, const char *after)
    {
        if (m_open.size() + m_reopened.size() < m_limit) {
            element.markers = markers();
            if (!element.foreign && formatting().test(element.tag)) {
                element.reopens = true;
                forgetFourthAlike(element);
            }
            push(std::move(element));
            return after;
        }
        // Too deep: written as an empty element, and its own end tag, when it comes, left out.
        copyTo(after);
        m_out += "</";
        m_out.append(name.data(), qsizetype(name.size()));
        m_out += '>';
        ++m_unmatched[name];
        return after;
    }

    const char *endTag(const char *tagStart, const char *p)
    {
        GumboTag tag;
        std::string name;
        p = readName(p, &tag, &name);
        bool selfClosing = false;
        Attributes written;
        const char *after = tagEnd(p, &selfClosing, kMaximumAttributes, &written);
        if (!after) {
            dropAttributes(tagStart, name, written, kMaximumAttributes, after, selfClosing);
            return nullptr;
        }
        if (!m_unmatched.empty()) {
            auto it = m_unmatched.find(name);
            if (it != m_unmatched.end()) {
                copyTo(tagStart);
                m_copied = after - m_markup.constData();
                if (--it->second == 0)
                    m_unmatched.erase(it);
                return after;
            }
        }
        dropAttributes(tagStart, name, written, kMaximumAttributes, after, selfClosing);
        switch (tag) {
        case GUMBO_TAG_P:
            closeParagraph();
            return after;
        case GUMBO_TAG_BR:
        case GUMBO_TAG_HTML:
        case GUMBO_TAG_BODY:
            return after;
        default:
            break;
        }
        if (tag != GUMBO_TAG_UNKNOWN && !isHeading(tag) && !anyOpen(tag))
            return after; // nothing it could close
        const bool specialName = special().test(tag);
        const bool tablePart = tag == GUMBO_TAG_TABLE || tag == GUMBO_TAG_TBODY || tag == GUMBO_TAG_THEAD
                               || tag == GUMBO_TAG_TFOOT || tag == GUMBO_TAG_TR || tag == GUMBO_TAG_TD
                               || tag == GUMBO_TAG_TH || tag == GUMBO_TAG_CAPTION || tag == GUMBO_TAG_COLGROUP;
        closeFrom(find(
            [this, tag, &name](const Open &o) {
                if (isHeading(tag) && !o.foreign && isHeading(o.tag))
                    return true;
                return sameElement(o, tag, name);
            },
            [specialName, tablePart, tag](const Open &o) {
                if (tablePart && !o.foreign)
                    return o.tag == GUMBO_TAG_HTML || o.tag == GUMBO_TAG_TEMPLATE
                           || (o.tag == GUMBO_TAG_TABLE && tag != GUMBO_TAG_TABLE)
                           || ((o.tag == GUMBO_TAG_TD || o.tag == GUMBO_TAG_TH) && tag != GUMBO_TAG_TD
                               && tag != GUMBO_TAG_TH && tag != GUMBO_TAG_TR && tag != GUMBO_TAG_TBODY
                               && tag != GUMBO_TAG_THEAD && tag != GUMBO_TAG_TFOOT && tag != GUMBO_TAG_TABLE);
                if (isBoundary(o))
                    return true;
                if (!o.foreign && tag == GUMBO_TAG_LI && (o.tag == GUMBO_TAG_OL || o.tag == GUMBO_TAG_UL))
                    return true;
                return !specialName && isSpecial(o);
            }));
        return after;
    }

    void scan()
    {
        const char *begin = m_markup.constData();
        const char *end = begin + m_markup.size();
        const char *p = begin;
        while (p && p < end) {
            const char *text = p;
            p = static_cast<const char *>(std::memchr(p, '<', std::size_t(end - p)));
            if (!p || p + 1 >= end)
                return;
            if (p != text)
                reopen(text); // text in closed formatting elements opens them again
            const char next = p[1];
            if (next == '!') {
                const std::string_view rest(p, std::size_t(end - p));
                if (rest.starts_with("<!--"))
                    p = commentEnd(p);
                else if (rest.starts_with("<![CDATA[") && !m_open.empty() && m_open.back().foreign)
                    p = skipPast(p, "]]>");
                else
                    p = skipPast(p, ">");
            } else if (next == '?') {
                p = skipPast(p, ">");
            } else if (next == '/') {
                if (p + 2 < end && isLetter(p[2]))
                    p = endTag(p, p + 2);
                else
                    p = skipPast(p, ">");
            } else if (isLetter(next)) {
                p = startTag(p + 1);
            } else {
                ++p; // a "<" of the text
            }
        }
    }

    const QByteArray &m_markup;
    const std::size_t m_limit;
    std::vector<Open> m_open;
    std::vector<Open> m_reopened; // closed formatting elements the parser opens again
    std::array<int, GUMBO_TAG_LAST + 1> m_openCount{}; // open elements of each kind
    std::unordered_map<std::string, int> m_unmatched; // elements written empty, by name
    std::array<int, 2> m_gathered{}; // the attributes kept on html and on body tags
    int m_droppedAttributes = 0;
    int m_droppedTags = 0;
    const char *m_firstDropped = nullptr;
    std::string m_firstDroppedName;
    qsizetype m_copiedAttributes = 0; // the attributes of the formatting elements opened again
    int m_leftClosed = 0;             // formatting elements not opened again past those
    const char *m_firstLeftClosed = nullptr;
    bool m_changed = false;
    bool m_textOnly = false;
    bool m_document = false; // a whole page, not a fragment
    bool m_frameset = false; // a frameset tag was met in a page, or a frameset's content is parsed
    bool m_columns = false; // a column group's content is parsed
    QByteArray m_out;
    qsizetype m_copied = 0;
};

} // namespace

void DOMHTMLParser::parseDocument(const QString &html, DOMDocument &document, Statistics *statistics)
{
    const QByteArray markup = html.toUtf8();
    ShapeBound bound(markup, kMaximumDepth);
    const QByteArray utf8 = bound.bounded();
    bound.report(statistics);
    ParseArena arena;
    const GumboOptions options = optionsFor(arena);
    GumboOutput *output = gumbo_parse_with_options(&options, utf8.constData(), std::size_t(utf8.size()));
    const GumboDocument &doc = output->document->v.document;
    document.setDoctype(doc.has_doctype ? QString::fromUtf8(doc.name) : QString());
    Builder builder(&document);
    builder.appendChildren(doc.children, document, true);
    if (statistics)
        statistics->deepestLevel = builder.deepestLevel();
}

DOMNode::NodeList DOMHTMLParser::parseFragment(const QString &html, const QString &contextTag, DOMDocument *document,
                                               Statistics *statistics)
{
    DOMNode::NodeList nodes;
    if (html.isEmpty())
        return nodes;
    const QByteArray context = contextTag.toLatin1();
    GumboTag tag = gumbo_tagn_enum(context.constData(), unsigned(context.size()));
    if (tag == GUMBO_TAG_UNKNOWN)
        tag = GUMBO_TAG_DIV;
    const QByteArray markup = html.toUtf8();
    ShapeBound bound(markup, kMaximumDepth, tag);
    const QByteArray utf8 = bound.bounded();
    bound.report(statistics);
    ParseArena arena;
    GumboOptions options = optionsFor(arena);
    options.fragment_context = tag;
    options.fragment_namespace = GUMBO_NAMESPACE_HTML;
    GumboOutput *output = gumbo_parse_with_options(&options, utf8.constData(), std::size_t(utf8.size()));
    // The fragment's nodes are the children of the root that the parser made for the context.
    DOMElement holder(nullptr, QStringLiteral("template"));
    Builder builder(document);
    builder.appendChildren(output->root->v.element.children, holder, false);
    if (statistics)
        statistics->deepestLevel = builder.deepestLevel();
    nodes.swap(holder.m_children);
    for (const auto &node : nodes)
        node->m_parent = nullptr;
    return nodes;
}

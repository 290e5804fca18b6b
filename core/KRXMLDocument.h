#pragma once

#include <core/KRXMLNode.h>

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

// An XML document in memory, read and written as UTF-8. KRXMLDocument is a shared handle
// (copies refer to the same document, which lives while any copy does); node handles
// (KRXMLNode) refer to it weakly. The document owns every node it made or read, detached
// ones included.
//
// Text is kept as read: white-space text nodes, CDATA sections, comments and mixed content
// are written back unchanged, so reading and saving a UTF-8 file with an XML declaration
// gives the same bytes. A document that declares entities is not read (see fromData).
class KRXMLDocument
{
public:
    static const QString errorDomain; // "KRXMLErrorDomain"; codes are the parser's error numbers

    KRXMLDocument() = default; // a null document
    bool isNull() const { return !d; }
    explicit operator bool() const { return !isNull(); }

    // A new document, with an empty root element of that name unless the name is empty.
    static KRXMLDocument create(const QString &rootName = {});
    // The longest text a document is read from (256 MiB). A longer file is refused before
    // any of it is read (XML_IO_EFBIG, naming the size and the limit), and so is longer text.
    static constexpr qint64 MaximumFileSize = qint64(256) << 20;
    // The deepest an element may be nested (the root element is at depth 1). Every walk of a
    // tree read here (loading a page, its design view, a build, copy and paste, undo) goes
    // once down each level: a deeper document is refused as soon as the parser meets the
    // first element past the bound, naming the element and its depth, so that no walk of
    // what was read can run out of stack.
    static constexpr int MaximumDepth = 1024;
    // What one element may carry, and a document hold, in names. The parser compares each
    // attribute of an element with every one before it, looks a prefix up through every
    // namespace declared around it, and keeps its names in a table whose lookups slow with the
    // names it holds: text past these bounds is refused before the parser sees any of it,
    // naming the line and the element, so that reading costs time in proportion to the text's
    // length whatever its shape. They stand far above what the application writes: the
    // largest object of the palette writes fewer than a hundred attributes, and a plug-in class
    // whose objects would write more than half the bound is refused as it loads (KRPluginLoader).
    // At the bound, the densest attributes cost about four times as much as plain text of their
    // length (the parser's own comparison of each with those before it; the library's way of
    // adding them one after the other, which walks those added before, is not taken).
    static constexpr int MaximumAttributes = 1024; // of one element, namespace declarations included
    // Each prefix is looked up through every declaration in scope, twice: at 256, text of
    // short prefixed names costs twice as much as plain text already (the application itself
    // declares no namespace).
    static constexpr int MaximumNamespaces = 256;  // namespace declarations in scope at once
    static constexpr int MaximumNames = 50000;     // distinct names of elements and attributes
    // Reads a document. Malformed text gives an error naming the line and the problem; no
    // network access is made and no DTD is loaded. Text that declares an entity (in its
    // DOCTYPE) is refused as soon as the declaration is met, before anything it stands for
    // is expanded: an error naming the line and the entity ("The XML text is refused: ...").
    // So is text nested deeper than MaximumDepth, naming the line, the element and its depth,
    // text past the bounds on names above, naming the line and the element, and text that
    // declares attributes (their defaults would be added to every element of that name).
    static KRResult<KRXMLDocument> fromData(const QByteArray &bytes);
    static KRResult<KRXMLDocument> fromFile(const QString &path);
    // For an element's name, the attribute names that KRXMLNode::addEmptyAttribute would be
    // given for it anyway (null: none); what it points to lasts the parse.
    using EmptyAttributeNames = std::function<const std::vector<QByteArray> *(const char *utf8ElementName)>;
    // The same, except that each element's trailing run of empty, unprefixed attributes whose
    // names are among those given for it is read as added with addEmptyAttribute, in that
    // order: every read, and the text written, is the same, yet they take only a name's room
    // (the parser never makes them).
    //
    // What an application adds to a document it reads when it writes the document again: the
    // listed empty attributes above, and names of its own. A document read with them is read
    // only if, with them, it stays within the bounds, so that whatever was read can be
    // written again and read back: an element's attributes are counted with those listed for
    // it that it lacks, the distinct names with every name in `names`, and text that could
    // grow past MaximumFileSize as it is written again is measured as it would be written.
    struct Additions
    {
        Additions() = default;
        Additions(EmptyAttributeNames listed) : emptyAttributes(std::move(listed)) {}
        EmptyAttributeNames emptyAttributes;
        // Every element and attribute name the application may write into such a document.
        std::shared_ptr<const QSet<QByteArrayView>> names;
    };
    // Names for Additions::names, holding the bytes their views refer to.
    class NameSet
    {
    public:
        // Adds a copy of the name, unless it is empty or held already.
        void insert(QByteArrayView name)
        {
            if (!name.isEmpty() && !m_names.contains(name))
                m_names.insert(QByteArrayView(m_bytes.emplace_back(name.toByteArray())));
        }
        const QSet<QByteArrayView> &names() const { return m_names; }
        // The names, lasting as long as the pointer is held.
        static std::shared_ptr<const QSet<QByteArrayView>> share(const std::shared_ptr<NameSet> &set)
        {
            return {set, &set->m_names};
        }

    private:
        std::deque<QByteArray> m_bytes; // never moved as it grows: the views stay valid
        QSet<QByteArrayView> m_names;
    };
    static KRResult<KRXMLDocument> fromData(const QByteArray &bytes, const Additions &additions);
    static KRResult<KRXMLDocument> fromFile(const QString &path, const Additions &additions);
    // Whether text of that size and shape is read (the bounds above, depth included): the
    // error fromData would give for it, if any, as far as its size and shape go; its syntax is
    // not checked. One cheap pass without a tree: text about to be written is checked with it,
    // so that nothing is written that would not be read again.
    static KRResult<void> checkShape(const QByteArray &bytes, const Additions &additions = {});
    // Text as a document holds it: every text, attribute value, comment and CDATA section
    // given to a document passes through here, so that nothing XML 1.0 cannot hold is ever
    // written. C0 controls other than tab, line feed and carriage return are dropped; U+FFFE,
    // U+FFFF and half of a surrogate pair without its other half are replaced by U+FFFD.
    static QString storableText(const QString &text);
    // True when storableText keeps the text as it is.
    static bool isStorable(QStringView text);
    // The first code unit at or after `from` that XML 1.0 cannot hold as it is (a C0 control
    // other than tab, line feed and carriage return, half of a surrogate pair without its
    // other half, U+FFFE or U+FFFF); the text's size when there is none.
    static qsizetype firstUnstorable(QStringView text, qsizetype from = 0);
    // The text with each code unit that firstUnstorable finds replaced by what `replace` appends
    // to `out` in its place (nothing: the unit is left out); the text itself when there is none.
    // storableText is one such replacement, JSON's escapes (KRJSONSerialization) another.
    static QString replacingUnstorable(const QString &text, const std::function<void(QString &out, char16_t unit)> &replace);
    // A byte count as the errors give it ("256 MiB", "2.0 GiB").
    static QString sizeText(qint64 bytes);

    KRXMLNode rootElement() const;
    // Makes the element the root; a previous root becomes detached.
    void setRootElement(const KRXMLNode &element);

    // New detached nodes of this document.
    KRXMLNode createElement(const QString &name) const;
    KRXMLNode createTextNode(const QString &text) const;
    KRXMLNode createCDATASection(const QString &text) const;
    KRXMLNode createComment(const QString &text) const;
    // A detached deep copy in this document of a node of any document.
    KRXMLNode importNode(const KRXMLNode &node) const;

    // Reads XML text into detached nodes of this document: either one element with an
    // optional XML declaration ("<objects>...</objects>"), or a sequence of top-level nodes.
    KRResult<QList<KRXMLNode>> parseFragment(const QByteArray &bytes) const;

    // XPath 1.0 with the document as the context node; an invalid query gives no nodes.
    QList<KRXMLNode> nodesForXPath(const QString &xpath) const;

    // The whole document: XML declaration (version 1.0, encoding UTF-8), the top-level
    // nodes, a line feed after each. Empty attributes added with addEmptyAttribute (or listed
    // as the document was read) are linked into their elements while it writes: no other
    // thread reads those elements meanwhile.
    QByteArray xmlData() const;
    // Writes xmlData() atomically (a temporary file renamed over the target; a symbolic link
    // there is replaced, never written through).
    KRResult<void> saveToFile(const QString &path) const;

    // Detached subtrees kept alive for their handles (diagnostics and tests).
    int detachedNodeCount() const;

    friend bool operator==(const KRXMLDocument &a, const KRXMLDocument &b) { return a.d == b.d; }

private:
    friend class KRXMLNode;
    explicit KRXMLDocument(std::shared_ptr<KRXMLDocumentPrivate> priv) : d(std::move(priv)) {}

    std::shared_ptr<KRXMLDocumentPrivate> d;
};

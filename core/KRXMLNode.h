#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

struct _xmlNode;
struct KRXMLDocumentSlot;
class KRXMLDocument;
class KRXMLDocumentPrivate;

// A handle to one node of a KRXMLDocument: an element, a text run, a CDATA section, a
// comment, a processing instruction or (from XPath only) an attribute.
//
// Identity: a handle names one node for that node's whole life. Removing or detaching the
// node from its parent keeps it alive, owned by its document, and the same handle (and every
// copy of it) still refers to it when it is appended again, anywhere in the same document.
// Handles do not keep the document alive: once the last KRXMLDocument of it is gone every
// handle of its nodes reports isNull(), and using one for anything but isNull() is a
// programming error. A detached node that no handle refers to any more is freed at once;
// attached nodes live until the document dies.
//
// Handles are used from one thread at a time (the thread of the document).
class KRXMLNode
{
public:
    // EntityReference: a reference to an entity of the document's own declarations
    // ("&name;"), kept as written; its string value is the entity's text.
    enum class Kind { Null, Element, Text, CDATA, Comment, ProcessingInstruction, Attribute, EntityReference, Other };

    KRXMLNode() = default;
    KRXMLNode(const KRXMLNode &other);
    KRXMLNode(KRXMLNode &&other) noexcept;
    KRXMLNode &operator=(const KRXMLNode &other);
    KRXMLNode &operator=(KRXMLNode &&other) noexcept;
    ~KRXMLNode();

    // True for a default handle and for a handle whose document has died.
    bool isNull() const;
    explicit operator bool() const { return !isNull(); }

    Kind kind() const;
    bool isElement() const { return kind() == Kind::Element; }
    // Qualified name of an element, attribute or processing instruction; "" otherwise.
    QString name() const;
    // A new strong handle of the owning document (null when it has died).
    KRXMLDocument document() const;
    // The line of the source text the node was read from; 0 for nodes made in memory.
    int lineNumber() const;

    // --- Tree
    // The parent element; null for the root element and for a detached node.
    KRXMLNode parent() const;
    // Position among all child nodes of the parent (text and comments count); -1 without one.
    int index() const;
    bool isDetached() const; // no parent and not the root element
    int childCount() const;
    KRXMLNode childAt(int index) const; // null outside 0..childCount()-1
    QList<KRXMLNode> children() const;
    QList<KRXMLNode> elements() const;
    QList<KRXMLNode> elementsForName(const QString &name) const;
    KRXMLNode nextSibling() const;
    KRXMLNode previousSibling() const;
    // True when this node is `other` or contains it.
    bool isAncestorOf(const KRXMLNode &other) const;

    // Moves `child` (detached, or attached anywhere else in the same document) to the end of
    // this element's children, or before position `index` (0..childCount()). Adjacent text
    // nodes are never merged, so every handle keeps its node. The child must belong to this
    // document (use KRXMLDocument::importNode for another) and must not contain this element.
    void appendChild(const KRXMLNode &child);
    void insertChild(const KRXMLNode &child, int index);
    // The same before `reference`, a child of this element, without counting: to put back
    // many children of a large element.
    void insertBefore(const KRXMLNode &child, const KRXMLNode &reference);
    void removeChildAtIndex(int index);
    // Unlinks the node from its parent; it stays alive as long as a handle refers to it.
    void detach();

    // --- Attributes (elements; attribute order is document order)
    bool hasAttribute(const QString &name) const;
    // The value, or a null QString when the attribute is absent.
    QString attribute(const QString &name) const;
    // The same for a name given as UTF-8 (spares the conversion to callers that keep it).
    QString attributeForUTF8Name(QByteArrayView name) const;
    // Many attributes in one pass over the element's attributes, the way to read most of
    // them: for each attribute whose (qualified) UTF-8 name is names[i], values[i] becomes
    // its text (never null); other entries stay as they are. An empty name matches nothing;
    // a name given twice is matched at one of its places only.
    void attributeValues(const QByteArray *names, qsizetype count, QString *values) const;
    // Brings the attributes of the elements into the caches, ahead of reading them all: for
    // many elements read one after the other (the objects of a page), which would otherwise
    // wait for memory at every attribute. Changes nothing.
    static void prefetchAttributes(const QList<KRXMLNode> &elements);
    // Sets the text of the attribute, adding it at the end when the element has none.
    void setAttribute(const QString &name, const QString &value);
    void removeAttribute(const QString &name);
    QStringList attributeNames() const;
    // As setAttribute(name, "") for an element without that attribute; nothing otherwise.
    // Every read (the attributes, their names, copies, the text form, XPath) sees the
    // attribute from then on, after the element's own, yet it takes only a name's room until
    // something needs it in the tree: anything that adds or removes an attribute of the
    // element, or an XPath query about attributes. For the many empty properties of an open
    // project's objects.
    void addEmptyAttribute(QByteArrayView utf8Name);

    // --- Text
    // Element: the text of all descendant text and CDATA nodes in order. Attribute: its
    // value. Text, CDATA, comment, processing instruction: its content.
    QString stringValue() const;
    // Element: replaces all children with one text node. Others: replaces the content.
    // Characters that XML 1.0 cannot carry (C0 controls other than tab, line feed and
    // carriage return) are dropped, so that the saved file always reads back.
    void setStringValue(const QString &text);

    // --- Copies and text form
    // A deep copy in the same document, detached.
    KRXMLNode deepCopy() const;
    // The node as XML text (an element with its tag, attributes and children), UTF-8,
    // exactly as it is stored: nothing is re-indented. (As KRXMLDocument::xmlData, about
    // elements with empty attributes added with addEmptyAttribute.)
    QByteArray xmlData() const;
    QString xmlString() const { return QString::fromUtf8(xmlData()); }

    // --- XPath 1.0, with this node as the context node. An invalid query gives no nodes
    // and reports nothing.
    QList<KRXMLNode> nodesForXPath(const QString &xpath) const;

    // --- Element helpers
    // The first node of the XPath query, or null.
    KRXMLNode firstElementForXPath(const QString &xpath) const;
    // The first child element of that name; when there is none and createIfNeeded holds, a
    // new empty element of that name appended as the last child.
    KRXMLNode firstElementForName(const QString &name, bool createIfNeeded = false);
    KRXMLNode firstElementForName(const QString &name) const;
    // The integer at the start of the attribute's text (leading blanks and a sign allowed;
    // no leading number gives 0; out of range saturates); INT64_MAX when the attribute is
    // absent.
    std::int64_t integerValueForAttribute(const QString &name) const;
    // The string value of the first child element of that name; a null QString when none.
    QString stringValueOfFirstElementForName(const QString &name) const;

    friend bool operator==(const KRXMLNode &a, const KRXMLNode &b) { return a.m_node == b.m_node; }
    friend bool operator!=(const KRXMLNode &a, const KRXMLNode &b) { return !(a == b); }
    std::size_t hashValue() const { return std::hash<const void *>()(m_node); }

private:
    friend class KRXMLDocument;
    friend class KRXMLDocumentPrivate;
    KRXMLNode(const KRXMLDocumentPrivate &doc, _xmlNode *node); // of a live document

    // The document, checked alive; fatal on a null handle.
    std::shared_ptr<KRXMLDocumentPrivate> checkedDocument(const char *operation) const;
    void retain();
    void release();
    // A handle of another node of this handle's document, which the caller found alive: the
    // read-only walks of the tree, which run on every thread that reads the document.
    KRXMLNode handleOf(_xmlNode *node) const;
    // Moves `child` before `before`, a child of this element (null: to the end), in `doc`,
    // this handle's document, which the caller holds for writing.
    void linkChild(KRXMLDocumentPrivate &doc, const KRXMLNode &child, _xmlNode *before);

    // Handles never own the document: they find it through its slot, alive while the slot
    // still has the generation the handle was made under.
    KRXMLDocumentSlot *m_slot = nullptr;
    std::uint64_t m_generation = 0;
    _xmlNode *m_node = nullptr; // valid while the document is alive
};

// Element handles are node handles; the name says what the holder expects.
using KRXMLElement = KRXMLNode;

inline std::size_t qHash(const KRXMLNode &node, std::size_t seed = 0)
{
    return node.hashValue() ^ seed;
}

template <>
struct std::hash<KRXMLNode>
{
    std::size_t operator()(const KRXMLNode &node) const { return node.hashValue(); }
};

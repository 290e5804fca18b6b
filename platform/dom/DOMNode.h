#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class DOMDocument;
class DOMElement;
struct DOMMutation;

// A node of an own HTML document. Nodes are shared; a node knows its parent and its document
// through plain pointers that the parent and the document clear when they let go, so a node
// kept alive by a caller outlives its tree safely.
//
// Every node has a numeric id, unique in its document and never reused there. A node that
// moves into another document (adoption) takes a fresh id of that document.
class DOMNode : public std::enable_shared_from_this<DOMNode>
{
public:
    enum class NodeType { Element = 1, Text = 3, Comment = 8, Document = 9 };
    using NodeList = std::vector<std::shared_ptr<DOMNode>>;

    virtual ~DOMNode();
    DOMNode(const DOMNode &) = delete;
    DOMNode &operator=(const DOMNode &) = delete;

    NodeType nodeType() const { return m_type; }
    bool isElement() const { return m_type == NodeType::Element; }
    bool isText() const { return m_type == NodeType::Text; }
    bool isComment() const { return m_type == NodeType::Comment; }
    // "#text", "#comment", "#document", or the element's tag name in upper case.
    virtual QString nodeName() const = 0;

    std::uint64_t nodeId() const { return m_id; }
    // Null for a document, and for a node whose document no longer exists.
    std::shared_ptr<DOMDocument> ownerDocument() const;
    DOMDocument *document() const { return m_document; } // not owned

    std::shared_ptr<DOMNode> parentNode() const;
    std::shared_ptr<DOMElement> parentElement() const;
    DOMNode *parent() const { return m_parent; } // not owned
    const NodeList &childNodes() const { return m_children; }
    bool hasChildNodes() const { return !m_children.empty(); }
    std::shared_ptr<DOMNode> firstChild() const;
    std::shared_ptr<DOMNode> lastChild() const;
    std::shared_ptr<DOMNode> previousSibling() const;
    std::shared_ptr<DOMNode> nextSibling() const;
    int indexInParent() const;
    // True when the node is in its document's tree (its topmost ancestor is the document).
    bool isConnected() const;
    bool contains(const DOMNode *other) const;

    // Tree operations as in a browser. A child of another document is adopted first; a child
    // with a parent is removed from it first. They fail (returning null, changing nothing) when
    // the child is null, is this node or one of its ancestors, when `reference` is not a child
    // of this node, or when this node cannot have children.
    std::shared_ptr<DOMNode> appendChild(const std::shared_ptr<DOMNode> &child);
    std::shared_ptr<DOMNode> insertBefore(const std::shared_ptr<DOMNode> &child,
                                          const std::shared_ptr<DOMNode> &reference);
    // Null when `child` is not a child of this node.
    std::shared_ptr<DOMNode> removeChild(const std::shared_ptr<DOMNode> &child);
    std::shared_ptr<DOMNode> replaceChild(const std::shared_ptr<DOMNode> &child,
                                          const std::shared_ptr<DOMNode> &old);
    void removeAllChildren();

    // Many insertions into this node in one pass over its children, each as insertBefore would
    // make it in turn, with the same reports in the same order (sent once the children stand
    // in their new order): for rearranging or putting back thousands of children, whose
    // insertions one by one grow with the square of their number. A reference that is null or
    // not a child of this node by then stands for the start for a placement `after` it, else for
    // the end. A placement `after` its reference goes before the reference's next sibling
    // then, any other before the reference. A placement is skipped when the child would go
    // before itself (as insertBefore skips it) or cannot be inserted. True for each placement
    // made.
    struct ChildPlacement {
        std::shared_ptr<DOMNode> child;
        std::shared_ptr<DOMNode> reference;
        bool after = false;
    };
    std::vector<bool> placeChildren(const std::vector<ChildPlacement> &placements);
    // Children removed in one pass, each as removeChild would remove it in turn, with the same
    // reports in the same order. For each, the sibling that followed it when it was removed
    // (null: none, or it was not a child of this node).
    NodeList removeChildren(const NodeList &children);

    // The concatenated data of all descendant text nodes (a text or comment node: its data).
    virtual QString textContent() const;
    // Replaces all children by one text node holding `text` (none for empty text).
    virtual void setTextContent(const QString &text);

    // A copy in the same document with fresh ids; `deep` copies the subtree.
    std::shared_ptr<DOMNode> cloneNode(bool deep) const;

protected:
    DOMNode(NodeType type, DOMDocument *document);

    virtual std::shared_ptr<DOMNode> cloneInto(DOMDocument *document) const = 0;
    // Called after the children of this node changed (insert, remove, data of a child text).
    virtual void childrenChanged() {}
    void appendTextContent(QString &out) const;

    NodeList m_children;

private:
    friend class DOMDocument;
    friend class DOMElement;
    friend class DOMCharacterData;
    friend class DOMHTMLParser;

    bool canInsert(const std::shared_ptr<DOMNode> &child) const;
    void insertAt(const std::shared_ptr<DOMNode> &child, std::size_t position);
    // The new order of the children of a batch, then what it tells.
    void finishBatch(NodeList order, std::vector<DOMMutation> &reports);
    // What this node tells of a child that came in before the node `before` (0: at the end),
    // and of one that left.
    DOMMutation childInserted(const std::shared_ptr<DOMNode> &child, std::uint64_t before) const;
    DOMMutation childRemoved(const DOMNode &child) const;
    void setDocumentRecursively(DOMDocument *document);
    std::shared_ptr<DOMNode> cloneTree(DOMDocument *document) const;
    // Parser fast path: no checks, no mutation reports.
    void appendParsedChild(std::shared_ptr<DOMNode> child);

    NodeType m_type;
    std::uint64_t m_id = 0;
    DOMDocument *m_document = nullptr; // not owned; cleared by the document's destructor
    DOMNode *m_parent = nullptr;       // not owned; cleared by the parent when it lets go
};

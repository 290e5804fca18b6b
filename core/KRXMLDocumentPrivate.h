#pragma once

#include <core/KRXMLNode.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

struct _xmlDoc;
struct _xmlNode;
class KRXMLDocumentPrivate;

// Where node handles find their document. Every live document holds a slot of a table that
// lasts as long as the process (slots are never freed, so a handle may always look at its
// own); a handle keeps its document's slot and the slot's generation when it was made, and the
// document is alive exactly while the slot still has that generation. A dying document moves
// the generation on before any of its nodes is freed, then gives the slot back for the next
// document.
//
// Handles are copied and let go on every thread that reads a document (a build makes its
// pages side by side): telling whether the document is alive reads a line that nothing writes
// while it lives, and no handle counts on a reference shared by all. Only what needs the
// document itself (changes, document()) takes the slot's lock, which has a line of its own.
struct KRXMLDocumentSlot
{
    bool isAlive(std::uint64_t handleGeneration) const
    {
        return generation.load(std::memory_order_acquire) == handleGeneration;
    }
    // The document of a handle made under `handleGeneration`; null once it has died.
    std::shared_ptr<KRXMLDocumentPrivate> lockDocument(std::uint64_t handleGeneration);

    alignas(64) std::atomic<std::uint64_t> generation{0};
    alignas(64) std::mutex lock;
    KRXMLDocumentPrivate *document = nullptr; // guarded by `lock`; null while the slot is free
    KRXMLDocumentSlot *nextFree = nullptr;    // guarded by the table's lock
};

// The state behind a KRXMLDocument, shared by its document handles and referred to weakly
// by node handles, through its slot. Used only by the XML wrapper's own sources.
//
// Node lifetime: every node handle counts itself in its node's application-data field.
// Attached nodes die with the document. A detached subtree is freed as soon as no handle
// refers to any node inside it; until then it is listed in `detachedRoots` and freed when
// the document dies (before the document itself, whose name dictionary its nodes use).
//
// Threads: several threads may read one document at once (a build makes its pages side by
// side), each changing only nodes no other thread reads. Handle counts and the attribute
// search hint are therefore kept with atomic operations, and everything that changes the
// document's shared state (its name dictionary, the detached roots) holds `lockForWriting()`.
class KRXMLDocumentPrivate : public std::enable_shared_from_this<KRXMLDocumentPrivate>
{
public:
    explicit KRXMLDocumentPrivate(_xmlDoc *document); // takes ownership
    ~KRXMLDocumentPrivate();
    KRXMLDocumentPrivate(const KRXMLDocumentPrivate &) = delete;
    KRXMLDocumentPrivate &operator=(const KRXMLDocumentPrivate &) = delete;

    _xmlDoc *doc() const { return m_doc; }
    KRXMLDocumentSlot *slot() const { return m_slot; }
    std::uint64_t generation() const { return m_generation; }
    // True when the handle is of a node of this (live) document.
    bool owns(const KRXMLNode &node) const
    {
        return node.m_node && node.m_slot == m_slot && node.m_generation == m_generation;
    }

    // Held while the document or a node of it changes (recursive: changes are made of
    // changes).
    [[nodiscard]] std::unique_lock<std::recursive_mutex> lockForWriting() const
    {
        return std::unique_lock(m_writeLock);
    }
    // The number of handles of a node, and their coming and going.
    static std::intptr_t handleCount(_xmlNode *node);
    static void retainHandle(_xmlNode *node);
    static std::intptr_t releaseHandle(_xmlNode *node); // the count left
    // True when the node is in the document's tree (attached nodes live as long as it).
    static bool isInDocumentTree(_xmlNode *node);

    // A node that has just lost its parent (or was just made): kept when referenced, freed
    // otherwise.
    void adoptDetached(_xmlNode *node);
    // A detached node that has just been given a parent.
    void didAttach(_xmlNode *node)
    {
        const auto lock = lockForWriting();
        m_detachedRoots.erase(node);
    }
    // A handle of `node` was the last one: frees the node's detached subtree when nothing in
    // it is referenced any more.
    void collectIfUnreferenced(_xmlNode *node);
    int detachedCount() const
    {
        const auto lock = lockForWriting();
        return static_cast<int>(m_detachedRoots.size());
    }

    KRXMLNode handle(_xmlNode *node);
    // The handle of a node just made or copied in, left detached: the handle keeps it.
    KRXMLNode handleOfNew(_xmlNode *node);
    QList<KRXMLNode> evaluateXPath(_xmlNode *context, const QString &xpath);
    // A deep copy of `node` (of any document) in this document, detached, with no handle
    // counts copied.
    _xmlNode *copyIn(_xmlNode *node);

    // --- Empty attributes kept out of the tree (KRXMLNode::addEmptyAttribute)
    //
    // An element may read as having empty attributes after all of its own: their names, of
    // the document's name dictionary, are listed in the element's content field, which the
    // library leaves unused for elements (it neither frees nor copies it there). They take
    // their place in the tree, in that order, before anything adds an attribute to the
    // element, and whatever frees an element lets its list go first. A document read with
    // names to list (KRXMLDocument::fromData) has its elements' lists made by the parser.
    struct PendingAttributes
    {
        std::vector<const unsigned char *> names;
    };
    // The element's list; null for no list and for every other kind of node.
    static PendingAttributes *pendingAttributes(const _xmlNode *node);
    // True when the element's list holds that UTF-8 name.
    static bool hasPendingAttribute(const _xmlNode *node, const char *name, qsizetype length);
    // With the lock held; `name` is of the document's dictionary.
    void addPendingAttribute(_xmlNode *element, const unsigned char *name);
    // With the lock held: the element's list becomes attributes of the tree.
    void materializePendingAttributes(_xmlNode *element);
    // The same for every element of the subtree (the whole document for its document node).
    void materializePendingAttributesBelow(_xmlNode *node);
    // Before a subtree leaves for good: the lists of its elements go.
    void releasePendingAttributes(_xmlNode *node);
    // Gives the elements of `copy`, a deep copy of `source` (of any document), the listed
    // attributes of their originals as attributes of the tree.
    static void copyPendingAttributes(_xmlNode *source, _xmlNode *copy);
    // Runs `write` (which reads the subtree as the library's serialiser does) with the listed
    // attributes of the subtree's elements linked in after their own, and unlinks them again:
    // the text written is that of the attributes in the tree, yet they take no room of the
    // document's after. With the lock held.
    void withPendingAttributesLinked(_xmlNode *node, const std::function<void()> &write);
    // Counts `count` elements given lists as the document was read.
    void notePendingElements(int count) { m_pendingElements.fetch_add(count, std::memory_order_relaxed); }
    bool hasPendingAttributes() const { return m_pendingElements.load(std::memory_order_relaxed) > 0; }

    static bool subtreeReferenced(_xmlNode *node);
    // Links `node` (unlinked, same document) under `parent` before `before` (null: last),
    // without the text merging of the library's own insertion functions.
    static void link(_xmlNode *parent, _xmlNode *node, _xmlNode *before);
    // UTF-8 for the library of KRXMLDocument::storableText.
    static QByteArray xmlText(const QString &text);
    // Fatal on a null handle; for reads that need no strong reference to the document (the
    // handle's thread keeps it alive during the call).
    static void checkAlive(const KRXMLNode &node, const char *operation);

private:
    _xmlDoc *m_doc;
    KRXMLDocumentSlot *m_slot;      // taken from the table for the document's life
    std::uint64_t m_generation = 0; // the slot's generation while the document lives
    std::unordered_set<_xmlNode *> m_detachedRoots;
    std::atomic<int> m_pendingElements{0}; // elements with a list of empty attributes
    mutable std::recursive_mutex m_writeLock;
};

#include "KRXMLDocumentPrivate.h"

#include <platform/foundation/KRAssert.h>

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <atomic>
#include <cstring>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace {

void clearHandleCounts(xmlNodePtr node)
{
    std::vector<xmlNodePtr> stack{node};
    while (!stack.empty()) {
        xmlNodePtr current = stack.back();
        stack.pop_back();
        current->_private = nullptr;
        if (current->type == XML_ELEMENT_NODE) {
            current->psvi = nullptr;    // the attribute search hint of the original element
            current->content = nullptr; // never a list of the original's empty attributes
            for (xmlAttrPtr attr = current->properties; attr; attr = attr->next)
                attr->_private = nullptr;
        }
        if (current->type != XML_ENTITY_REF_NODE) {
            for (xmlNodePtr child = current->children; child; child = child->next)
                stack.push_back(child);
        }
    }
}

// Calls `visit` for every element of the subtree of `node` (the document node included as
// the top of its tree), parents before their children.
template <typename Visit>
void forEachElement(xmlNodePtr node, Visit &&visit)
{
    std::vector<xmlNodePtr> stack{node};
    while (!stack.empty()) {
        xmlNodePtr current = stack.back();
        stack.pop_back();
        if (current->type == XML_ELEMENT_NODE)
            visit(current);
        if (current->type == XML_ELEMENT_NODE || current->type == XML_DOCUMENT_NODE) {
            for (xmlNodePtr child = current->last; child; child = child->prev)
                stack.push_back(child);
        }
    }
}

void ignoreXPathError(void *, xmlErrorPtr)
{
}

// The root of the subtree the node is in: the document node for an attached node.
xmlNodePtr treeTop(xmlNodePtr node)
{
    while (node->parent)
        node = node->parent;
    return node;
}

// The slots of all documents. Never destroyed: documents may die while the process exits,
// and handles may outlive them.
struct SlotTable
{
    std::mutex mutex; // taken only as a document is made or dies
    KRXMLDocumentSlot *free = nullptr;
    std::vector<std::unique_ptr<KRXMLDocumentSlot[]>> chunks;
};

SlotTable &slotTable()
{
    static SlotTable *const table = new SlotTable;
    return *table;
}

KRXMLDocumentSlot *takeSlot()
{
    SlotTable &table = slotTable();
    const std::lock_guard guard(table.mutex);
    if (!table.free) {
        constexpr int chunkSize = 32;
        auto &chunk = table.chunks.emplace_back(std::make_unique<KRXMLDocumentSlot[]>(chunkSize));
        for (int i = chunkSize - 1; i >= 0; --i) {
            chunk[i].nextFree = table.free;
            table.free = &chunk[i];
        }
    }
    KRXMLDocumentSlot *slot = table.free;
    table.free = slot->nextFree;
    slot->nextFree = nullptr;
    return slot;
}

void returnSlot(KRXMLDocumentSlot *slot)
{
    SlotTable &table = slotTable();
    const std::lock_guard guard(table.mutex);
    slot->nextFree = table.free;
    table.free = slot;
}

} // namespace

std::shared_ptr<KRXMLDocumentPrivate> KRXMLDocumentSlot::lockDocument(std::uint64_t handleGeneration)
{
    // The lock keeps the document from dying between the look at the generation and the
    // strong reference; one whose last reference has gone but that has not died yet gives null.
    const std::lock_guard guard(lock);
    if (generation.load(std::memory_order_relaxed) != handleGeneration || !document)
        return nullptr;
    return document->weak_from_this().lock();
}

KRXMLDocumentPrivate::KRXMLDocumentPrivate(_xmlDoc *document) : m_doc(document), m_slot(takeSlot())
{
    // The generation moves on only as a document dies, and this slot's previous document
    // has given it back.
    const std::lock_guard guard(m_slot->lock);
    m_generation = m_slot->generation.load(std::memory_order_relaxed);
    m_slot->document = this;
}

KRXMLDocumentPrivate::~KRXMLDocumentPrivate()
{
    // Handles of the document are null from here on, before any node goes.
    {
        const std::lock_guard guard(m_slot->lock);
        m_slot->generation.store(m_generation + 1, std::memory_order_release);
        m_slot->document = nullptr;
    }
    // Detached nodes use the document's name dictionary: free them first.
    for (xmlNodePtr node : m_detachedRoots) {
        releasePendingAttributes(node);
        xmlFreeNode(node);
    }
    m_detachedRoots.clear();
    releasePendingAttributes(reinterpret_cast<xmlNodePtr>(m_doc));
    xmlFreeDoc(m_doc);
    returnSlot(m_slot);
}

std::intptr_t KRXMLDocumentPrivate::handleCount(_xmlNode *node)
{
    return reinterpret_cast<std::intptr_t>(std::atomic_ref<void *>(node->_private).load(std::memory_order_acquire));
}

void KRXMLDocumentPrivate::retainHandle(_xmlNode *node)
{
    std::atomic_ref<void *> count(node->_private);
    void *old = count.load(std::memory_order_relaxed);
    while (!count.compare_exchange_weak(old, reinterpret_cast<void *>(reinterpret_cast<std::intptr_t>(old) + 1),
                                        std::memory_order_relaxed)) {
    }
}

std::intptr_t KRXMLDocumentPrivate::releaseHandle(_xmlNode *node)
{
    std::atomic_ref<void *> count(node->_private);
    void *old = count.load(std::memory_order_relaxed);
    std::intptr_t left;
    do {
        left = reinterpret_cast<std::intptr_t>(old) - 1;
    } while (!count.compare_exchange_weak(old, reinterpret_cast<void *>(left), std::memory_order_acq_rel,
                                          std::memory_order_relaxed));
    return left;
}

bool KRXMLDocumentPrivate::subtreeReferenced(_xmlNode *node)
{
    std::vector<xmlNodePtr> stack{node};
    while (!stack.empty()) {
        xmlNodePtr current = stack.back();
        stack.pop_back();
        if (handleCount(current) > 0)
            return true;
        if (current->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr attr = current->properties; attr; attr = attr->next) {
                if (handleCount(reinterpret_cast<xmlNodePtr>(attr)) > 0)
                    return true;
            }
        }
        if (current->type != XML_ENTITY_REF_NODE && current->type != XML_ATTRIBUTE_NODE) {
            for (xmlNodePtr child = current->children; child; child = child->next)
                stack.push_back(child);
        }
    }
    return false;
}

void KRXMLDocumentPrivate::adoptDetached(_xmlNode *node)
{
    const auto lock = lockForWriting();
    if (subtreeReferenced(node)) {
        m_detachedRoots.insert(node);
    } else {
        m_detachedRoots.erase(node);
        releasePendingAttributes(node);
        xmlFreeNode(node);
    }
}

KRXMLNode KRXMLDocumentPrivate::handleOfNew(_xmlNode *node)
{
    KRXMLNode result = handle(node);
    adoptDetached(node);
    return result;
}

bool KRXMLDocumentPrivate::isInDocumentTree(_xmlNode *node)
{
    return treeTop(node)->type == XML_DOCUMENT_NODE;
}

void KRXMLDocumentPrivate::collectIfUnreferenced(_xmlNode *node)
{
    // An attached node lives as long as its document: found without the lock, which every
    // thread reading the document would otherwise take for each handle it lets go.
    xmlNodePtr top = treeTop(node);
    if (top->type == XML_DOCUMENT_NODE)
        return;
    const auto lock = lockForWriting();
    if (!m_detachedRoots.contains(top))
        return;
    if (!subtreeReferenced(top)) {
        m_detachedRoots.erase(top);
        releasePendingAttributes(top);
        xmlFreeNode(top);
    }
}

KRXMLNode KRXMLDocumentPrivate::handle(_xmlNode *node)
{
    return KRXMLNode(*this, node);
}

void KRXMLDocumentPrivate::link(_xmlNode *parent, _xmlNode *node, _xmlNode *before)
{
    node->parent = parent;
    node->next = before;
    node->prev = before ? before->prev : parent->last;
    if (node->prev)
        node->prev->next = node;
    else
        parent->children = node;
    if (before)
        before->prev = node;
    else
        parent->last = node;
}

_xmlNode *KRXMLDocumentPrivate::copyIn(_xmlNode *node)
{
    const auto lock = lockForWriting();
    xmlNodePtr copy = xmlDocCopyNode(node, m_doc, 1);
    if (copy) {
        clearHandleCounts(copy);
        copyPendingAttributes(node, copy);
    }
    return copy;
}

KRXMLDocumentPrivate::PendingAttributes *KRXMLDocumentPrivate::pendingAttributes(const _xmlNode *node)
{
    if (node->type != XML_ELEMENT_NODE)
        return nullptr;
    return reinterpret_cast<PendingAttributes *>(node->content);
}

bool KRXMLDocumentPrivate::hasPendingAttribute(const _xmlNode *node, const char *name, qsizetype length)
{
    const PendingAttributes *pending = pendingAttributes(node);
    if (!pending || length <= 0)
        return false;
    for (const unsigned char *listed : pending->names) {
        const char *text = reinterpret_cast<const char *>(listed);
        if (std::strncmp(text, name, size_t(length)) == 0 && text[length] == '\0')
            return true;
    }
    return false;
}

void KRXMLDocumentPrivate::addPendingAttribute(_xmlNode *element, const unsigned char *name)
{
    KR_ASSERT(element->type == XML_ELEMENT_NODE && (!element->content || pendingAttributes(element)),
              "empty attributes are listed for elements only");
    PendingAttributes *pending = pendingAttributes(element);
    if (!pending) {
        pending = new PendingAttributes;
        element->content = reinterpret_cast<xmlChar *>(pending);
        m_pendingElements.fetch_add(1, std::memory_order_relaxed);
    }
    // An object's properties come one at a time, some tens of them: grown by half.
    std::vector<const unsigned char *> &names = pending->names;
    if (names.size() == names.capacity())
        names.reserve(names.size() < 8 ? 8 : names.size() + names.size() / 2);
    names.push_back(name);
}

void KRXMLDocumentPrivate::materializePendingAttributes(_xmlNode *element)
{
    PendingAttributes *pending = pendingAttributes(element);
    if (!pending)
        return;
    element->content = nullptr;
    m_pendingElements.fetch_sub(1, std::memory_order_relaxed);
    for (const unsigned char *name : pending->names)
        xmlNewProp(element, name, nullptr);
    delete pending;
}

void KRXMLDocumentPrivate::materializePendingAttributesBelow(_xmlNode *node)
{
    if (!hasPendingAttributes())
        return;
    forEachElement(node, [this](xmlNodePtr element) { materializePendingAttributes(element); });
}

void KRXMLDocumentPrivate::releasePendingAttributes(_xmlNode *node)
{
    if (!hasPendingAttributes())
        return;
    forEachElement(node, [this](xmlNodePtr element) {
        if (PendingAttributes *pending = pendingAttributes(element)) {
            element->content = nullptr;
            m_pendingElements.fetch_sub(1, std::memory_order_relaxed);
            delete pending;
        }
    });
}

void KRXMLDocumentPrivate::copyPendingAttributes(_xmlNode *source, _xmlNode *copy)
{
    // The copy has the source's children in the same order (an entity reference's are the
    // entity's own, and hold no lists).
    std::vector<std::pair<xmlNodePtr, xmlNodePtr>> stack{{source, copy}};
    while (!stack.empty()) {
        const auto [from, to] = stack.back();
        stack.pop_back();
        if (from->type != XML_ELEMENT_NODE || to->type != XML_ELEMENT_NODE)
            continue;
        if (const PendingAttributes *pending = pendingAttributes(from)) {
            for (const unsigned char *name : pending->names)
                xmlNewProp(to, name, nullptr);
        }
        for (xmlNodePtr a = from->children, b = to->children; a && b; a = a->next, b = b->next)
            stack.emplace_back(a, b);
    }
}

void KRXMLDocumentPrivate::withPendingAttributesLinked(_xmlNode *node, const std::function<void()> &write)
{
    if (!hasPendingAttributes()) {
        write();
        return;
    }
    struct Linked
    {
        xmlNodePtr element;
        xmlAttrPtr lastOwn; // the element's last attribute of its own (null: none)
    };
    std::vector<Linked> linked;
    std::size_t count = 0;
    forEachElement(node, [&](xmlNodePtr element) {
        if (const PendingAttributes *pending = pendingAttributes(element)) {
            xmlAttrPtr last = element->properties;
            while (last && last->next)
                last = last->next;
            linked.push_back({element, last});
            count += pending->names.size();
        }
    });
    // Made here, not by the library: they are let go at once, and the document's memory is
    // not grown by them.
    std::vector<xmlAttr> attributes(count);
    std::size_t next = 0;
    for (const Linked &entry : linked) {
        xmlAttrPtr previous = entry.lastOwn;
        for (const unsigned char *name : pendingAttributes(entry.element)->names) {
            xmlAttrPtr attr = &attributes[next++];
            attr->type = XML_ATTRIBUTE_NODE;
            attr->name = name;
            attr->parent = entry.element;
            attr->doc = entry.element->doc;
            attr->prev = previous;
            if (previous)
                previous->next = attr;
            else
                entry.element->properties = attr;
            previous = attr;
        }
    }
    const auto unlink = [&] {
        for (const Linked &entry : linked) {
            if (entry.lastOwn)
                entry.lastOwn->next = nullptr;
            else
                entry.element->properties = nullptr;
            // The attribute search hint never names one of them.
            std::atomic_ref<void *> hint(entry.element->psvi);
            void *hinted = hint.load(std::memory_order_relaxed);
            if (hinted >= static_cast<void *>(attributes.data())
                && hinted < static_cast<void *>(attributes.data() + attributes.size()))
                hint.store(nullptr, std::memory_order_relaxed);
        }
    };
    try {
        write();
    } catch (...) {
        unlink();
        throw;
    }
    unlink();
}

QList<KRXMLNode> KRXMLDocumentPrivate::evaluateXPath(_xmlNode *context, const QString &xpath)
{
    QList<KRXMLNode> nodes;
    const QByteArray query = xpath.toUtf8();
    if (query.isEmpty())
        return nodes;
    // Evaluation may add names to the document's dictionary.
    const auto lock = lockForWriting();
    xmlXPathContextPtr ctx = xmlXPathNewContext(m_doc);
    if (!ctx)
        return nodes;
    ctx->error = ignoreXPathError; // an invalid query just finds nothing
    ctx->node = context ? context : reinterpret_cast<xmlNodePtr>(m_doc);
    // A query that may look at attributes sees the listed empty ones in the tree, where they
    // stay (it may give handles of them).
    if (query.contains('@') || query.contains("attribute")) {
        materializePendingAttributesBelow(reinterpret_cast<xmlNodePtr>(m_doc));
        if (context)
            materializePendingAttributesBelow(treeTop(context));
    }
    xmlXPathObjectPtr result =
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar *>(query.constData()), ctx);
    if (result && result->type == XPATH_NODESET && result->nodesetval) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) {
            xmlNodePtr node = result->nodesetval->nodeTab[i];
            switch (node->type) {
            case XML_ELEMENT_NODE:
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
            case XML_COMMENT_NODE:
            case XML_PI_NODE:
            case XML_ATTRIBUTE_NODE:
                nodes.append(handle(node));
                break;
            default: // the document node and namespace nodes have no handles
                break;
            }
        }
    }
    xmlXPathFreeObject(result);
    xmlXPathFreeContext(ctx);
    return nodes;
}

void KRXMLDocumentPrivate::checkAlive(const KRXMLNode &node, const char *operation)
{
    if (node.isNull())
        krAssertFailed("!isNull()", operation, __FILE__, __LINE__, "KRXMLNode");
}

QByteArray KRXMLDocumentPrivate::xmlText(const QString &text)
{
    return KRXMLDocument::storableText(text).toUtf8();
}

#include "KRXMLDocumentPrivate.h"

#include <platform/foundation/KRAssert.h>

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <atomic>
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
            current->psvi = nullptr; // the attribute search hint of the original element
            for (xmlAttrPtr attr = current->properties; attr; attr = attr->next)
                attr->_private = nullptr;
        }
        if (current->type != XML_ENTITY_REF_NODE) {
            for (xmlNodePtr child = current->children; child; child = child->next)
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
    for (xmlNodePtr node : m_detachedRoots)
        xmlFreeNode(node);
    m_detachedRoots.clear();
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
    if (copy)
        clearHandleCounts(copy);
    return copy;
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
    QByteArray bytes = text.toUtf8();
    // Only bytes below 0x20 can be C0 controls in UTF-8; keep tab, LF and CR.
    qsizetype out = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            continue;
        bytes[out++] = bytes.at(i);
    }
    bytes.truncate(out);
    return bytes;
}

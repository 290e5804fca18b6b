#include "KRXMLNode.h"

#include <core/KRXMLDocument.h>
#include <core/KRXMLDocumentPrivate.h>
#include <platform/foundation/KRAssert.h>

#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

namespace {

QString fromXml(const xmlChar *text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char *>(text)) : QString();
}

// Takes a string the library allocated.
QString takeXml(xmlChar *text)
{
    QString result = text ? fromXml(text) : QString();
    xmlFree(text);
    return result;
}

const xmlChar *xmlChars(const QByteArray &bytes)
{
    return reinterpret_cast<const xmlChar *>(bytes.constData());
}

// The text of a short UTF-8 value or name. Short values repeat throughout a project ("4",
// "300", "true", a colour), and so do element names: one made lately on this thread is
// handed out again, sharing its characters, where making each anew costs an allocation and
// a conversion, and later a free.
QString shortText(const char *utf8, std::size_t length)
{
    constexpr std::size_t kLongest = 23;
    if (length > kLongest)
        return QString::fromUtf8(utf8, qsizetype(length));
    struct Made
    {
        std::size_t length = kLongest + 1; // none yet
        char bytes[kLongest];
        QString text;
    };
    thread_local std::array<Made, 256> made;
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ static_cast<unsigned char>(utf8[i])) * 16777619u;
    Made &slot = made[(hash ^ (hash >> 8)) & 0xff];
    if (slot.length == length && std::memcmp(slot.bytes, utf8, length) == 0)
        return slot.text;
    slot.text = QString::fromUtf8(utf8, qsizetype(length));
    slot.length = length;
    std::memcpy(slot.bytes, utf8, length);
    return slot.text;
}

QString qualifiedName(const xmlChar *name, xmlNsPtr ns)
{
    const char *utf8 = reinterpret_cast<const char *>(name);
    QString local = utf8 ? shortText(utf8, std::strlen(utf8)) : QString();
    if (ns && ns->prefix)
        return fromXml(ns->prefix) + QLatin1Char(':') + local;
    return local;
}

// True when the qualified name ("prefix:name" with a namespace prefix) is `utf8`; compared
// as bytes, as names are looked up often.
bool nameMatches(const xmlChar *name, xmlNsPtr ns, const QByteArray &utf8)
{
    if (!ns || !ns->prefix)
        return name && name[0] == xmlChar(utf8.constData()[0]) && xmlStrEqual(name, xmlChars(utf8));
    const int prefixLength = xmlStrlen(ns->prefix);
    return utf8.size() > prefixLength && utf8.at(prefixLength) == ':'
        && xmlStrncmp(ns->prefix, xmlChars(utf8), prefixLength) == 0
        && xmlStrEqual(name, xmlChars(utf8) + prefixLength + 1);
}

// True when the NUL-terminated `name` starts with the `size` bytes at `bytes` and ends there.
// Compared inline: mismatches end at the first byte nearly always.
bool bytesEqual(const char *name, const char *bytes, qsizetype size)
{
    for (qsizetype i = 0; i < size; ++i) {
        if (name[i] != bytes[i]) // also stops at the end of a shorter name, as bytes holds no NUL
            return false;
    }
    return name[size] == '\0';
}

// True when the attribute's qualified name is the `size` bytes at `utf8` (no NUL among them).
bool attributeNameIs(xmlAttrPtr attr, const char *utf8, qsizetype size)
{
    const char *name = reinterpret_cast<const char *>(attr->name);
    if (!name)
        return false;
    if (!attr->ns || !attr->ns->prefix)
        return bytesEqual(name, utf8, size);
    const char *prefix = reinterpret_cast<const char *>(attr->ns->prefix);
    const auto prefixLength = qsizetype(std::strlen(prefix));
    return size > prefixLength && utf8[prefixLength] == ':' && std::strncmp(prefix, utf8, size_t(prefixLength)) == 0
        && bytesEqual(name, utf8 + prefixLength + 1, size - prefixLength - 1);
}

// The attributes read next are most likely the ones that follow, and a large project's
// attributes no longer fit in the caches: what the next reads need is asked for from memory
// ahead of time, each stage from what an earlier call asked for (so nothing here waits for
// memory in the usual run of reads): the node two on, the text node of the one after next,
// the characters of the next one's text. Only hints: every pointer followed is linked from a
// live attribute.
void prefetchFollowingAttributes(xmlAttrPtr attr)
{
    xmlAttrPtr next = attr->next;
    if (!next)
        return;
    if (xmlNodePtr text = next->children)
        __builtin_prefetch(text->content);
    xmlAttrPtr afterNext = next->next;
    if (!afterNext)
        return;
    __builtin_prefetch(afterNext->children);
    __builtin_prefetch(afterNext->next);
}

// The attribute of that qualified name ("prefix:name" matches a namespaced attribute).
//
// Objects read their element's attributes one after the other, mostly in the order the
// attributes are stored, and an element may carry a hundred of them: the search starts at
// the attribute found last on the same element. That attribute is remembered in the element's
// schema-information field (unused without schema validation), which therefore always holds
// null or a live attribute of that very element: whatever unlinks an attribute from its
// element clears it (forgetAttribute), and copies start without it.
xmlAttrPtr findAttribute(xmlNodePtr element, const char *bytes, qsizetype length)
{
    if (element->type != XML_ELEMENT_NODE || !element->properties || length == 0)
        return nullptr; // no attribute has an empty name
    // The hint is read and written atomically: threads may read one element at once.
    std::atomic_ref<void *> hint(element->psvi);
    const auto found = [&hint](xmlAttrPtr attr) {
        hint.store(attr, std::memory_order_relaxed);
        prefetchFollowingAttributes(attr);
        return attr;
    };
    xmlAttrPtr first = element->properties;
    auto *last = static_cast<xmlAttrPtr>(hint.load(std::memory_order_relaxed));
    if (!last) {
        for (xmlAttrPtr attr = first; attr; attr = attr->next) {
            if (attributeNameIs(attr, bytes, length))
                return found(attr);
        }
        return nullptr;
    }
    // The one found last and a few after it (reads in stored order); then the ones before it
    // (the first attributes of an element, read again out of turn); then the rest. Every
    // attribute is compared once.
    constexpr int kWindow = 8;
    xmlAttrPtr attr = last;
    for (int i = 0; attr && i < kWindow; ++i, attr = attr->next) {
        if (attributeNameIs(attr, bytes, length))
            return found(attr);
    }
    xmlAttrPtr rest = attr;
    for (attr = first; attr != last; attr = attr->next) {
        if (attributeNameIs(attr, bytes, length))
            return found(attr);
    }
    for (attr = rest; attr; attr = attr->next) {
        if (attributeNameIs(attr, bytes, length))
            return found(attr);
    }
    return nullptr;
}

xmlAttrPtr findAttribute(xmlNodePtr element, QByteArrayView utf8)
{
    if (utf8.contains('\0'))
        return nullptr; // no attribute name holds one
    return findAttribute(element, utf8.data(), utf8.size());
}

xmlAttrPtr findAttribute(xmlNodePtr element, const QString &name)
{
    if (element->type != XML_ELEMENT_NODE || !element->properties)
        return nullptr;
    // Names are short ASCII nearly always: converted on the stack.
    char ascii[64];
    const qsizetype size = name.size();
    bool plain = size < qsizetype(sizeof ascii);
    for (qsizetype i = 0; plain && i < size; ++i) {
        const char16_t c = name.at(i).unicode();
        plain = c != 0 && c < 0x80;
        ascii[i] = char(c);
    }
    if (plain) {
        ascii[size] = '\0';
        return findAttribute(element, ascii, size);
    }
    return findAttribute(element, QByteArrayView(name.toUtf8()));
}

// The attribute's text; "" for an empty one.
QString xmlAttributeText(xmlNodePtr element, xmlAttrPtr attr)
{
    xmlNodePtr text = attr->children;
    if (!text)
        return QStringLiteral(""); // static: copied without a count or a call
    if (text->type == XML_TEXT_NODE && !text->next) { // the usual single text run, read in place
        if (!text->content || !*text->content)
            return QStringLiteral("");
        const char *content = reinterpret_cast<const char *>(text->content);
        return shortText(content, std::strlen(content));
    }
    QString value = takeXml(xmlNodeListGetString(element->doc, attr->children, 1));
    if (value.isNull())
        value = QString(QLatin1String(""));
    return value;
}

// Called before an attribute leaves its element.
void forgetAttribute(xmlAttrPtr attr)
{
    if (!attr->parent)
        return;
    void *expected = attr;
    std::atomic_ref<void *>(attr->parent->psvi).compare_exchange_strong(expected, nullptr, std::memory_order_relaxed);
}

// True when the element lists an empty attribute of that name to be added after its own.
bool hasListedEmptyAttribute(xmlNodePtr element, const QString &name)
{
    if (!KRXMLDocumentPrivate::pendingAttributes(element) || name.contains(QChar(0)))
        return false;
    const QByteArray utf8 = name.toUtf8();
    return KRXMLDocumentPrivate::hasPendingAttribute(element, utf8.constData(), utf8.size());
}

bool isChildKind(xmlElementType type)
{
    switch (type) {
    case XML_ELEMENT_NODE:
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
    case XML_ENTITY_REF_NODE:
        return true;
    default:
        return false;
    }
}

} // namespace

KRXMLNode::KRXMLNode(const KRXMLDocumentPrivate &doc, _xmlNode *node)
    : m_slot(doc.slot()), m_generation(doc.generation()), m_node(node)
{
    if (m_node)
        KRXMLDocumentPrivate::retainHandle(m_node);
}

KRXMLNode::KRXMLNode(const KRXMLNode &other)
    : m_slot(other.m_slot), m_generation(other.m_generation), m_node(other.m_node)
{
    retain();
}

KRXMLNode::KRXMLNode(KRXMLNode &&other) noexcept
    : m_slot(other.m_slot), m_generation(other.m_generation), m_node(other.m_node)
{
    other.m_node = nullptr;
    other.m_slot = nullptr;
}

KRXMLNode &KRXMLNode::operator=(const KRXMLNode &other)
{
    if (this != &other) {
        KRXMLNode copy(other);
        *this = std::move(copy);
    }
    return *this;
}

KRXMLNode &KRXMLNode::operator=(KRXMLNode &&other) noexcept
{
    if (this != &other) {
        release();
        m_slot = other.m_slot;
        m_generation = other.m_generation;
        m_node = other.m_node;
        other.m_node = nullptr;
        other.m_slot = nullptr;
    }
    return *this;
}

KRXMLNode::~KRXMLNode()
{
    release();
}

void KRXMLNode::retain()
{
    if (m_node && m_slot->isAlive(m_generation))
        KRXMLDocumentPrivate::retainHandle(m_node);
}

void KRXMLNode::release()
{
    if (!m_node)
        return;
    // The handle's thread keeps a live document alive while it lets go of a handle, as for
    // any other use of it: the document itself is asked for only when a node outside its tree
    // lost its last handle.
    if (m_slot->isAlive(m_generation) && KRXMLDocumentPrivate::releaseHandle(m_node) == 0
        && !KRXMLDocumentPrivate::isInDocumentTree(m_node)) {
        if (auto doc = m_slot->lockDocument(m_generation))
            doc->collectIfUnreferenced(m_node);
    }
    m_node = nullptr;
    m_slot = nullptr;
}

KRXMLNode KRXMLNode::handleOf(_xmlNode *node) const
{
    KRXMLNode result;
    result.m_slot = m_slot;
    result.m_generation = m_generation;
    result.m_node = node;
    KRXMLDocumentPrivate::retainHandle(node);
    return result;
}

bool KRXMLNode::isNull() const
{
    return !m_node || !m_slot->isAlive(m_generation);
}

std::shared_ptr<KRXMLDocumentPrivate> KRXMLNode::checkedDocument(const char *operation) const
{
    std::shared_ptr<KRXMLDocumentPrivate> doc = m_node ? m_slot->lockDocument(m_generation) : nullptr;
    if (!doc)
        krAssertFailed("!isNull()", operation, __FILE__, __LINE__, "KRXMLNode");
    return doc;
}

KRXMLNode::Kind KRXMLNode::kind() const
{
    if (isNull())
        return Kind::Null;
    switch (m_node->type) {
    case XML_ELEMENT_NODE: return Kind::Element;
    case XML_TEXT_NODE: return Kind::Text;
    case XML_CDATA_SECTION_NODE: return Kind::CDATA;
    case XML_COMMENT_NODE: return Kind::Comment;
    case XML_PI_NODE: return Kind::ProcessingInstruction;
    case XML_ATTRIBUTE_NODE: return Kind::Attribute;
    case XML_ENTITY_REF_NODE: return Kind::EntityReference;
    default: return Kind::Other;
    }
}

QString KRXMLNode::name() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "name of a null XML node");
    switch (m_node->type) {
    case XML_ELEMENT_NODE: return qualifiedName(m_node->name, m_node->ns);
    case XML_ATTRIBUTE_NODE:
        return qualifiedName(m_node->name, reinterpret_cast<xmlAttrPtr>(m_node)->ns);
    case XML_PI_NODE: return fromXml(m_node->name);
    default: return QString(QLatin1String(""));
    }
}

KRXMLDocument KRXMLNode::document() const
{
    return KRXMLDocument(m_node ? m_slot->lockDocument(m_generation) : nullptr);
}

int KRXMLNode::lineNumber() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "line of a null XML node");
    const long line = xmlGetLineNo(m_node);
    return line > 0 ? static_cast<int>(line) : 0;
}

// --- Tree

KRXMLNode KRXMLNode::parent() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "parent of a null XML node");
    xmlNodePtr parent = m_node->parent;
    if (!parent || parent->type == XML_DOCUMENT_NODE)
        return {};
    return handleOf(parent);
}

int KRXMLNode::index() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "index of a null XML node");
    if (!m_node->parent || m_node->parent->type == XML_DOCUMENT_NODE || m_node->type == XML_ATTRIBUTE_NODE)
        return -1;
    int position = 0;
    for (xmlNodePtr sibling = m_node->parent->children; sibling; sibling = sibling->next) {
        if (sibling == m_node)
            return position;
        ++position;
    }
    return -1;
}

bool KRXMLNode::isDetached() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "isDetached of a null XML node");
    return m_node->parent == nullptr;
}

int KRXMLNode::childCount() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "children of a null XML node");
    if (m_node->type != XML_ELEMENT_NODE)
        return 0;
    int count = 0;
    for (xmlNodePtr child = m_node->children; child; child = child->next)
        ++count;
    return count;
}

KRXMLNode KRXMLNode::childAt(int index) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "children of a null XML node");
    if (m_node->type != XML_ELEMENT_NODE || index < 0)
        return {};
    int position = 0;
    for (xmlNodePtr child = m_node->children; child; child = child->next, ++position) {
        if (position == index)
            return handleOf(child);
    }
    return {};
}

QList<KRXMLNode> KRXMLNode::children() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "children of a null XML node");
    QList<KRXMLNode> list;
    if (m_node->type == XML_ELEMENT_NODE) {
        for (xmlNodePtr child = m_node->children; child; child = child->next)
            list.append(handleOf(child));
    }
    return list;
}

QList<KRXMLNode> KRXMLNode::elements() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "children of a null XML node");
    QList<KRXMLNode> list;
    if (m_node->type == XML_ELEMENT_NODE) {
        for (xmlNodePtr child = m_node->children; child; child = child->next) {
            if (child->type == XML_ELEMENT_NODE)
                list.append(handleOf(child));
        }
    }
    return list;
}

QList<KRXMLNode> KRXMLNode::elementsForName(const QString &name) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "children of a null XML node");
    QList<KRXMLNode> list;
    if (m_node->type == XML_ELEMENT_NODE) {
        const QByteArray utf8 = name.toUtf8();
        for (xmlNodePtr child = m_node->children; child; child = child->next) {
            if (child->type == XML_ELEMENT_NODE && nameMatches(child->name, child->ns, utf8))
                list.append(handleOf(child));
        }
    }
    return list;
}

KRXMLNode KRXMLNode::nextSibling() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "sibling of a null XML node");
    if (m_node->type == XML_ATTRIBUTE_NODE || !m_node->next)
        return {};
    return handleOf(m_node->next);
}

KRXMLNode KRXMLNode::previousSibling() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "sibling of a null XML node");
    if (m_node->type == XML_ATTRIBUTE_NODE || !m_node->prev)
        return {};
    return handleOf(m_node->prev);
}

bool KRXMLNode::isAncestorOf(const KRXMLNode &other) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "isAncestorOf on a null XML node");
    if (other.isNull())
        return false;
    for (xmlNodePtr node = other.m_node; node; node = node->parent) {
        if (node == m_node)
            return true;
    }
    return false;
}

void KRXMLNode::appendChild(const KRXMLNode &child)
{
    // Not through the index: counting the children made filling a large element quadratic.
    auto doc = checkedDocument("appendChild into a null XML node");
    const auto lock = doc->lockForWriting();
    linkChild(*doc, child, nullptr);
}

void KRXMLNode::insertChild(const KRXMLNode &child, int index)
{
    auto doc = checkedDocument("insertChild into a null XML node");
    const auto lock = doc->lockForWriting();
    KR_ASSERT(index >= 0 && index <= childCount(), "child index out of range");
    // The insertion point is counted before the child moves away from this element.
    xmlNodePtr before = m_node->type == XML_ELEMENT_NODE ? m_node->children : nullptr;
    for (int i = 0; i < index && before; ++i)
        before = before->next;
    linkChild(*doc, child, before);
}

void KRXMLNode::insertBefore(const KRXMLNode &child, const KRXMLNode &reference)
{
    auto doc = checkedDocument("insertBefore into a null XML node");
    const auto lock = doc->lockForWriting();
    KR_ASSERT(!reference.isNull() && reference.m_node->parent == m_node, "the reference must be a child of this element");
    linkChild(*doc, child, reference.m_node);
}

void KRXMLNode::linkChild(KRXMLDocumentPrivate &doc, const KRXMLNode &child, xmlNodePtr before)
{
    KR_ASSERT(m_node->type == XML_ELEMENT_NODE, "only elements have children");
    KR_ASSERT(!child.isNull() && doc.owns(child),
              "the child must be a node of the same document (import it first)");
    KR_ASSERT(isChildKind(child.m_node->type), "attributes cannot become children");
    KR_ASSERT(!child.isAncestorOf(*this), "a node cannot become its own descendant");
    xmlNodePtr node = child.m_node;
    if (before == node)
        return; // already there
    const bool wasRoot = node->parent && node->parent->type == XML_DOCUMENT_NODE;
    KR_ASSERT(!wasRoot, "detach the root element before moving it");
    if (node->parent)
        xmlUnlinkNode(node);
    doc.didAttach(node);
    KRXMLDocumentPrivate::link(m_node, node, before);
}

void KRXMLNode::removeChildAtIndex(int index)
{
    auto doc = checkedDocument("removeChild from a null XML node");
    const auto lock = doc->lockForWriting();
    KR_ASSERT(index >= 0 && index < childCount(), "child index out of range");
    xmlNodePtr child = m_node->children;
    for (int i = 0; i < index; ++i)
        child = child->next;
    xmlUnlinkNode(child);
    doc->adoptDetached(child);
}

void KRXMLNode::detach()
{
    auto doc = checkedDocument("detach of a null XML node");
    const auto lock = doc->lockForWriting();
    if (!m_node->parent)
        return;
    if (m_node->type == XML_ATTRIBUTE_NODE)
        forgetAttribute(reinterpret_cast<xmlAttrPtr>(m_node));
    xmlUnlinkNode(m_node);
    doc->adoptDetached(m_node); // referenced by this handle: kept
}

// --- Attributes

bool KRXMLNode::hasAttribute(const QString &name) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "attribute of a null XML node");
    return findAttribute(m_node, name) != nullptr || hasListedEmptyAttribute(m_node, name);
}

QString KRXMLNode::attribute(const QString &name) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "attribute of a null XML node");
    if (xmlAttrPtr attr = findAttribute(m_node, name))
        return xmlAttributeText(m_node, attr);
    return hasListedEmptyAttribute(m_node, name) ? QStringLiteral("") : QString();
}

QString KRXMLNode::attributeForUTF8Name(QByteArrayView name) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "attribute of a null XML node");
    if (xmlAttrPtr attr = findAttribute(m_node, name))
        return xmlAttributeText(m_node, attr);
    return KRXMLDocumentPrivate::hasPendingAttribute(m_node, name.data(), name.size()) && !name.contains('\0')
        ? QStringLiteral("")
        : QString();
}

void KRXMLNode::attributeValues(const QByteArray *names, qsizetype count, QString *values) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "attributes of a null XML node");
    if (m_node->type != XML_ELEMENT_NODE || count <= 0)
        return;
    // Attributes are mostly stored in the order of the names: the search for each starts
    // after the name found last. Once every name is found the rest of the list is left: a
    // few names asked of an object's element are mostly among its first attributes.
    qsizetype next = 0;
    qsizetype found = 0;
    // The place of the name among those asked for; -1 when not asked.
    const auto match = [&](const char *name) -> qsizetype {
        const auto length = qsizetype(std::strlen(name));
        for (qsizetype tried = 0, i = next; tried < count; ++tried, i = i + 1 < count ? i + 1 : 0) {
            const QByteArray &candidate = names[i];
            if (candidate.size() == length && std::memcmp(candidate.constData(), name, size_t(length)) == 0) {
                ++found;
                next = i + 1 < count ? i + 1 : 0;
                return i;
            }
        }
        return -1;
    };
    QByteArray qualified;
    for (xmlAttrPtr attr = m_node->properties; attr && found < count; attr = attr->next) {
        const char *name = reinterpret_cast<const char *>(attr->name);
        if (!name)
            continue;
        if (attr->ns && attr->ns->prefix) {
            qualified = QByteArray(reinterpret_cast<const char *>(attr->ns->prefix)) + ':' + name;
            name = qualified.constData();
        }
        if (const qsizetype i = match(name); i >= 0)
            values[i] = xmlAttributeText(m_node, attr);
    }
    // Then the empty attributes listed after the element's own, as if they followed them.
    if (const auto *pending = KRXMLDocumentPrivate::pendingAttributes(m_node)) {
        for (auto listed = pending->names.begin(); listed != pending->names.end() && found < count; ++listed) {
            if (const qsizetype i = match(reinterpret_cast<const char *>(*listed)); i >= 0)
                values[i] = QStringLiteral("");
        }
    }
}

void KRXMLNode::prefetchAttributes(const QList<KRXMLNode> &elements)
{
    // Following one attribute list waits for memory at every attribute; following many side
    // by side, a step in each at a time, has the waits of all of them overlap.
    constexpr qsizetype kLanes = 64;
    for (qsizetype first = 0; first < elements.size(); first += kLanes) {
        xmlAttrPtr lanes[kLanes];
        qsizetype count = 0;
        for (qsizetype i = first; i < elements.size() && count < kLanes; ++i) {
            const KRXMLNode &element = elements.at(i);
            if (!element.isNull() && element.m_node->type == XML_ELEMENT_NODE && element.m_node->properties)
                lanes[count++] = element.m_node->properties;
        }
        xmlAttrPtr starts[kLanes];
        std::copy(lanes, lanes + count, starts);
        for (bool any = count > 0; any;) {
            any = false;
            for (qsizetype lane = 0; lane < count; ++lane) {
                if (xmlAttrPtr attr = lanes[lane]) {
                    __builtin_prefetch(attr->children);
                    lanes[lane] = attr->next;
                    any = true;
                }
            }
        }
        // Then the characters of the values, their text nodes on the way by now.
        for (qsizetype lane = 0; lane < count; ++lane) {
            for (xmlAttrPtr attr = starts[lane]; attr; attr = attr->next) {
                if (const xmlNode *text = attr->children)
                    __builtin_prefetch(text->content);
            }
        }
    }
}

void KRXMLNode::setAttribute(const QString &name, const QString &value)
{
    auto doc = checkedDocument("setAttribute on a null XML node");
    KR_ASSERT(m_node->type == XML_ELEMENT_NODE, "only elements have attributes");
    if (KRXMLDocumentPrivate::pendingAttributes(m_node)) {
        // Whatever is added comes after them.
        const auto lock = doc->lockForWriting();
        doc->materializePendingAttributes(m_node);
    }
    const QByteArray text = KRXMLDocumentPrivate::xmlText(value);
    // An empty value is an attribute without a text node, as the parser makes it: objects
    // store many empty properties, and reading one then touches nothing but the attribute.
    const xmlChar *content = text.isEmpty() ? nullptr : xmlChars(text);
    if (xmlAttrPtr attr = findAttribute(m_node, name)) {
        // Replace the value in place: the attribute keeps its position (and handles). The
        // same value again leaves it as it is.
        xmlNodePtr old = attr->children;
        if (!old && !content)
            return;
        if (old && !old->next && old->type == XML_TEXT_NODE && content && old->content
            && xmlStrcmp(old->content, content) == 0)
            return;
        const auto lock = doc->lockForWriting();
        attr->children = nullptr;
        attr->last = nullptr;
        xmlFreeNodeList(old);
        if (content) {
            xmlNodePtr textNode = xmlNewDocText(m_node->doc, content);
            textNode->parent = reinterpret_cast<xmlNodePtr>(attr);
            attr->children = textNode;
            attr->last = textNode;
        }
        return;
    }
    const auto lock = doc->lockForWriting();
    xmlNewProp(m_node, xmlChars(name.toUtf8()), content);
}

void KRXMLNode::removeAttribute(const QString &name)
{
    auto doc = checkedDocument("removeAttribute on a null XML node");
    const auto lock = doc->lockForWriting();
    doc->materializePendingAttributes(m_node);
    xmlAttrPtr attr = findAttribute(m_node, name);
    if (!attr)
        return;
    forgetAttribute(attr);
    xmlUnlinkNode(reinterpret_cast<xmlNodePtr>(attr));
    doc->adoptDetached(reinterpret_cast<xmlNodePtr>(attr));
}

QStringList KRXMLNode::attributeNames() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "attributes of a null XML node");
    QStringList names;
    if (m_node->type == XML_ELEMENT_NODE) {
        for (xmlAttrPtr attr = m_node->properties; attr; attr = attr->next)
            names.append(qualifiedName(attr->name, attr->ns));
        if (const auto *pending = KRXMLDocumentPrivate::pendingAttributes(m_node)) {
            for (const unsigned char *name : pending->names)
                names.append(QString::fromUtf8(reinterpret_cast<const char *>(name)));
        }
    }
    return names;
}

void KRXMLNode::addEmptyAttribute(QByteArrayView name)
{
    auto doc = checkedDocument("addEmptyAttribute on a null XML node");
    KR_ASSERT(m_node->type == XML_ELEMENT_NODE, "only elements have attributes");
    if (findAttribute(m_node, name) || KRXMLDocumentPrivate::hasPendingAttribute(m_node, name.data(), name.size()))
        return;
    xmlDictPtr dict = m_node->doc ? m_node->doc->dict : nullptr;
    if (!dict || name.isEmpty() || name.contains('\0') || name.size() > INT_MAX) {
        // Listed names are the dictionary's: without one (or for a name no list holds) the
        // attribute goes into the tree at once.
        setAttribute(QString::fromUtf8(name), QStringLiteral(""));
        return;
    }
    const auto lock = doc->lockForWriting();
    const xmlChar *interned = xmlDictLookup(dict, reinterpret_cast<const xmlChar *>(name.data()), int(name.size()));
    KR_ASSERT(interned, "out of memory naming an XML attribute");
    doc->addPendingAttribute(m_node, interned);
}

// --- Text

QString KRXMLNode::stringValue() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "stringValue of a null XML node");
    QString value = takeXml(xmlNodeGetContent(m_node));
    if (value.isNull())
        value = QString(QLatin1String(""));
    return value;
}

void KRXMLNode::setStringValue(const QString &text)
{
    auto doc = checkedDocument("setStringValue on a null XML node");
    const auto lock = doc->lockForWriting();
    const QByteArray bytes = KRXMLDocumentPrivate::xmlText(text);
    switch (m_node->type) {
    case XML_ELEMENT_NODE: {
        while (xmlNodePtr child = m_node->children) {
            xmlUnlinkNode(child);
            doc->adoptDetached(child);
        }
        if (!bytes.isEmpty()) {
            xmlNodePtr textNode = xmlNewDocTextLen(m_node->doc, xmlChars(bytes), static_cast<int>(bytes.size()));
            KRXMLDocumentPrivate::link(m_node, textNode, nullptr);
        }
        break;
    }
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        xmlNodeSetContentLen(m_node, xmlChars(bytes), static_cast<int>(bytes.size()));
        break;
    case XML_ATTRIBUTE_NODE: {
        xmlNodePtr owner = m_node->parent;
        if (owner) {
            KRXMLNode(*doc, owner).setAttribute(name(), text);
        } else {
            xmlNodePtr old = m_node->children;
            m_node->children = m_node->last = nullptr;
            xmlFreeNodeList(old);
            xmlNodePtr textNode = xmlNewDocText(m_node->doc, xmlChars(bytes));
            textNode->parent = m_node;
            m_node->children = m_node->last = textNode;
        }
        break;
    }
    default:
        KR_FATAL("setStringValue on a node without text");
    }
}

// --- Copies and text form

KRXMLNode KRXMLNode::deepCopy() const
{
    auto doc = checkedDocument("deepCopy of a null XML node");
    KR_ASSERT(m_node->type != XML_ATTRIBUTE_NODE, "attributes are copied with their element");
    xmlNodePtr copy = doc->copyIn(m_node);
    KR_ASSERT(copy, "out of memory copying an XML node");
    return doc->handleOfNew(copy);
}

QByteArray KRXMLNode::xmlData() const
{
    KRXMLDocumentPrivate::checkAlive(*this, "xmlData of a null XML node");
    if (m_node->type == XML_ATTRIBUTE_NODE) {
        xmlBufferPtr buffer = xmlBufferCreate();
        xmlAttrSerializeTxtContent(buffer, m_node->doc, reinterpret_cast<xmlAttrPtr>(m_node),
                                   m_node->children ? m_node->children->content : nullptr);
        QByteArray value(reinterpret_cast<const char *>(xmlBufferContent(buffer)), xmlBufferLength(buffer));
        xmlBufferFree(buffer);
        return name().toUtf8() + "=\"" + value + '"';
    }
    QByteArray bytes;
    const auto write = [&] {
        // No encoder: the text stays UTF-8, and the "UTF-8" argument keeps non-ASCII unescaped.
        xmlOutputBufferPtr out = xmlAllocOutputBuffer(nullptr);
        xmlNodeDumpOutput(out, m_node->doc, m_node, 0, 0, "UTF-8");
        xmlOutputBufferFlush(out);
        bytes = QByteArray(reinterpret_cast<const char *>(xmlOutputBufferGetContent(out)),
                           static_cast<qsizetype>(xmlOutputBufferGetSize(out)));
        xmlOutputBufferClose(out);
    };
    const std::shared_ptr<KRXMLDocumentPrivate> doc = m_slot->lockDocument(m_generation);
    if (!doc || !doc->hasPendingAttributes()) {
        write();
        return bytes;
    }
    const auto lock = doc->lockForWriting();
    doc->withPendingAttributesLinked(m_node, write);
    return bytes;
}

// --- XPath and element helpers

QList<KRXMLNode> KRXMLNode::nodesForXPath(const QString &xpath) const
{
    auto doc = checkedDocument("XPath on a null XML node");
    return doc->evaluateXPath(m_node, xpath);
}

KRXMLNode KRXMLNode::firstElementForXPath(const QString &xpath) const
{
    const QList<KRXMLNode> nodes = nodesForXPath(xpath);
    return nodes.isEmpty() ? KRXMLNode() : nodes.first();
}

KRXMLNode KRXMLNode::firstElementForName(const QString &name) const
{
    KRXMLDocumentPrivate::checkAlive(*this, "firstElementForName on a null XML node");
    if (m_node->type != XML_ELEMENT_NODE)
        return {};
    const QByteArray utf8 = name.toUtf8();
    for (xmlNodePtr child = m_node->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && nameMatches(child->name, child->ns, utf8))
            return handleOf(child);
    }
    return {};
}

KRXMLNode KRXMLNode::firstElementForName(const QString &name, bool createIfNeeded)
{
    KRXMLNode found = std::as_const(*this).firstElementForName(name);
    if (found || !createIfNeeded)
        return found;
    KRXMLNode element = document().createElement(name);
    appendChild(element);
    return element;
}

std::int64_t KRXMLNode::integerValueForAttribute(const QString &name) const
{
    if (!hasAttribute(name))
        return std::numeric_limits<std::int64_t>::max();
    const QString text = attribute(name);
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    // Accumulate negatively so that INT64_MIN is reachable; saturate on overflow.
    constexpr std::int64_t minimum = std::numeric_limits<std::int64_t>::min();
    std::int64_t value = 0;
    bool overflow = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            break;
        const int digit = c - u'0';
        if (value < (minimum + digit) / 10) {
            overflow = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (overflow)
        return negative ? minimum : std::numeric_limits<std::int64_t>::max();
    if (negative)
        return value;
    return value == minimum ? std::numeric_limits<std::int64_t>::max() : -value;
}

QString KRXMLNode::stringValueOfFirstElementForName(const QString &name) const
{
    const KRXMLNode element = firstElementForName(name);
    return element ? element.stringValue() : QString();
}

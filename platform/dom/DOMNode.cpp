#include "DOMNode.h"

#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMMutationListener.h>
#include <platform/dom/DOMText.h>

#include <algorithm>
#include <unordered_map>

namespace {

// The children of one node as a doubly linked chain, so that a batch moves, adds and takes
// out children in constant time each; the node's list is rebuilt from it once.
class ChildChain
{
public:
    static constexpr std::size_t none = std::size_t(-1);

    explicit ChildChain(const DOMNode::NodeList &children)
    {
        m_links.reserve(children.size());
        m_index.reserve(children.size());
        for (const auto &child : children)
            linkBefore(add(child), none);
    }

    // The child's entry; none when it is not in the chain.
    std::size_t find(const DOMNode *node) const
    {
        const auto found = m_index.find(node);
        return found == m_index.end() || !m_links[found->second].linked ? none : found->second;
    }
    std::size_t add(const std::shared_ptr<DOMNode> &node)
    {
        const auto found = m_index.find(node.get());
        if (found != m_index.end())
            return found->second;
        m_links.push_back({node});
        m_index.emplace(node.get(), m_links.size() - 1);
        return m_links.size() - 1;
    }
    const std::shared_ptr<DOMNode> &node(std::size_t i) const { return m_links[i].node; }
    std::size_t next(std::size_t i) const { return m_links[i].next; }
    std::size_t previous(std::size_t i) const { return m_links[i].previous; }
    std::size_t first() const { return m_first; }

    void unlink(std::size_t i)
    {
        Link &link = m_links[i];
        (link.previous == none ? m_first : m_links[link.previous].next) = link.next;
        (link.next == none ? m_last : m_links[link.next].previous) = link.previous;
        link.previous = link.next = none;
        link.linked = false;
    }
    // Links entry i (not linked) before entry `before` (none: at the end).
    void linkBefore(std::size_t i, std::size_t before)
    {
        Link &link = m_links[i];
        link.next = before;
        link.previous = before == none ? m_last : m_links[before].previous;
        (link.previous == none ? m_first : m_links[link.previous].next) = i;
        (before == none ? m_last : m_links[before].previous) = i;
        link.linked = true;
    }

    DOMNode::NodeList order() const
    {
        DOMNode::NodeList out;
        out.reserve(m_links.size());
        for (std::size_t i = m_first; i != none; i = m_links[i].next)
            out.push_back(m_links[i].node);
        return out;
    }

private:
    struct Link
    {
        std::shared_ptr<DOMNode> node;
        std::size_t previous = none;
        std::size_t next = none;
        bool linked = false;
    };
    std::vector<Link> m_links;
    std::unordered_map<const DOMNode *, std::size_t> m_index;
    std::size_t m_first = none;
    std::size_t m_last = none;
};

} // namespace

DOMNode::DOMNode(NodeType type, DOMDocument *document)
    : m_type(type)
    , m_document(document)
{
    if (document)
        m_id = document->registerNode(this);
}

DOMNode::~DOMNode()
{
    for (const auto &child : m_children)
        child->m_parent = nullptr;
    if (m_document && m_document != this)
        m_document->unregisterNode(m_id);
}

std::shared_ptr<DOMDocument> DOMNode::ownerDocument() const
{
    if (!m_document || m_document == this)
        return nullptr;
    return std::static_pointer_cast<DOMDocument>(m_document->shared_from_this());
}

std::shared_ptr<DOMNode> DOMNode::parentNode() const
{
    return m_parent ? m_parent->shared_from_this() : nullptr;
}

std::shared_ptr<DOMElement> DOMNode::parentElement() const
{
    return m_parent && m_parent->isElement() ? std::static_pointer_cast<DOMElement>(m_parent->shared_from_this())
                                             : nullptr;
}

std::shared_ptr<DOMNode> DOMNode::firstChild() const
{
    return m_children.empty() ? nullptr : m_children.front();
}

std::shared_ptr<DOMNode> DOMNode::lastChild() const
{
    return m_children.empty() ? nullptr : m_children.back();
}

int DOMNode::indexInParent() const
{
    if (!m_parent)
        return -1;
    const auto &siblings = m_parent->m_children;
    for (std::size_t i = 0; i < siblings.size(); ++i)
        if (siblings[i].get() == this)
            return int(i);
    return -1;
}

std::shared_ptr<DOMNode> DOMNode::previousSibling() const
{
    const int i = indexInParent();
    return i > 0 ? m_parent->m_children[std::size_t(i - 1)] : nullptr;
}

std::shared_ptr<DOMNode> DOMNode::nextSibling() const
{
    const int i = indexInParent();
    return i >= 0 && std::size_t(i + 1) < m_parent->m_children.size() ? m_parent->m_children[std::size_t(i + 1)] : nullptr;
}

bool DOMNode::isConnected() const
{
    const DOMNode *n = this;
    while (n->m_parent)
        n = n->m_parent;
    return n->m_type == NodeType::Document;
}

bool DOMNode::contains(const DOMNode *other) const
{
    for (const DOMNode *n = other; n; n = n->m_parent)
        if (n == this)
            return true;
    return false;
}

bool DOMNode::canInsert(const std::shared_ptr<DOMNode> &child) const
{
    if (!child || child->m_type == NodeType::Document)
        return false;
    if (m_type != NodeType::Element && m_type != NodeType::Document)
        return false;
    return !child->contains(this);
}

void DOMNode::setDocumentRecursively(DOMDocument *document)
{
    if (m_document)
        m_document->unregisterNode(m_id);
    m_document = document;
    m_id = document ? document->registerNode(this) : 0;
    for (const auto &child : m_children)
        child->setDocumentRecursively(document);
}

void DOMNode::insertAt(const std::shared_ptr<DOMNode> &child, std::size_t position)
{
    if (child->m_parent == this && position >= m_children.size() && m_children.back() == child
        && !(m_document && m_document->reports(this))) {
        // Appended again where it already is, with nobody to tell: nothing moves, and the
        // node hears of its children changing as after taking the child out and back in.
        childrenChanged();
        return;
    }
    std::shared_ptr<DOMNode> keep = child; // the old parent may hold the last reference
    if (child->m_parent) {
        DOMNode *oldParent = child->m_parent;
        if (oldParent == this) {
            const int old = child->indexInParent();
            if (std::size_t(old) < position)
                --position;
        }
        oldParent->removeChild(child);
    }
    if (child->m_document != m_document && m_document)
        child->setDocumentRecursively(m_document);
    position = std::min(position, m_children.size());
    m_children.insert(m_children.begin() + std::ptrdiff_t(position), child);
    child->m_parent = this;
    childrenChanged();
    if (m_document && m_document->reports(this))
        m_document->notify(childInserted(child, position + 1 < m_children.size() ? m_children[position + 1]->m_id : 0));
}

DOMMutation DOMNode::childInserted(const std::shared_ptr<DOMNode> &child, std::uint64_t before) const
{
    DOMMutation m{DOMMutation::Type::ChildInserted};
    m.target = m_id;
    m.node = child->m_id;
    m.before = before;
    m.insertedNode = child;
    return m;
}

DOMMutation DOMNode::childRemoved(const DOMNode &child) const
{
    DOMMutation m{DOMMutation::Type::ChildRemoved};
    m.target = m_id;
    m.node = child.m_id;
    return m;
}

std::shared_ptr<DOMNode> DOMNode::appendChild(const std::shared_ptr<DOMNode> &child)
{
    if (!canInsert(child))
        return nullptr;
    insertAt(child, m_children.size());
    return child;
}

std::shared_ptr<DOMNode> DOMNode::insertBefore(const std::shared_ptr<DOMNode> &child, const std::shared_ptr<DOMNode> &reference)
{
    if (!reference)
        return appendChild(child);
    if (!canInsert(child) || reference->m_parent != this)
        return nullptr;
    if (child == reference)
        return child;
    insertAt(child, std::size_t(reference->indexInParent()));
    return child;
}

std::shared_ptr<DOMNode> DOMNode::removeChild(const std::shared_ptr<DOMNode> &child)
{
    if (!child || child->m_parent != this)
        return nullptr;
    const bool report = m_document && m_document->reports(this);
    const auto it = std::find(m_children.begin(), m_children.end(), child);
    std::shared_ptr<DOMNode> keep = child;
    m_children.erase(it);
    child->m_parent = nullptr;
    childrenChanged();
    if (report)
        m_document->notify(childRemoved(*child));
    return keep;
}

std::shared_ptr<DOMNode> DOMNode::replaceChild(const std::shared_ptr<DOMNode> &child, const std::shared_ptr<DOMNode> &old)
{
    if (!old || old->m_parent != this || !canInsert(child))
        return nullptr;
    if (child == old)
        return old;
    auto keep = old;
    insertBefore(child, old);
    removeChild(old);
    return keep;
}

void DOMNode::removeAllChildren()
{
    if (m_children.empty())
        return;
    if (m_document && m_document->reports(this)) {
        while (!m_children.empty())
            removeChild(m_children.back());
        return;
    }
    NodeList old;
    old.swap(m_children);
    for (const auto &child : old)
        child->m_parent = nullptr;
    childrenChanged();
}

std::vector<bool> DOMNode::placeChildren(const std::vector<ChildPlacement> &placements)
{
    std::vector<bool> made(placements.size(), false);
    const bool report = m_document && m_document->reports(this);
    std::vector<DOMMutation> reports;
    ChildChain chain(m_children);
    bool changed = false;
    for (std::size_t p = 0; p < placements.size(); ++p) {
        const ChildPlacement &placement = placements[p];
        const std::shared_ptr<DOMNode> &child = placement.child;
        if (!canInsert(child))
            continue;
        std::size_t reference = placement.reference ? chain.find(placement.reference.get()) : ChildChain::none;
        if (placement.after)
            reference = reference == ChildChain::none ? chain.first() : chain.next(reference);
        if (reference != ChildChain::none && chain.node(reference) == child)
            continue;
        made[p] = true;
        std::size_t entry = chain.find(child.get());
        if (entry != ChildChain::none && chain.next(entry) == reference && !report) {
            // Already there, with nobody to tell: nothing moves.
            changed = true;
            continue;
        }
        if (entry != ChildChain::none) {
            chain.unlink(entry);
            if (report)
                reports.push_back(childRemoved(*child));
        } else {
            if (child->m_parent) {
                // Its old parent tells of its removal at once: what this node did so far is
                // told first, in the order it happened.
                if (changed) {
                    finishBatch(chain.order(), reports);
                    reports.clear();
                    changed = false;
                }
                child->m_parent->removeChild(child);
            }
            if (child->m_document != m_document && m_document)
                child->setDocumentRecursively(m_document);
            entry = chain.add(child);
        }
        chain.linkBefore(entry, reference);
        changed = true;
        if (report)
            reports.push_back(childInserted(child, reference == ChildChain::none ? 0 : chain.node(reference)->m_id));
    }
    if (changed)
        finishBatch(chain.order(), reports);
    return made;
}

DOMNode::NodeList DOMNode::removeChildren(const NodeList &children)
{
    NodeList followers(children.size());
    const bool report = m_document && m_document->reports(this);
    std::vector<DOMMutation> reports;
    ChildChain chain(m_children);
    NodeList removed;
    for (std::size_t c = 0; c < children.size(); ++c) {
        const std::size_t entry = children[c] ? chain.find(children[c].get()) : ChildChain::none;
        if (entry == ChildChain::none)
            continue;
        if (const std::size_t next = chain.next(entry); next != ChildChain::none)
            followers[c] = chain.node(next);
        chain.unlink(entry);
        removed.push_back(children[c]);
        if (report)
            reports.push_back(childRemoved(*children[c]));
    }
    if (removed.empty())
        return followers;
    for (const auto &child : removed)
        child->m_parent = nullptr;
    finishBatch(chain.order(), reports);
    return followers;
}

void DOMNode::finishBatch(NodeList order, std::vector<DOMMutation> &reports)
{
    m_children = std::move(order);
    for (const auto &child : m_children)
        child->m_parent = this;
    childrenChanged();
    for (DOMMutation &m : reports)
        m_document->notify(std::move(m));
}

void DOMNode::appendTextContent(QString &out) const
{
    for (const auto &child : m_children) {
        if (child->m_type == NodeType::Text)
            out += child->textContent();
        else if (child->m_type == NodeType::Element)
            child->appendTextContent(out);
    }
}

QString DOMNode::textContent() const
{
    QString out;
    appendTextContent(out);
    return out;
}

void DOMNode::setTextContent(const QString &text)
{
    removeAllChildren();
    if (!text.isEmpty() && m_document)
        appendChild(m_document->createTextNode(text));
}

std::shared_ptr<DOMNode> DOMNode::cloneNode(bool deep) const
{
    std::shared_ptr<DOMNode> copy = cloneInto(m_document);
    if (deep) {
        // A copied document owns the copies of its children.
        DOMDocument *target = copy->m_type == NodeType::Document ? static_cast<DOMDocument *>(copy.get()) : m_document;
        for (const auto &child : m_children)
            copy->appendParsedChild(child->cloneTree(target));
    }
    return copy;
}

std::shared_ptr<DOMNode> DOMNode::cloneTree(DOMDocument *document) const
{
    std::shared_ptr<DOMNode> copy = cloneInto(document);
    for (const auto &child : m_children)
        copy->appendParsedChild(child->cloneTree(document));
    return copy;
}

void DOMNode::appendParsedChild(std::shared_ptr<DOMNode> child)
{
    child->m_parent = this;
    m_children.push_back(std::move(child));
}

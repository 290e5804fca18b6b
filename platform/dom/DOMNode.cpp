#include "DOMNode.h"

#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMMutationListener.h>
#include <platform/dom/DOMText.h>

#include <algorithm>

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
    if (m_document && m_document->reports(this)) {
        DOMMutation m{DOMMutation::Type::ChildInserted};
        m.target = m_id;
        m.node = child->m_id;
        m.before = position + 1 < m_children.size() ? m_children[position + 1]->m_id : 0;
        m.insertedNode = child;
        m_document->notify(std::move(m));
    }
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
    if (report) {
        DOMMutation m{DOMMutation::Type::ChildRemoved};
        m.target = m_id;
        m.node = child->m_id;
        m_document->notify(std::move(m));
    }
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

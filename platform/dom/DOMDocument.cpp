#include "DOMDocument.h"

#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMHTMLParser.h>
#include <platform/dom/DOMHTMLSerializer.h>
#include <platform/dom/DOMMutationListener.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/dom/DOMText.h>

#include <algorithm>

namespace {

std::shared_ptr<DOMNode> importInto(DOMDocument *document, const DOMNode &node, bool deep)
{
    std::shared_ptr<DOMNode> copy;
    if (node.isElement()) {
        const auto &source = static_cast<const DOMElement &>(node);
        auto element = document->createElement(source.localName());
        for (const auto &[name, value] : source.attributes())
            element->setAttribute(name, value);
        copy = element;
    } else if (node.isText()) {
        copy = document->createTextNode(node.textContent());
    } else if (node.isComment()) {
        copy = document->createComment(node.textContent());
    } else {
        return nullptr;
    }
    if (deep)
        for (const auto &child : node.childNodes())
            if (auto c = importInto(document, *child, true))
                copy->appendChild(c);
    return copy;
}

void collectByTag(const DOMNode &node, const QString &lowerName, bool all, std::vector<std::shared_ptr<DOMElement>> &out)
{
    for (const auto &child : node.childNodes()) {
        if (!child->isElement())
            continue;
        const auto element = std::static_pointer_cast<DOMElement>(child);
        if (all || element->localName() == lowerName)
            out.push_back(element);
        collectByTag(*child, lowerName, all, out);
    }
}

const DOMElement *findById(const DOMNode &node, const QString &elementId)
{
    for (const auto &child : node.childNodes()) {
        if (!child->isElement())
            continue;
        const auto *element = static_cast<const DOMElement *>(child.get());
        if (element->hasAttribute(QStringLiteral("id")) && element->getAttribute(QStringLiteral("id")) == elementId)
            return element;
        if (const DOMElement *found = findById(*child, elementId))
            return found;
    }
    return nullptr;
}

void collectSheets(DOMNode &node, std::vector<std::shared_ptr<DOMCSSStyleSheet>> &out)
{
    for (const auto &child : node.childNodes()) {
        if (!child->isElement())
            continue;
        auto *element = static_cast<DOMElement *>(child.get());
        if (element->hasTagName(QLatin1String("style"))) {
            if (auto sheet = element->sheet())
                out.push_back(std::move(sheet));
        } else {
            collectSheets(*child, out);
        }
    }
}

} // namespace

DOMDocument::DOMDocument()
    : DOMNode(NodeType::Document, nullptr)
    , m_recordingHost(std::make_unique<DOMRecordingScriptHost>())
{
    m_scriptHost = m_recordingHost.get();
    m_document = this;
    m_id = registerNode(this);
}

DOMDocument::~DOMDocument()
{
    // Nodes kept alive elsewhere must not reach back into a dead document.
    m_listeners.clear();
    removeAllChildren();
    m_nodes.remove(m_id);
    for (DOMNode *node : std::as_const(m_nodes))
        node->m_document = nullptr;
    m_nodes.clear();
}

std::shared_ptr<DOMDocument> DOMDocument::create()
{
    return std::shared_ptr<DOMDocument>(new DOMDocument());
}

std::shared_ptr<DOMDocument> DOMDocument::createHTMLDocument()
{
    // What parsing no text gives, made directly (every page made starts with one): no
    // doctype, and the html element with an empty head and body, made in that order.
    auto document = create();
    auto html = document->createElement(QStringLiteral("html"));
    document->appendChild(html);
    html->appendChild(document->createElement(QStringLiteral("head")));
    html->appendChild(document->createElement(QStringLiteral("body")));
    return document;
}

std::shared_ptr<DOMDocument> DOMDocument::parseHTML(const QString &html, const QUrl &documentURI)
{
    auto document = create();
    document->m_documentURI = documentURI;
    DOMHTMLParser::parseDocument(html, *document);
    return document;
}

QString DOMDocument::nodeName() const
{
    return QStringLiteral("#document");
}

std::shared_ptr<DOMNode> DOMDocument::cloneInto(DOMDocument *) const
{
    auto copy = create();
    copy->m_doctype = m_doctype;
    copy->m_documentURI = m_documentURI;
    return copy;
}

std::shared_ptr<DOMElement> DOMDocument::documentElement() const
{
    for (const auto &child : m_children)
        if (child->isElement())
            return std::static_pointer_cast<DOMElement>(child);
    return nullptr;
}

std::shared_ptr<DOMElement> DOMDocument::head() const
{
    return childOfDocumentElement(QLatin1String("head"));
}

std::shared_ptr<DOMElement> DOMDocument::body() const
{
    return childOfDocumentElement(QLatin1String("body"));
}

std::shared_ptr<DOMElement> DOMDocument::childOfDocumentElement(QLatin1String tagName) const
{
    const auto html = documentElement();
    if (!html)
        return nullptr;
    for (const auto &child : html->children())
        if (child->hasTagName(tagName))
            return child;
    return nullptr;
}

std::shared_ptr<DOMElement> DOMDocument::createElement(const QString &tagName)
{
    // Tags come lower-case nearly always: those are taken as they are.
    bool lower = true;
    for (const QChar c : tagName) {
        const char16_t u = c.unicode();
        if (u >= 0x80 || (u >= 'A' && u <= 'Z')) {
            lower = false;
            break;
        }
    }
    return std::make_shared<DOMElement>(this, lower ? tagName : tagName.toLower());
}

std::shared_ptr<DOMText> DOMDocument::createTextNode(const QString &data)
{
    return std::make_shared<DOMText>(this, data);
}

std::shared_ptr<DOMComment> DOMDocument::createComment(const QString &data)
{
    return std::make_shared<DOMComment>(this, data);
}

std::shared_ptr<DOMNode> DOMDocument::importNode(const DOMNode &node, bool deep)
{
    return importInto(this, node, deep);
}

std::shared_ptr<DOMNode> DOMDocument::adoptNode(const std::shared_ptr<DOMNode> &node)
{
    if (!node || node->nodeType() == NodeType::Document)
        return nullptr;
    if (DOMNode *p = node->parent())
        p->removeChild(node);
    if (node->m_document != this)
        node->setDocumentRecursively(this);
    return node;
}

std::shared_ptr<DOMElement> DOMDocument::getElementById(const QString &elementId) const
{
    if (elementId.isEmpty())
        return nullptr;
    const DOMElement *found = findById(*this, elementId);
    return found ? std::static_pointer_cast<DOMElement>(const_cast<DOMElement *>(found)->shared_from_this()) : nullptr;
}

std::vector<std::shared_ptr<DOMElement>> DOMDocument::getElementsByTagName(const QString &tagName) const
{
    std::vector<std::shared_ptr<DOMElement>> out;
    collectByTag(*this, tagName.toLower(), tagName == QLatin1String("*"), out);
    return out;
}

std::shared_ptr<DOMNode> DOMDocument::nodeForId(std::uint64_t nodeId) const
{
    DOMNode *node = m_nodes.value(nodeId);
    return node ? node->weak_from_this().lock() : nullptr;
}

std::vector<std::shared_ptr<DOMCSSStyleSheet>> DOMDocument::styleSheets() const
{
    std::vector<std::shared_ptr<DOMCSSStyleSheet>> out;
    collectSheets(const_cast<DOMDocument &>(*this), out);
    return out;
}

QUrl DOMDocument::baseURL() const
{
    for (const auto &base : getElementsByTagName(QStringLiteral("base")))
        if (base->hasAttribute(QStringLiteral("href")))
            return m_documentURI.resolved(QUrl(base->getAttribute(QStringLiteral("href"))));
    return m_documentURI;
}

QString DOMDocument::serialize() const
{
    QString out;
    DOMHTMLSerializer::serializeDocument(*this, out);
    return out;
}

void DOMDocument::addMutationListener(DOMMutationListener *listener)
{
    if (listener && std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void DOMDocument::removeMutationListener(DOMMutationListener *listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void DOMDocument::setScriptHost(DOMScriptHost *host)
{
    m_scriptHost = host ? host : m_recordingHost.get();
}

void DOMDocument::evaluateScript(const QString &script)
{
    if (!m_listeners.empty()) {
        DOMMutation m{DOMMutation::Type::ScriptEvaluated};
        m.target = m_id;
        m.value = script;
        notify(std::move(m));
    }
    m_scriptHost->evaluateScript(script);
}

std::uint64_t DOMDocument::registerNode(DOMNode *node)
{
    const std::uint64_t id = m_nextId++;
    m_nodes.insert(id, node);
    return id;
}

void DOMDocument::notify(DOMMutation &&mutation)
{
    // A listener may remove itself while notified.
    const auto listeners = m_listeners;
    for (DOMMutationListener *listener : listeners)
        listener->domDidMutate(mutation);
}

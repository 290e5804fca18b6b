#include "DOMElement.h"

#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMCompactList.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMHTMLParser.h>
#include <platform/dom/DOMHTMLSerializer.h>
#include <platform/dom/DOMMutationListener.h>

#include <QHash>

namespace {

const QString kClass = QStringLiteral("class");
const QString kStyle = QStringLiteral("style");

unsigned char flagsForTag(const QString &localName)
{
    // Asked for every element made: a short list, compared by length and first letter first.
    struct Tag
    {
        QLatin1String name;
        unsigned char flags;
    };
    static const Tag tags[] = {
        {QLatin1String("area"), 1}, {QLatin1String("base"), 1}, {QLatin1String("basefont"), 1},
        {QLatin1String("bgsound"), 1}, {QLatin1String("br"), 1}, {QLatin1String("col"), 1},
        {QLatin1String("embed"), 1}, {QLatin1String("frame"), 1}, {QLatin1String("hr"), 1},
        {QLatin1String("img"), 1}, {QLatin1String("input"), 1}, {QLatin1String("keygen"), 1},
        {QLatin1String("link"), 1}, {QLatin1String("meta"), 1}, {QLatin1String("param"), 1},
        {QLatin1String("source"), 1}, {QLatin1String("track"), 1}, {QLatin1String("wbr"), 1},
        {QLatin1String("script"), 2}, {QLatin1String("xmp"), 2}, {QLatin1String("iframe"), 2},
        {QLatin1String("noembed"), 2}, {QLatin1String("noframes"), 2}, {QLatin1String("plaintext"), 2},
        {QLatin1String("style"), 2 | 4},
    };
    if (localName.isEmpty())
        return 0;
    const QChar first = localName.front();
    for (const Tag &tag : tags) {
        if (tag.name.size() == localName.size() && QLatin1Char(tag.name.front()) == first && localName == tag.name)
            return tag.flags;
    }
    return 0;
}

// Attribute and tag names of HTML are ASCII case-insensitive and stored in lower case.
QString lowerName(const QString &name)
{
    for (QChar c : name)
        if (c.unicode() >= 'A' && c.unicode() <= 'Z')
            return name.toLower();
    return name;
}

// What a browser accepts as an attribute name; anything else would break the markup.
bool isValidName(const QString &name)
{
    if (name.isEmpty())
        return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u <= ' ' || u == '"' || u == '\'' || u == '<' || u == '>' || u == '/' || u == '=' || u == 0x7F)
            return false;
    }
    return true;
}

bool isClassSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r')
        || c == QLatin1Char('\f');
}

QStringList classWords(const QString &value)
{
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        const bool space = i == value.size() || isClassSpace(value.at(i));
        if (space && start >= 0) {
            const QString word = value.mid(start, i - start);
            if (!words.contains(word))
                words.append(word);
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return words;
}

} // namespace

DOMElement::DOMElement(DOMDocument *document, const QString &localName)
    : DOMNode(NodeType::Element, document)
    , m_localName(localName)
    , m_flags(flagsForTag(localName))
{
}

DOMElement::~DOMElement()
{
    if (m_sheet)
        m_sheet->m_owner = nullptr;
}

QString DOMElement::nodeName() const
{
    return m_localName.toUpper();
}

int DOMElement::attributeIndex(const QString &lowerName) const
{
    for (qsizetype i = 0; i < m_attributes.size(); ++i)
        if (m_attributes.at(i).first == lowerName)
            return int(i);
    return -1;
}

void DOMElement::syncStyleAttribute() const
{
    if (!m_styleAttributeStale)
        return;
    m_styleAttributeStale = false;
    const int i = attributeIndex(kStyle);
    if (i >= 0)
        m_attributes[i].second = m_style->cssText();
}

const DOMElement::AttributeList &DOMElement::attributes() const
{
    syncStyleAttribute();
    return m_attributes;
}

QString DOMElement::getAttribute(const QString &name) const
{
    const int i = attributeIndex(lowerName(name));
    if (i < 0)
        return QString();
    if (m_styleAttributeStale && m_attributes.at(i).first == kStyle)
        syncStyleAttribute();
    return m_attributes.at(i).second.isNull() ? QStringLiteral("") : m_attributes.at(i).second;
}

bool DOMElement::hasAttribute(const QString &name) const
{
    return attributeIndex(lowerName(name)) >= 0;
}

void DOMElement::setAttribute(const QString &name, const QString &value)
{
    const QString n = lowerName(name);
    // Only a name the element does not have yet is checked: every stored name passed the
    // check on its way in (here or in the parser), so rewriting one costs nothing more.
    const int i = attributeIndex(n);
    if (i < 0 && !isValidAttributeName(n))
        return;
    changeAttribute(n, i, &value);
}

bool DOMElement::isValidAttributeName(const QString &name)
{
    return isValidName(name);
}

void DOMElement::removeAttribute(const QString &name)
{
    const QString n = lowerName(name);
    const int i = attributeIndex(n);
    if (i < 0)
        return;
    changeAttribute(n, i, nullptr);
}

// Sets (value) or removes (nullptr) the attribute at index i (-1 when absent), keeps the style
// object in step and reports the change.
void DOMElement::changeAttribute(const QString &n, int i, const QString *value)
{
    const bool isClass = n == kClass;
    // The words before and after matter only to a change that is reported.
    const DOMDocument *doc = document();
    const bool reportWords = isClass && doc && doc->reports(this);
    QStringList before;
    if (reportWords)
        before = classes();
    if (n == kStyle) {
        if (m_style)
            m_style->parse(value ? *value : QString());
        m_styleAttributeStale = false;
    }
    if (!value) {
        m_attributes.remove(i);
    } else if (i >= 0) {
        m_attributes[i].second = *value;
    } else {
        reserveForOneMore(m_attributes);
        m_attributes.append({n, *value});
    }
    if (reportWords)
        reportClassChange(before, value ? classWords(*value) : QStringList());
    else if (!isClass)
        reportAttribute(n, value);
}

void DOMElement::reportAttribute(const QString &name, const QString *value)
{
    DOMDocument *doc = document();
    if (!doc || !doc->reports(this))
        return;
    DOMMutation m{value ? DOMMutation::Type::AttributeSet : DOMMutation::Type::AttributeRemoved};
    m.target = nodeId();
    m.name = name;
    if (value)
        m.value = *value;
    doc->notify(std::move(m));
}

void DOMElement::reportClassChange(const QStringList &before, const QStringList &after)
{
    DOMDocument *doc = document();
    if (!doc || !doc->reports(this))
        return;
    // Each word in `from` that `to` lacks is reported as the given change.
    const auto reportMissing = [&](const QStringList &from, const QStringList &to, DOMMutation::Type type) {
        for (const QString &word : from)
            if (!to.contains(word)) {
                DOMMutation m{type};
                m.target = nodeId();
                m.name = word;
                doc->notify(std::move(m));
            }
    };
    reportMissing(before, after, DOMMutation::Type::ClassRemoved);
    reportMissing(after, before, DOMMutation::Type::ClassAdded);
}

std::vector<std::shared_ptr<DOMElement>> DOMElement::children() const
{
    std::vector<std::shared_ptr<DOMElement>> out;
    for (const auto &child : m_children)
        if (child->isElement())
            out.push_back(std::static_pointer_cast<DOMElement>(child));
    return out;
}

static void collectElements(const DOMNode &node, const QString &lower, bool all, bool firstOnly,
                            std::vector<std::shared_ptr<DOMElement>> &out)
{
    for (const auto &child : node.childNodes()) {
        if (!child->isElement())
            continue;
        const auto element = std::static_pointer_cast<DOMElement>(child);
        if (all || element->localName() == lower) {
            out.push_back(element);
            if (firstOnly)
                return;
        }
        collectElements(*child, lower, all, firstOnly, out);
        if (firstOnly && !out.empty())
            return;
    }
}

std::vector<std::shared_ptr<DOMElement>> DOMElement::getElementsByTagName(const QString &tagName) const
{
    std::vector<std::shared_ptr<DOMElement>> out;
    collectElements(*this, tagName.toLower(), tagName == QLatin1String("*"), false, out);
    return out;
}

std::shared_ptr<DOMElement> DOMElement::firstElementByTagName(const QString &tagName) const
{
    std::vector<std::shared_ptr<DOMElement>> out;
    collectElements(*this, tagName.toLower(), tagName == QLatin1String("*"), true, out);
    return out.empty() ? nullptr : out.front();
}

QString DOMElement::innerHTML() const
{
    QString out;
    DOMHTMLSerializer::serializeChildren(*this, out);
    return out;
}

void DOMElement::setInnerHTML(const QString &html)
{
    DOMNode::NodeList nodes = DOMHTMLParser::parseFragment(html, m_localName, document());
    removeAllChildren();
    for (const auto &node : nodes)
        appendChild(node);
}

QString DOMElement::outerHTML() const
{
    QString out;
    DOMHTMLSerializer::serializeNode(*this, out);
    return out;
}

DOMCSSStyleDeclaration &DOMElement::style()
{
    if (!m_style) {
        m_style = std::make_unique<DOMCSSStyleDeclaration>(static_cast<DOMCSSStyleDeclaration::Owner *>(this));
        const int i = attributeIndex(kStyle);
        if (i >= 0)
            m_style->parse(m_attributes.at(i).second);
    }
    return *m_style;
}

void DOMElement::styleDeclarationDidChange(const QString &name, const QString &value, const QString &priority)
{
    if (attributeIndex(kStyle) < 0) {
        reserveForOneMore(m_attributes);
        m_attributes.append({kStyle, QString()});
    }
    m_styleAttributeStale = true;
    DOMDocument *doc = document();
    if (!doc || !doc->reports(this))
        return;
    if (name == QLatin1String("cssText")) {
        reportAttribute(kStyle, &value);
        return;
    }
    DOMMutation m{value.isEmpty() ? DOMMutation::Type::StyleRemoved : DOMMutation::Type::StyleSet};
    m.target = nodeId();
    m.name = name;
    m.value = value;
    m.priority = priority;
    doc->notify(std::move(m));
}

std::shared_ptr<DOMCSSStyleSheet> DOMElement::sheet()
{
    if (!(m_flags & StyleFlag))
        return nullptr;
    if (!m_sheet)
        m_sheet = std::make_shared<DOMCSSStyleSheet>(this, textContent());
    return m_sheet;
}

void DOMElement::writeRulesIntoText(int fromIndex)
{
    const auto s = sheet();
    if (!s)
        return;
    setTextContent(s->rulesText(fromIndex) + textContent());
}

void DOMElement::childrenChanged()
{
    if (m_sheet) {
        // A browser parses a style element's sheet anew when its text changes.
        m_sheet->m_owner = nullptr;
        m_sheet.reset();
    }
}

std::shared_ptr<DOMNode> DOMElement::cloneInto(DOMDocument *document) const
{
    auto copy = std::make_shared<DOMElement>(document, m_localName);
    copy->m_attributes = attributes();
    return copy;
}

void DOMElement::setOptionalAttribute(const QString &name, const QString &value)
{
    removeAttribute(name);
    if (!value.isEmpty())
        setAttribute(name, value);
}

void DOMElement::setDataAttribute(const QString &name, const QString &value)
{
    const auto isASCII = [](const QString &text) {
        for (const QChar c : text) {
            if (c.unicode() >= 0x80)
                return false;
        }
        return true;
    };
    if (value.isEmpty() && isASCII(name)) {
        // Most often nothing to remove: the attribute is looked for without making its name
        // (compared as lowerName leaves an ASCII name).
        const auto isThisAttribute = [&name](const QString &stored) {
            if (stored.size() != 5 + name.size() || !stored.startsWith(QLatin1String("data-")))
                return false;
            for (qsizetype k = 0; k < name.size(); ++k) {
                char16_t c = name.at(k).unicode();
                if (c >= 'A' && c <= 'Z')
                    c = char16_t(c - 'A' + 'a');
                if (stored.at(5 + k).unicode() != c)
                    return false;
            }
            return true;
        };
        for (const auto &attribute : std::as_const(m_attributes)) {
            if (isThisAttribute(attribute.first)) {
                removeAttribute(QStringLiteral("data-") + name);
                return;
            }
        }
        return;
    }
    setOptionalAttribute(QStringLiteral("data-") + name, value);
}

QStringList DOMElement::classes() const
{
    const int i = attributeIndex(kClass);
    return i < 0 ? QStringList() : classWords(m_attributes.at(i).second);
}

void DOMElement::writeClassWords(const QStringList &words)
{
    if (words.isEmpty())
        removeAttribute(kClass);
    else
        setAttribute(kClass, words.join(QLatin1Char(' ')));
}

void DOMElement::setClasses(const QStringList &classes)
{
    QStringList wanted;
    for (const QString &word : classes) {
        for (const QString &w : classWords(word))
            if (!wanted.contains(w))
                wanted.append(w);
    }
    QStringList result;
    for (const QString &word : this->classes())
        if (wanted.contains(word))
            result.append(word);
    for (const QString &word : std::as_const(wanted))
        if (!result.contains(word))
            result.append(word);
    writeClassWords(result);
}

void DOMElement::addClass(const QString &name)
{
    QStringList words = classes();
    bool changed = false;
    for (const QString &w : classWords(name))
        if (!words.contains(w)) {
            words.append(w);
            changed = true;
        }
    if (changed)
        writeClassWords(words);
}

void DOMElement::removeClass(const QString &name)
{
    QStringList words = classes();
    if (words.removeAll(name) > 0 || (words.isEmpty() && hasAttribute(kClass)))
        writeClassWords(words);
}

void DOMElement::removeClassWithPrefix(const QString &prefix)
{
    if (prefix.isEmpty())
        return;
    QStringList words = classes();
    const auto removed = words.removeIf([&prefix](const QString &w) { return w.startsWith(prefix); });
    if (removed > 0 || (words.isEmpty() && hasAttribute(kClass)))
        writeClassWords(words);
}

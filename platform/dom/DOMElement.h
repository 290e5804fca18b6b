#pragma once

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMNode.h>

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class DOMCSSStyleSheet;

// An HTML element: tag, attributes in their order, children, inline style, and for a style
// element its sheet. Attribute names are stored in lower case.
class DOMElement : public DOMNode, private DOMCSSStyleDeclaration::Owner
{
public:
    using Attribute = QPair<QString, QString>;
    // On the heap, sized to what the element has: an element mostly has a few, some none, and
    // room kept inside every element for several cost a project's pages more than the
    // attributes themselves.
    using AttributeList = QList<Attribute>;

    DOMElement(DOMDocument *document, const QString &localName);
    ~DOMElement() override;

    // Upper case, as a browser reports it for HTML ("DIV").
    QString nodeName() const override;
    QString tagName() const { return nodeName(); }
    // Lower case ("div").
    const QString &localName() const { return m_localName; }
    bool hasTagName(QLatin1String lowerCaseName) const { return m_localName == lowerCaseName; }

    const AttributeList &attributes() const;
    // A null string when the attribute is absent (an empty one when it is present and empty).
    QString getAttribute(const QString &name) const;
    bool hasAttribute(const QString &name) const;
    // A name a browser refuses (empty, or with blanks, quotes, "<", ">", "/" or "=") changes nothing.
    void setAttribute(const QString &name, const QString &value);
    // That check, which the parser applies too: markup never carries a name that breaks it.
    static bool isValidAttributeName(const QString &name);
    void removeAttribute(const QString &name);

    QString id() const { return getAttribute(QStringLiteral("id")); }
    QString className() const { return getAttribute(QStringLiteral("class")); }

    // Child elements only, in order.
    std::vector<std::shared_ptr<DOMElement>> children() const;
    // Descendant elements in tree order whose tag matches (case-insensitive); "*" matches all.
    std::vector<std::shared_ptr<DOMElement>> getElementsByTagName(const QString &tagName) const;
    // The first descendant element with that tag, or null.
    std::shared_ptr<DOMElement> firstElementByTagName(const QString &tagName) const;

    QString innerHTML() const;
    // Replaces the children by the fragment parsed in this element's context (table parts
    // inside tables, raw text inside script and style, ...).
    void setInnerHTML(const QString &html);
    QString outerHTML() const;

    // The inline style; its changes keep the "style" attribute in step and vice versa.
    DOMCSSStyleDeclaration &style();

    // For a style element, its sheet (parsed from its text when first asked for, and again
    // after its text changed); null for other elements.
    std::shared_ptr<DOMCSSStyleSheet> sheet();
    // The sheet when it has been parsed; null before, and after the text changed.
    std::shared_ptr<DOMCSSStyleSheet> sheetIfParsed() const { return m_sheet; }
    // For a style element: puts the text of the sheet's rules from `fromIndex` on in front of
    // the element's text, for output pages whose rules were added after the text was set.
    // The sheet is parsed anew from the resulting text.
    void writeRulesIntoText(int fromIndex);

    // Removes the attribute, then sets it only for a non-empty value.
    void setOptionalAttribute(const QString &name, const QString &value);
    // setOptionalAttribute of "data-<name>".
    void setDataAttribute(const QString &name, const QString &value);
    // The words of the "class" attribute, in order, without empty words or repeats.
    QStringList classes() const;
    // Writes the words (without empty ones and repeats), keeping the order of the words that
    // were there already and appending new ones; no word removes the attribute.
    void setClasses(const QStringList &classes);
    void addClass(const QString &name);
    void removeClass(const QString &name);
    // Removes every word that starts with `prefix`; an empty prefix removes nothing.
    void removeClassWithPrefix(const QString &prefix);

    // Serialisation helpers (see DOMHTMLSerializer).
    bool isVoidElement() const { return m_flags & VoidFlag; }
    bool isRawTextElement() const { return m_flags & RawTextFlag; }

protected:
    std::shared_ptr<DOMNode> cloneInto(DOMDocument *document) const override;
    void childrenChanged() override;

private:
    friend class DOMHTMLParser;
    friend class DOMDocument;

    enum Flags : unsigned char { VoidFlag = 1, RawTextFlag = 2, StyleFlag = 4 };

    void styleDeclarationDidChange(const QString &name, const QString &value, const QString &priority) override;
    int attributeIndex(const QString &lowerName) const;
    void syncStyleAttribute() const;
    void writeClassWords(const QStringList &words);
    void changeAttribute(const QString &n, int i, const QString *value);
    void reportAttribute(const QString &name, const QString *value);
    void reportClassChange(const QStringList &before, const QStringList &after);

    QString m_localName;
    mutable AttributeList m_attributes;
    std::unique_ptr<DOMCSSStyleDeclaration> m_style;
    std::shared_ptr<DOMCSSStyleSheet> m_sheet;
    mutable bool m_styleAttributeStale = false; // the declaration changed after the attribute text
    unsigned char m_flags = 0;
};

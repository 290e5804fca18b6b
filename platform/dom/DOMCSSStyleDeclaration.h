#pragma once

#include <platform/dom/DOMCSSProperties.h>

#include <QList>
#include <QString>

// An ordered list of CSS declarations (name, value, priority) with a browser's shorthand rules:
// setting a shorthand sets each of its longhands (in place when present, else appended),
// reading a shorthand rebuilds it when all its longhands are there with one priority,
// removing a shorthand removes its longhands, and cssText writes complete shorthands.
// Only longhands are stored. The declaration of an element's inline style keeps the
// element's "style" attribute in step; that of a rule belongs to its rule.
class DOMCSSStyleDeclaration
{
public:
    struct Property {
        QString name;
        QString value;
        bool important = false;
        // What the property tables know of the name (null for a name they do not know).
        const DOMCSSProperties::Known *known = nullptr;
    };

    // Who is told about changes made through the public setters (parsing tells nobody).
    class Owner
    {
    public:
        // `value` is empty for a removal; `name` is the name the caller used.
        virtual void styleDeclarationDidChange(const QString &name, const QString &value, const QString &priority) = 0;

    protected:
        ~Owner() = default;
    };

    explicit DOMCSSStyleDeclaration(Owner *owner = nullptr) : m_owner(owner) {}
    DOMCSSStyleDeclaration(const DOMCSSStyleDeclaration &) = delete;
    DOMCSSStyleDeclaration &operator=(const DOMCSSStyleDeclaration &) = delete;

    int length() const { return int(m_properties.size()); }
    bool isEmpty() const { return m_properties.empty(); }
    // The name of the stored longhand at `index`; empty outside the list.
    QString item(int index) const;
    // On the heap, sized to what the declaration holds once parsed (an element's inline
    // style mostly has a few properties).
    using PropertyList = QList<Property>;
    const PropertyList &properties() const { return m_properties; }

    // Empty when the property is not set (or a shorthand cannot be written from its longhands).
    QString getPropertyValue(const QString &name) const;
    // "important" or empty.
    QString getPropertyPriority(const QString &name) const;
    // An empty value removes the property. A value the property rejects, or a priority other
    // than "important" or empty, changes nothing and gives false.
    bool setProperty(const QString &name, const QString &value, const QString &priority = QString());
    // Returns the value the property had.
    QString removeProperty(const QString &name);

    // "name: value; name2: value2 !important;" with shorthands where complete; empty when empty.
    QString cssText() const;
    // Replaces all declarations by those parsed from `text` (invalid ones are skipped) and tells
    // the owner once, with the name "cssText".
    void setCssText(const QString &text);

    // Replaces the declarations by those of `text` without telling the owner.
    void parse(const QString &text);

private:
    friend class DOMElement;

    int indexOf(const QString &canonicalName, const DOMCSSProperties::Known *known) const;
    QString shorthandValue(const DOMCSSProperties::Known &shorthand) const;
    bool apply(const QString &canonicalName, const DOMCSSProperties::Known *known, const QString &value, bool important);
    // Sets the property, added at the end when missing; returns its place. A known property is
    // looked for at `hint` first (a shorthand's longhands stay side by side).
    int store(const QString &canonicalName, const DOMCSSProperties::Known *known, const QString &value, bool important,
              int hint = -1);
    bool removeCanonical(const QString &canonicalName, const DOMCSSProperties::Known *known);
    void tell(const QString &name, const QString &value, const QString &priority);

    PropertyList m_properties;
    Owner *m_owner; // not owned; the owner owns this declaration
};

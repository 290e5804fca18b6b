#pragma once

#include <core/KRXMLNode.h>

#include <QString>

// The record of one legacy theme element (a "KRProjectTheme" child of "KRThemes" in older
// project files): its name and CSS text, written through to the element. Projects convert
// such elements into stylesheet files when they open; nothing creates these records today.
class KRProjectTheme
{
public:
    // Takes the name from the element's "name" attribute and the CSS from its text.
    explicit KRProjectTheme(const KRXMLNode &element);

    QString name() const { return m_name; }
    // Stores the name and writes it into the element's "name" attribute when it has one.
    void setName(const QString &name);
    QString css() const { return m_css; }
    // Stores the text, writes it as the element's text and forgets the cached file name.
    void setCss(const QString &css);
    KRXMLNode themeElement() const { return m_element; }
    void setThemeElement(const KRXMLNode &element) { m_element = element; }

    // The MD5 digest of the CSS text's UTF-8 bytes followed by ".css"; cached.
    QString filename() const;
    // Nothing to do: the record owns no file.
    void deleteTheme() {}

private:
    KRXMLNode m_element;
    QString m_name;
    QString m_css;
    mutable QString m_filename;
};

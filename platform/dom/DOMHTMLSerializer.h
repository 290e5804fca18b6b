#pragma once

#include <QString>

class DOMDocument;
class DOMNode;

// HTML serialisation by the HTML5 rules: void elements without end tags, script and style
// text unescaped, "&", nbsp, "<" and ">" escaped in text, "&", nbsp and '"' in attribute
// values (always double-quoted), comments as "<!--data-->".
class DOMHTMLSerializer
{
public:
    static void serializeNode(const DOMNode &node, QString &out);
    static void serializeChildren(const DOMNode &node, QString &out);
    // "<!DOCTYPE name>" when the document has a doctype, then its children.
    static void serializeDocument(const DOMDocument &document, QString &out);

    static void appendEscapedText(const QString &text, QString &out);
    static void appendEscapedAttribute(const QString &value, QString &out);
};

#pragma once

#include <platform/dom/DOMElement.h>

#include <QString>

// jQuery Mobile writes the values of its data attributes (a button's icon, theme and icon
// place, a list's search placeholder) into markup it builds itself, between quotes. Such a
// value is written escaped as content is, so that it stays data there: the text it was, never
// an element or an attribute of its own. A plain value ("arrow-r", "b") is written as it is.
inline QString jqmMarkupText(const QString &value)
{
    QString escaped = value.toHtmlEscaped();
    escaped.replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return escaped;
}

inline void jqmSetDataAttribute(DOMElement &element, const QString &name, const QString &value)
{
    element.setDataAttribute(name, jqmMarkupText(value));
}

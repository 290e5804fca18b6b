#include "KRProjectTheme.h"

#include <core/KRDataExtensions.h>

KRProjectTheme::KRProjectTheme(const KRXMLNode &element)
    : m_element(element), m_name(element.attribute(QStringLiteral("name"))), m_css(element.stringValue())
{
}

void KRProjectTheme::setName(const QString &name)
{
    m_name = name;
    if (m_element && m_element.hasAttribute(QStringLiteral("name")))
        m_element.setAttribute(QStringLiteral("name"), name);
}

void KRProjectTheme::setCss(const QString &css)
{
    m_filename.clear();
    m_css = css;
    if (m_element)
        m_element.setStringValue(css);
}

QString KRProjectTheme::filename() const
{
    if (m_filename.isEmpty())
        m_filename = KRData::MD5String(m_css.toUtf8()) + QStringLiteral(".css");
    return m_filename;
}

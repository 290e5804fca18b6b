#include "KRPropertyDescriptor.h"

KRPropertyDescriptor::KRPropertyDescriptor(const QString &propertyName, const QString &htmlAttributeName,
                                           const QString &cssAttributeName, std::uint32_t adapterOptions)
    : m_htmlAttributeName(htmlAttributeName), m_cssAttributeName(cssAttributeName),
      m_adapterOptions(adapterOptions)
{
    setPropertyName(propertyName);
}

void KRPropertyDescriptor::setPropertyName(const QString &name)
{
    m_propertyName = name;
    m_krPropertyName = QStringLiteral("kr_%1").arg(name);
    m_propertyNameUTF8 = name.toUtf8();
    m_nameKind = name == QLatin1String("id")                                        ? NameKind::ID
        : name == QLatin1String("width") || name == QLatin1String("height") ? NameKind::Size
                                                                                    : NameKind::Other;
}

#include "KRPropertyDescriptor.h"

#include <platform/foundation/KRLastingString.h>

KRPropertyDescriptor::KRPropertyDescriptor(const QString &propertyName, const QString &htmlAttributeName,
                                           const QString &cssAttributeName, std::uint32_t adapterOptions)
    : m_htmlAttributeName(KRLastingString::of(htmlAttributeName)), m_cssAttributeName(KRLastingString::of(cssAttributeName)),
      m_adapterOptions(adapterOptions)
{
    setPropertyName(propertyName);
}

void KRPropertyDescriptor::setPropertyName(const QString &name)
{
    // Every object of every page copies these names: they count no references (see
    // KRLastingString).
    m_propertyName = KRLastingString::of(name);
    m_krPropertyName = KRLastingString::of(QStringLiteral("kr_%1").arg(name));
    m_propertyNameUTF8 = KRLastingString::of(name.toUtf8());
    m_nameKind = name == QLatin1String("id")                                        ? NameKind::ID
        : name == QLatin1String("width") || name == QLatin1String("height") ? NameKind::Size
                                                                                    : NameKind::Other;
}

void KRPropertyDescriptor::setHtmlAttributeName(const QString &name)
{
    m_htmlAttributeName = KRLastingString::of(name);
}

void KRPropertyDescriptor::setCssAttributeName(const QString &name)
{
    m_cssAttributeName = KRLastingString::of(name);
}

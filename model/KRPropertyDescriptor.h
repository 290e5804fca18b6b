#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>

// The option bits of a property descriptor: how a property is stored in project.xml, written
// into the design document and turned into a JavaScript initialiser. Bits not listed have no
// effect.
enum KRAdapterOption : std::uint32_t {
    KRAdapterOptionCSSPixels = 0x1,
    KRAdapterOptionDisplayBoolean = 0x2,
    KRAdapterOptionParentStyle = 0x4,
    KRAdapterOptionHTMLContent = 0x8,
    KRAdapterOptionXMLText = 0x10,
    KRAdapterOptionDOMText = 0x20,
    KRAdapterOptionJSString = 0x40,
    KRAdapterOptionJSNumber = 0x80,
    KRAdapterOptionJSBoolean = 0x100,
    KRAdapterOptionJSRaw = 0x200,
    KRAdapterOptionLowercase = 0x400,
    KRAdapterOptionNoDesignDOM = 0x800,
    KRAdapterOptionOptionList = 0x1000,
    KRAdapterOptionLinearGradient = 0x2000,
    KRAdapterOptionXMLChildElement = 0x4000,
    KRAdapterOptionRefreshOptions = 0x8000,
    KRAdapterOptionDefaultToID = 0x10000,
    KRAdapterOptionCSSURL = 0x20000,
    KRAdapterOptionPluginProperty = 0x40000,
    KRAdapterOptionUpdateDesignView = 0x80000,
    KRAdapterOptionBooleanAttribute = 0x100000,
    KRAdapterOptionCSSImportant = 0x200000,
    KRAdapterOptionJSCustom = 0x400000,
    KRAdapterOptionFunctionReference = 0x800000,
    KRAdapterOptionJSONValue = 0x1000000, // JSON text read as a tree (item lists)
    KRAdapterOptionPerDevice = 0x2000000,
    KRAdapterOptionEvent = 0x4000000,
    KRAdapterOptionPagePrefixedID = 0x8000000,
    KRAdapterOptionCheckSize = 0x10000000,
    KRAdapterOptionPageDiv = 0x20000000,
};

// One property of a page-object class: its name (also the XML attribute or child element
// that stores it), the HTML attribute or CSS property it is written to in the design
// document, and its option bits. Tables of descriptors are built once per class and shared.
class KRPropertyDescriptor
{
public:
    KRPropertyDescriptor() = default;
    KRPropertyDescriptor(const QString &propertyName, const QString &htmlAttributeName,
                         const QString &cssAttributeName, std::uint32_t adapterOptions);

    const QString &propertyName() const { return m_propertyName; }
    // "kr_" + propertyName: the object's key and the key of its adapter.
    const QString &kr_propertyName() const { return m_krPropertyName; }
    // The property name in UTF-8, as the XML attribute is looked up by.
    const QByteArray &propertyNameUTF8() const { return m_propertyNameUTF8; }
    const QString &htmlAttributeName() const { return m_htmlAttributeName; }
    const QString &cssAttributeName() const { return m_cssAttributeName; }
    std::uint32_t adapterOptions() const { return m_adapterOptions; }
    bool hasOption(KRAdapterOption option) const { return (m_adapterOptions & option) != 0; }
    // The object's id ("id"), and the sizes ("width", "height"), which some writers treat apart.
    bool isIDProperty() const { return m_nameKind == NameKind::ID; }
    bool isSizeProperty() const { return m_nameKind == NameKind::Size; }

    void setPropertyName(const QString &name);
    void setHtmlAttributeName(const QString &name);
    void setCssAttributeName(const QString &name);
    void setAdapterOptions(std::uint32_t options) { m_adapterOptions = options; }

private:
    QString m_propertyName;
    QString m_krPropertyName;
    QByteArray m_propertyNameUTF8;
    QString m_htmlAttributeName; // null: none
    QString m_cssAttributeName;  // null: none
    std::uint32_t m_adapterOptions = 0;
    enum class NameKind : std::uint8_t { Other, ID, Size };
    NameKind m_nameKind = NameKind::Other;
};

// Equality of two names, answered without comparing characters when both share one text
// (as the names copied from one descriptor table do), and otherwise by comparing them in
// place: names are short, and the general comparison's call costs more than the check.
inline bool krSameString(const QString &a, const QString &b)
{
    return a.size() == b.size()
        && (a.constData() == b.constData()
            || std::memcmp(a.constData(), b.constData(), std::size_t(a.size()) * sizeof(QChar)) == 0);
}

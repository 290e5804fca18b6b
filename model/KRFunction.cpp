#include "KRFunction.h"

#include <core/KRJavaScript.h>

#include <model/KRPageBase.h>
#include <platform/foundation/KRNotificationCenter.h>

KRObjectClass KRFunction::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRFunction");
    c.superclassName = QStringLiteral("KRObject");
    c.idBase = QStringLiteral("function");
    c.descriptors = {
        KRPropertyDescriptor(QStringLiteral("source"), QString(), QString(),
                             KRAdapterOptionXMLText | KRAdapterOptionDOMText),
        KRPropertyDescriptor(QStringLiteral("serverFunction"), QString(), QString(), 0),
        KRPropertyDescriptor(QStringLiteral("arguments"), QString(), QString(), 0),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRFunction>(init); };
    return c;
}

void KRFunction::initializeDefaultProperties()
{
    KRObject::initializeDefaultProperties();
    setValue(QStringLiteral("kr_source"), QStringLiteral("\n\t// Your code here\n"));
    setValue(QStringLiteral("kr_serverFunction"), QStringLiteral("No"));
}

void KRFunction::setValue(const QString &key, const QString &newValue)
{
    const QString oldID = kr_id();
    KRObject::setValue(key, newValue);
    // Setting the id while loading renames nothing.
    if (key == QLatin1String("kr_id") && !oldID.isNull() && oldID != newValue) {
        const auto p = owningPage();
        KRNotificationCenter::defaultCenter().post(
            KRPageFunctionDidChangeIDNotification, p ? p->identity() : nullptr,
            {{QStringLiteral("oldID"), oldID}, {QStringLiteral("newID"), newValue}});
    }
}

QString KRFunction::functionSource() const
{
    const auto p = page();
    const QString arguments = kr_arguments();
    // Loading gives every page and function an identifier; anything else is quoted, never
    // pasted into the code as it is.
    const auto member = [](const QString &name) {
        return KRJavaScript::isValidIdentifier(name) ? QLatin1Char('.') + name
                                                     : QLatin1Char('[') + KRJavaScript::quotedString(name) + QLatin1Char(']');
    };
    return QStringLiteral("application._pages%1._events%2 = function(%3) {\n%4\n};\n")
        .arg(member(p ? p->kr_id() : QString()), member(kr_id()), arguments.isNull() ? QString() : arguments, kr_source());
}

QVariantMap KRFunction::syntaxErrorForLineNumber(int line) const
{
    for (const QVariantMap &error : m_syntaxErrors) {
        if (error.value(QStringLiteral("line")).toString().trimmed().toInt() == line)
            return error;
    }
    return {};
}

#include "KRFunction.h"

#include <core/KRJavaScript.h>

#include <model/KRObjectInfo.h>
#include <model/KRPageBase.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <algorithm>

std::shared_ptr<KRFunction> KRFunction::deletedBy(const KRNotification &notification)
{
    const KRObjectHandle handle = notification.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>();
    return std::dynamic_pointer_cast<KRFunction>(handle.object);
}

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
    // The parameter list goes into the code as it stands: only a sound one.
    const QString parameters = isSoundArgumentList(arguments)
        ? arguments
        : eventArguments(kr_serverFunction() == QLatin1String("Yes"));
    return QStringLiteral("application._pages%1._events%2 = function(%3) {\n%4\n};\n")
        .arg(member(p ? p->kr_id() : QString()), member(kr_id()), parameters, kr_source());
}

bool KRFunction::isSoundArgumentList(const QString &text)
{
    const auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    if (std::all_of(text.cbegin(), text.cend(), isBlank))
        return true; // no parameters
    if (hasTooManyArguments(text))
        return false;
    for (const QString &part : text.split(QLatin1Char(','))) {
        qsizetype start = 0, end = part.size();
        while (start < end && isBlank(part.at(start)))
            ++start;
        while (end > start && isBlank(part.at(end - 1)))
            --end;
        const QString name = part.mid(start, end - start);
        if (!KRJavaScript::isValidIdentifier(name) || KRObjectInfo::sharedInstance().isJavaScriptReservedWord(name))
            return false;
    }
    return true;
}

bool KRFunction::hasTooManyArguments(const QString &text)
{
    return text.count(QLatin1Char(',')) >= MaximumArgumentCount;
}

QString KRFunction::eventArguments(bool serverFunction)
{
    return serverFunction ? QStringLiteral("request, response") : QStringLiteral("event");
}

QVariantMap KRFunction::syntaxErrorForLineNumber(int line) const
{
    for (const QVariantMap &error : m_syntaxErrors) {
        if (error.value(QStringLiteral("line")).toString().trimmed().toInt() == line)
            return error;
    }
    return {};
}

#include "KRPropertyInfo.h"

std::int32_t KRPropertyInfo::typeCodeForWord(const QString &word, bool *known)
{
    static const QHash<QString, std::int32_t> codes = {
        {QStringLiteral("string"), String},     {QStringLiteral("multilineString"), MultilineString},
        {QStringLiteral("number"), Number},     {QStringLiteral("color"), Color},
        {QStringLiteral("enum"), Enum},         {QStringLiteral("function"), Function},
        {QStringLiteral("html"), HTML},         {QStringLiteral("javascript"), JavaScript},
    };
    const auto it = codes.constFind(word);
    if (known)
        *known = it != codes.constEnd();
    return it == codes.constEnd() ? String : *it;
}

#include "KRArray.h"

#include <core/KRRegex.h>

namespace KRArray {

QStringList stringsMatchingRegex(const QStringList &strings, const QString &pattern)
{
    QStringList matching;
    const KRRegex regex(pattern);
    if (!regex.isValid())
        return matching;
    for (const QString &string : strings) {
        if (regex.containsMatch(string))
            matching.append(string);
    }
    return matching;
}

} // namespace KRArray

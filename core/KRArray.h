#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// List operations the model uses on arrays of strings and objects.
namespace KRArray {

// True when every element of `required` is contained (by equality) in `list`; an empty
// `required` gives true.
template <typename T>
bool containsAllObjectsFromArray(const QList<T> &list, const QList<T> &required)
{
    for (const T &element : required) {
        if (!list.contains(element))
            return false;
    }
    return true;
}

// The strings, in order, in which the ICU regular expression (default options) matches
// anywhere; an invalid pattern gives an empty list.
QStringList stringsMatchingRegex(const QStringList &strings, const QString &pattern);

} // namespace KRArray

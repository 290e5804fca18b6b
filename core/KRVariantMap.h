#pragma once

#include <QVariant>
#include <QVariantHash>
#include <QVariantMap>

namespace KRVariantMap {

// A QVariantMap or QVariantHash as a QVariantMap, so that writers see the members in key order.
inline QVariantMap sortedMap(const QVariant &value)
{
    if (value.typeId() != QMetaType::QVariantHash)
        return value.toMap();
    QVariantMap map;
    const QVariantHash hash = value.toHash();
    for (auto it = hash.cbegin(); it != hash.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

} // namespace KRVariantMap

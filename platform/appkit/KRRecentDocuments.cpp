#include "KRRecentDocuments.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString normalised(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

KRRecentDocuments::KRRecentDocuments(KRUserDefaults &defaults, const QString &key, int maximumCount)
    : m_defaults(defaults), m_key(key), m_maximumCount(std::max(1, maximumCount))
{
}

QStringList KRRecentDocuments::paths() const
{
    // Read defensively: the file may have been edited by hand or written by another build.
    QStringList result;
    const QVariantList stored = m_defaults.arrayValue(m_key);
    for (const QVariant &entry : stored) {
        const QString path = normalised(entry.toString());
        if (!path.isEmpty() && !result.contains(path))
            result.append(path);
        if (result.size() == m_maximumCount)
            break;
    }
    return result;
}

void KRRecentDocuments::noteDocument(const QString &path)
{
    const QString entry = normalised(path);
    if (entry.isEmpty())
        return;
    QStringList list = paths();
    list.removeAll(entry);
    list.prepend(entry);
    store(list);
}

void KRRecentDocuments::removeDocument(const QString &path)
{
    QStringList list = paths();
    if (list.removeAll(normalised(path)) > 0)
        store(list);
}

void KRRecentDocuments::removeMissingDocuments()
{
    QStringList list = paths();
    const auto missing = [](const QString &p) { return !QFileInfo::exists(p); };
    if (std::any_of(list.cbegin(), list.cend(), missing)) {
        list.removeIf(missing);
        store(list);
    }
}

void KRRecentDocuments::clear()
{
    m_defaults.removeObject(m_key);
}

void KRRecentDocuments::store(QStringList paths)
{
    while (paths.size() > m_maximumCount)
        paths.removeLast();
    if (paths.isEmpty()) {
        m_defaults.removeObject(m_key);
        return;
    }
    m_defaults.setValue(m_key, QVariant(paths));
}

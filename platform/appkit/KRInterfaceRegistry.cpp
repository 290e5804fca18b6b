#include "KRInterfaceRegistry.h"

#include <platform/foundation/KRException.h>

#include <QHash>

namespace {

QHash<QString, KRInterfaceRegistry::Builder> &builders()
{
    static QHash<QString, KRInterfaceRegistry::Builder> table;
    return table;
}

[[noreturn]] void raiseNotLoaded()
{
    krRaise(KRExceptionName::NibLoadingFailed,
            QStringLiteral("Nib file not loaded in KRCachingViewController"));
}

} // namespace

void KRInterfaceRegistry::registerInterface(const QString &name, Builder builder)
{
    builders().insert(name, std::move(builder));
}

bool KRInterfaceRegistry::hasInterface(const QString &name)
{
    return builders().contains(name);
}

QWidget *KRInterfaceRegistry::instantiate(const QString &name, QObject *owner)
{
    const auto it = builders().constFind(name);
    if (it == builders().constEnd() || !*it)
        raiseNotLoaded();
    // Copied: a builder may register further interfaces and rehash the table.
    const Builder builder = *it;
    try {
        return builder(owner);
    } catch (const KRException &) {
        throw;
    } catch (const std::exception &) {
        raiseNotLoaded();
    }
}

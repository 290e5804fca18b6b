#include "KRLocalDataSource.h"

KRObjectClass KRLocalDataSource::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRLocalDataSource");
    c.superclassName = QStringLiteral("KRObject");
    c.idBase = QStringLiteral("dataSource");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRLocalDataSource>(init); };
    return c;
}

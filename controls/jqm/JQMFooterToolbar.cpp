#include "JQMFooterToolbar.h"

KRObjectClass JQMFooterToolbar::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMFooterToolbar");
    c.superclassName = QStringLiteral("JQMBaseToolbar");
    c.idBase = QStringLiteral("footer");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMFooterToolbar>(init); };
    return c;
}

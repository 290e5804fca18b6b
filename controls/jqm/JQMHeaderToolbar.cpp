#include "JQMHeaderToolbar.h"

KRObjectClass JQMHeaderToolbar::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMHeaderToolbar");
    c.superclassName = QStringLiteral("JQMBaseToolbar");
    c.idBase = QStringLiteral("header");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMHeaderToolbar>(init); };
    return c;
}

void JQMHeaderToolbar::initializeDefaultProperties()
{
    JQMBaseToolbar::initializeDefaultProperties();
    setValue(QStringLiteral("kr_position"), QStringLiteral("fixed"));
}

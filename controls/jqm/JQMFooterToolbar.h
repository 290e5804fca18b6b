#pragma once

#include <controls/jqm/JQMBaseToolbar.h>

// The jQuery Mobile footer bar of a page.
class JQMFooterToolbar : public JQMBaseToolbar
{
public:
    using JQMBaseToolbar::JQMBaseToolbar;
    static KRObjectClass objectClass();
    QString tbType() const override { return QStringLiteral("footer"); }
};

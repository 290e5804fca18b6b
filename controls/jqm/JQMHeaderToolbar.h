#pragma once

#include <controls/jqm/JQMBaseToolbar.h>

// The jQuery Mobile header bar of a page.
class JQMHeaderToolbar : public JQMBaseToolbar
{
public:
    using JQMBaseToolbar::JQMBaseToolbar;
    static KRObjectClass objectClass();
    QString tbType() const override { return QStringLiteral("header"); }
    void initializeDefaultProperties() override;
};

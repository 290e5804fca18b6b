#pragma once

#include <controls/jqm/JQMFormWidget.h>

class JQMTextbox : public JQMFormWidget
{
public:
    using JQMFormWidget::JQMFormWidget;
    static KRObjectClass objectClass();
    QString defaultProperty() const override { return QStringLiteral("label"); }
    void initializeDefaultProperties() override;
    QList<KRMenuItem> contextMenuItemsForObject() override;
    void createChildren() override;

protected:
    void buildElement() override;
};

#pragma once

#include <controls/jqm/JQMFormWidget.h>

class JQMSlideToggle : public JQMFormWidget
{
public:
    using JQMFormWidget::JQMFormWidget;
    static KRObjectClass objectClass();
    QString defaultProperty() const override { return QStringLiteral("label"); }
    void initializeDefaultProperties() override;
    void createChildren() override;
    std::shared_ptr<DOMElement> selectElement() const { return m_selectElement; }

protected:
    void buildElement() override;

private:
    std::shared_ptr<DOMElement> m_selectElement;
};

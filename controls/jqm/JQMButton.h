#pragma once

#include <controls/jqm/JQMFormWidget.h>

class JQMButton : public JQMFormWidget
{
public:
    using JQMFormWidget::JQMFormWidget;
    static KRObjectClass objectClass();
    QString defaultProperty() const override { return QStringLiteral("onClick"); }
    void initializeDefaultProperties() override;
    void createChildren() override;
    std::shared_ptr<DOMElement> inputElement() const { return m_inputElement; }

protected:
    void buildElement() override;

private:
    std::shared_ptr<DOMElement> m_inputElement;
};

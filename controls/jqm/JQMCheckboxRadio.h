#pragma once

#include <controls/jqm/JQMFormWidget.h>

// A group of check boxes or radio buttons in a jQuery Mobile control group, one per option.
// Abstract: the subclasses name the input type.
class JQMCheckboxRadio : public JQMFormWidget
{
public:
    using JQMFormWidget::JQMFormWidget;
    static KRObjectClass objectClass();
    // The type of the inputs; raises "InvalidClassException" here.
    virtual QString checkboxRadioType() const;
    void initializeDefaultProperties() override;
    void createChildren() override;
    std::shared_ptr<DOMElement> fieldsetElement() const { return m_fieldsetElement; }

protected:
    void buildElement() override;

private:
    std::shared_ptr<DOMElement> m_fieldsetElement;
};

class JQMRadioButtonGroup : public JQMCheckboxRadio
{
public:
    using JQMCheckboxRadio::JQMCheckboxRadio;
    static KRObjectClass objectClass();
    QString defaultProperty() const override { return QStringLiteral("label"); }
    QString checkboxRadioType() const override { return QStringLiteral("radio"); }
};

class JQMCheckboxGroup : public JQMCheckboxRadio
{
public:
    using JQMCheckboxRadio::JQMCheckboxRadio;
    static KRObjectClass objectClass();
    QString checkboxRadioType() const override { return QStringLiteral("checkbox"); }
};

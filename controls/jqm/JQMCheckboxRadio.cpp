#include "JQMCheckboxRadio.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMCheckboxRadio::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMCheckboxRadio");
    c.superclassName = QStringLiteral("KRFormControl");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("options", nullptr, nullptr, KRAdapterOptionUpdateDesignView | KRAdapterOptionXMLText),
        krDescriptor("orientation", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
    };
    c.abstractClass = true; // the radio-button and check-box groups are made
    return c;
}

void JQMCheckboxRadio::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
    setValue(QStringLiteral("kr_options"), QStringLiteral("Choice 1\nChoice 2\nChoice 3"));
}

void JQMCheckboxRadio::buildElement()
{
    JQMFormWidget::buildElement();
    BuildSteps steps;
    steps.redescribeBeforeAppend = true;
    buildWidget(QStringLiteral("JQMCheckboxRadio"), steps);
}

QString JQMCheckboxRadio::checkboxRadioType() const
{
    krRaise(QStringLiteral("InvalidClassException"), QStringLiteral("Subclass should have overridden +checkboxRadioType"));
    return QString();
}

namespace {
// The selector of the group's inputs of one type, as a JavaScript string literal.
QString groupInputsLiteral(const QString &outerID, const QString &type)
{
    if (KRJavaScript::isValidIdentifier(outerID))
        return QStringLiteral("'#%1 input[type=\"%2\"]'").arg(outerID, type);
    return KRJavaScript::quotedString(QStringLiteral("#%1 input[type=\"%2\"]").arg(outerID, type));
}
} // namespace

void JQMCheckboxRadio::createChildren()
{
    const auto outer = domElement();
    if (!outer)
        return;
    const QString type = checkboxRadioType();
    if (m_fieldsetElement && m_fieldsetElement->parent() == outer.get())
        outer->removeChild(m_fieldsetElement);
    m_fieldsetElement = createElement(QStringLiteral("fieldset"));
    m_fieldsetElement->setAttribute(QStringLiteral("data-role"), QStringLiteral("controlgroup"));
    if (value(QStringLiteral("kr_orientation")) == QLatin1String("horizontal"))
        m_fieldsetElement->setAttribute(QStringLiteral("data-type"), QStringLiteral("horizontal"));
    outer->appendChild(m_fieldsetElement);
    const QString legendText = value(QStringLiteral("kr_label"));
    if (!legendText.isEmpty()) {
        const auto legend = createElement(QStringLiteral("legend"));
        legend->setTextContent(legendText);
        m_fieldsetElement->appendChild(legend);
    }
    const QString groupName = nameOrID();
    const QString checkedValue = value(QStringLiteral("kr_value"));
    int n = 0;
    for (const auto &[optionValue, optionLabel] : jqmOptions(value(QStringLiteral("kr_options")))) {
        ++n;
        const QString inputID = QStringLiteral("%1_%2-%3").arg(pageID(), kr_id()).arg(n);
        const auto input = createElement(QStringLiteral("input"));
        input->setAttribute(QStringLiteral("type"), type);
        input->setAttribute(QStringLiteral("id"), inputID);
        input->setAttribute(QStringLiteral("name"), groupName);
        input->setAttribute(QStringLiteral("value"), optionValue);
        if (optionValue == checkedValue)
            input->setAttribute(QStringLiteral("checked"), QStringLiteral("checked"));
        jqmSetDataAttribute(*input, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
        jqmSetDataAttribute(*input, QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
        if (isDisabled())
            input->setAttribute(QStringLiteral("disabled"), QStringLiteral("disabled"));
        m_fieldsetElement->appendChild(input);
        const auto label = createElement(QStringLiteral("label"));
        label->setAttribute(QStringLiteral("for"), inputID);
        label->setTextContent(optionLabel);
        m_fieldsetElement->appendChild(label);
    }
    if (designMode())
        queueDesignScript(QStringLiteral("$(%1).trigger('create');$(%2).checkboxradio('disable');")
                              .arg(krSelectorLiteral(outer->id()), groupInputsLiteral(outer->id(), type)));
}

KRObjectClass JQMRadioButtonGroup::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMRadioButtonGroup");
    c.superclassName = QStringLiteral("JQMCheckboxRadio");
    c.idBase = QStringLiteral("radio");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMRadioButtonGroup>(init); };
    return c;
}

KRObjectClass JQMCheckboxGroup::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMCheckboxGroup");
    c.superclassName = QStringLiteral("JQMCheckboxRadio");
    c.idBase = QStringLiteral("checkbox");
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMCheckboxGroup>(init); };
    return c;
}

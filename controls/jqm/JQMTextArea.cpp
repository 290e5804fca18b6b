#include "JQMTextArea.h"

#include <controls/jqm/JQMMarkup.h>
#include <core/KRJavaScript.h>
#include <model/KRModelAdapter.h>
#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>

KRObjectClass JQMTextArea::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("JQMTextArea");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("textarea");
    c.descriptors = {
        krDescriptor("value", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("label", nullptr, nullptr, KRAdapterOptionCheckSize | KRAdapterOptionUpdateDesignView),
        krDescriptor("theme", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krDescriptor("autocorrect", nullptr, nullptr, 0),
        krDescriptor("autocapitalize", nullptr, nullptr, 0),
        krDescriptor("mini", nullptr, nullptr, KRAdapterOptionUpdateDesignView),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<JQMTextArea>(init); };
    return c;
}

void JQMTextArea::initializeDefaultProperties()
{
    JQMFormWidget::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
}

void JQMTextArea::buildElement()
{
    JQMFormWidget::buildElement();
    buildWidget(QStringLiteral("JQMTextArea"), {});
}

QList<KRMenuItem> JQMTextArea::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = JQMFormWidget::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}

void JQMTextArea::createChildren()
{
    const auto area = beginLabelledInput(QStringLiteral("textarea"));
    if (!area)
        return;
    setNameAndDisabled(*area);
    const QString text = value(QStringLiteral("kr_value"));
    if (!text.isEmpty())
        area->setTextContent(text);
    jqmSetDataAttribute(*area, QStringLiteral("theme"), value(QStringLiteral("kr_theme")));
    jqmSetDataAttribute(*area, QStringLiteral("mini"), value(QStringLiteral("kr_mini")));
    area->setOptionalAttribute(QStringLiteral("autocorrect"), value(QStringLiteral("kr_autocorrect")));
    area->setOptionalAttribute(QStringLiteral("autocapitalize"), value(QStringLiteral("kr_autocapitalize")));
    domElement()->appendChild(area);
    // Sized to its text at once, as the built page sizes it when it shows: a size check that
    // follows measures that height.
    if (designMode())
        queueDesignScript(QStringLiteral("$(document).ready(function() {$(%1).trigger('create');$(%2).textinput('disable');"
                                         "$(%2).textinput('refresh');});")
                              .arg(krSelectorLiteral(domElement()->id()), krSelectorLiteral(area->id())));
}

#include "KRTextbox.h"

#include <platform/dom/DOMCSSStyleDeclaration.h>
#include <platform/dom/DOMElement.h>

KRObjectClass KRTextbox::objectClass()
{
    KRObjectClass c;
    c.className = QStringLiteral("KRTextbox");
    c.superclassName = QStringLiteral("KRFormControl");
    c.idBase = QStringLiteral("textbox");
    c.descriptors = {
        krDescriptor("value", "value", nullptr, 0),
        krDescriptor("maxsize", "maxsize", nullptr, 0),
        krDescriptor("placeholder", "placeholder", nullptr, 0),
        krDescriptor("autocorrect", "autocorrect", nullptr, 0),
        krDescriptor("autocapitalize", "autocapitalize", nullptr, 0),
        krEventDescriptor("onFocus"),
        krEventDescriptor("onBlur"),
    };
    c.factory = [](const KRObjectInit &init) { return std::make_shared<KRTextbox>(init); };
    return c;
}

void KRTextbox::initializeDefaultProperties()
{
    KRFormControl::initializeDefaultProperties();
    setValue(QStringLiteral("kr_width"), QStringLiteral("200"));
    setValue(QStringLiteral("kr_height"), QStringLiteral("32"));
    setValue(QStringLiteral("kr_borderRadius"), QStringLiteral("10"));
}

void KRTextbox::buildElement()
{
    KRFormControl::buildElement();
    if (!domElement())
        return;
    domElement()->setAttribute(QStringLiteral("type"), QStringLiteral("text"));
    enableOwnAdapters(QStringLiteral("KRTextbox"));
    appendToParentElement();
    updateMaxLength();
    m_maxsizeToken = observable().observe(QStringLiteral("kr_maxsize"), [this](const void *, const QString &, const QVariant &,
                                                                              const QVariant &) { updateMaxLength(); });
}

void KRTextbox::updateMaxLength()
{
    if (domElement())
        domElement()->setOptionalAttribute(QStringLiteral("maxlength"), value(QStringLiteral("kr_maxsize")));
}

QList<KRMenuItem> KRTextbox::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRFormControl::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onFocus"), QStringLiteral("onBlur")});
    return items;
}

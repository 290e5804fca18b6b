#include "JQMFormWidget.h"

#include <core/KRString.h>
#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <QTimer>

QList<std::pair<QString, QString>> jqmOptions(const QString &text)
{
    return KRString::parseOptionTokenList(text);
}

void jqmAppendOptions(DOMElement &select, const QString &optionsText, const QString &selected)
{
    const auto document = select.ownerDocument();
    for (const auto &[optionValue, label] : jqmOptions(optionsText)) {
        const auto option = document->createElement(QStringLiteral("option"));
        option->setAttribute(QStringLiteral("value"), optionValue);
        option->setTextContent(label);
        if (optionValue == selected)
            option->setAttribute(QStringLiteral("selected"), QStringLiteral("selected"));
        select.appendChild(option);
    }
}

void JQMFormWidget::updateDesignView(KRModelAdapter &, const QString &)
{
    createChildren();
}

void JQMFormWidget::buildWidget(const QString &className, const BuildSteps &steps)
{
    const auto outer = domElement();
    if (!outer)
        return;
    if (steps.removeOuterRole)
        outer->removeAttribute(QStringLiteral("data-role"));
    enableOwnAdapters(className);
    auto redescribe = [this, outer] {
        // The same two descriptors for every widget: made once.
        static const KRPropertyDescriptor descriptors[] = {
            KRPropertyDescriptor(QStringLiteral("name"), QString(), QString(), 0),
            KRPropertyDescriptor(QStringLiteral("disabled"), QString(), QString(), 0)};
        for (const KRPropertyDescriptor &descriptor : descriptors) {
            const QString &property = descriptor.propertyName();
            if (const auto adapter = modelAdapter(descriptor.kr_propertyName()))
                adapter->setDescriptor(descriptor);
            outer->removeAttribute(property);
        }
    };
    if (steps.redescribeNameAndDisabled && steps.redescribeBeforeAppend)
        redescribe();
    appendToParentElement();
    followTextStyle(m_textStyleTokens);
    createChildren();
    if (steps.redescribeNameAndDisabled && !steps.redescribeBeforeAppend)
        redescribe();
    if (!designMode())
        return;
    // A rename rebuilds after the new id has reached the outer element.
    const std::weak_ptr<KRObject> weakSelf = weak_from_this();
    for (const QString &key : steps.rebuildKeys) {
        m_renameTokens.push_back(observable().observe(key, [weakSelf](const void *, const QString &, const QVariant &,
                                                                      const QVariant &) {
            QTimer::singleShot(0, [weakSelf] {
                if (const auto self = std::static_pointer_cast<JQMFormWidget>(weakSelf.lock()))
                    self->createChildren();
            });
        }));
    }
}

QString JQMFormWidget::innerID(const QString &suffix) const
{
    return QStringLiteral("_%1_%2_%3").arg(pageID(), kr_id(), suffix);
}

QString JQMFormWidget::nameOrID() const
{
    const QString name = value(QStringLiteral("kr_name"));
    return name.isEmpty() ? kr_id() : name;
}

std::shared_ptr<DOMElement> JQMFormWidget::createElement(const QString &tagName) const
{
    return domElement()->ownerDocument()->createElement(tagName);
}

void JQMFormWidget::removeElementChildren()
{
    const auto outer = domElement();
    for (const auto &child : outer->children())
        outer->removeChild(child);
}

std::shared_ptr<DOMElement> JQMFormWidget::makeLabel(const QString &forID, const QString &hiddenClass,
                                                     const QString &shownClass) const
{
    auto label = createElement(QStringLiteral("label"));
    label->setAttribute(QStringLiteral("for"), forID);
    const QString text = value(QStringLiteral("kr_label"));
    if (!text.isEmpty()) {
        if (!shownClass.isEmpty())
            label->setAttribute(QStringLiteral("class"), shownClass);
        label->setTextContent(text);
    } else {
        label->setAttribute(QStringLiteral("class"), hiddenClass);
    }
    return label;
}

std::shared_ptr<DOMElement> JQMFormWidget::beginLabelledInput(const QString &tagName)
{
    const auto outer = domElement();
    if (!outer)
        return nullptr;
    removeElementChildren();
    const QString inner = innerID(QStringLiteral("inp"));
    outer->appendChild(makeLabel(inner, QStringLiteral("ui-hide-label")));
    auto element = createElement(tagName);
    element->setAttribute(QStringLiteral("id"), inner);
    return element;
}

void JQMFormWidget::setNameAndDisabled(DOMElement &element) const
{
    element.setAttribute(QStringLiteral("name"), nameOrID());
    if (isDisabled())
        element.setAttribute(QStringLiteral("disabled"), QStringLiteral("disabled"));
}

std::shared_ptr<DOMElement> JQMFormWidget::beginOptionSelect(const QString &role)
{
    const auto outer = domElement();
    if (!outer)
        return nullptr;
    removeElementChildren();
    const QString inner = innerID(QStringLiteral("sel"));
    outer->appendChild(makeLabel(inner, QStringLiteral("ui-hidden-accessible"), QStringLiteral("select")));
    auto select = createElement(QStringLiteral("select"));
    if (!role.isEmpty())
        select->setAttribute(QStringLiteral("data-role"), role);
    select->setAttribute(QStringLiteral("id"), inner);
    select->setAttribute(QStringLiteral("name"), nameOrID());
    select->setOptionalAttribute(QStringLiteral("value"), value(QStringLiteral("kr_value")));
    if (isDisabled())
        select->setAttribute(QStringLiteral("disabled"), QStringLiteral("disabled"));
    return select;
}

void JQMFormWidget::finishOptionSelect(const std::shared_ptr<DOMElement> &select)
{
    domElement()->appendChild(select);
    jqmAppendOptions(*select, value(QStringLiteral("kr_options")), value(QStringLiteral("kr_value")));
}

void JQMFormWidget::queueDesignScript(const QString &script)
{
    const auto page = designPage();
    if (!designMode() || !page)
        return;
    // A widget enhanced after the page showed is told that it shows, as a built page tells
    // its widgets: a text area then takes the height it has there.
    page->queueDesignSetUpScript(shared_from_this(), script + QStringLiteral("$(%1).trigger('updatelayout');")
                                                                  .arg(krSelectorLiteral(domElement()->id())));
}

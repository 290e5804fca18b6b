#include "KRPropertyEditorItemBooleanViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <platform/appkit/KRBinding.h>

#include <QCheckBox>

QWidget *KRPropertyEditorItemBooleanViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_checkbox = new QCheckBox(view);
    m_checkbox->setGeometry(KRRowLabelWidth, 2, 20, 18);
    return view;
}

QWidget *KRPropertyEditorItemBooleanViewController::editControl() const
{
    return nullptr;
}

void KRPropertyEditorItemBooleanViewController::setup()
{
    const std::weak_ptr<KRObject> weak = targetObject();
    const QString k = key();
    KRBinding::Model model;
    model.get = [weak, k] {
        const auto o = weak.lock();
        return QVariant(o ? o->value(k) : QString());
    };
    model.set = [this](const QVariant &value) { writeValue(value.toString()); };
    model.observe = [this](std::function<void()> changed) {
        return observeValue([changed = std::move(changed)](const QString &) { changed(); });
    };
    m_binding = std::make_unique<KRBinding>(m_checkbox, model, QByteArrayLiteral("checked"));
    m_binding->setTransformer(
        [](const QVariant &value) -> std::optional<QVariant> {
            KRTrueFalseValueTransformer vt;
            vt.setUseTriState(false);
            return QVariant(vt.transformedValue(value) == 1);
        },
        [](const QVariant &value) -> std::optional<QVariant> {
            return KRTrueFalseValueTransformer().reverseTransformedValue(value.toBool() ? 1 : 0);
        });
}

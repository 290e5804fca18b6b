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
    m_checkbox->setAccessibleName(m_propertyName);
    m_binding = bindValue(m_checkbox, QByteArrayLiteral("checked"));
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

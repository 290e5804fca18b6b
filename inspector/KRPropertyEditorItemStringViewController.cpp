#include "KRPropertyEditorItemStringViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <platform/appkit/KRBinding.h>

#include <QLineEdit>

QWidget *KRPropertyEditorItemStringViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_textField = new QLineEdit(view);
    m_textField->setObjectName(QStringLiteral("textField"));
    // The stepper is made by setup() for numbers only; other text takes its room.
    m_textField->setGeometry(KRRowLabelWidth, 1, 134, 20);
    return view;
}

QWidget *KRPropertyEditorItemStringViewController::editControl() const
{
    return m_textField;
}

void KRPropertyEditorItemStringViewController::setup()
{
    if (m_propertyInfo.propertyType == KRPropertyInfo::Number) {
        m_textField->resize(120, m_textField->height());
        m_stepper = new KRStepper(view());
        m_stepper->move(KRRowLabelWidth + 122, 1);
        m_stepper->show();
        if (m_propertyInfo.precision)
            m_transformer.setPrecision(*m_propertyInfo.precision);
        if (m_propertyInfo.minValue)
            m_stepper->minimum = *m_propertyInfo.minValue;
        if (m_propertyInfo.maxValue)
            m_stepper->maximum = *m_propertyInfo.maxValue;
        if (m_propertyInfo.increment)
            m_stepper->increment = *m_propertyInfo.increment;
        m_stepper->stepped = [this](int direction) {
            const QVariant current = m_transformer.transformedValue(storedValue());
            // A percentage passes through as text: read its number.
            const std::optional<double> base =
                current.metaType().id() == QMetaType::QString
                    ? KRStepperValueTransformer::readNumber(current.toString().trimmed().chopped(1))
                    : (current.isValid() ? std::optional<double>(current.toDouble()) : std::nullopt);
            const double next = qBound(m_stepper->minimum, base.value_or(0.0) + direction * m_stepper->increment,
                                       m_stepper->maximum);
            writeValue(m_transformer.reverseTransformedValue(next));
        };
    }
    m_binding = bindLineEdit(m_textField);
}

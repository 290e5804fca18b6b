#include "KRPropertyEditorItemColorViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <platform/appkit/KRColorPanel.h>

#include <QCheckBox>
#include <QToolButton>

QWidget *KRPropertyEditorItemColorViewController::buildView()
{
    QWidget *view = makeRowView(20);
    view->setFixedHeight(48);
    m_defaultCheckbox = new QCheckBox(QObject::tr("Default"), view);
    m_defaultCheckbox->setGeometry(KRRowLabelWidth, 1, 100, 18);
    m_colorWell = new QToolButton(view);
    m_colorWell->setGeometry(KRRowLabelWidth, 23, 44, 20);
    QObject::connect(m_defaultCheckbox, &QCheckBox::clicked, m_defaultCheckbox,
                     [this](bool on) { setUseDefault(on); });
    QObject::connect(m_colorWell, &QToolButton::clicked, m_colorWell, [this] {
        KRColorPanel &panel = KRColorPanel::shared();
        panel.setColor(KRColorValueTransformer::transformedValue(storedValue()).value_or(Qt::black));
        panel.setTarget(m_colorWell, [this](const QColor &colour) { takeColor(colour); });
        panel.orderFront();
    });
    return view;
}

void KRPropertyEditorItemColorViewController::setup()
{
    m_colorWell->setAccessibleName(m_propertyName);
    setUseDefault(storedValue().isEmpty());
    m_observation = observeValue([this](const QString &now) {
        if (m_echoGuard)
            return;
        if (now.isEmpty() != m_useDefault)
            setUseDefault(now.isEmpty());
        showColour();
    });
}

void KRPropertyEditorItemColorViewController::showColour()
{
    m_defaultCheckbox->setChecked(m_useDefault);
    m_colorWell->setVisible(!m_useDefault);
    krRowSwatch(m_colorWell, KRColorValueTransformer::transformedValue(storedValue()));
}

void KRPropertyEditorItemColorViewController::setUseDefault(bool on)
{
    m_useDefault = on;
    showDefaultState(on, 48);
    m_echoGuard = true;
    const QString text = storedValue();
    if (on && !text.isEmpty())
        writeValue(QString(QLatin1String("")));
    if (!on && text.isEmpty())
        writeValue(m_propertyName.startsWith(QLatin1String("background")) ? QStringLiteral("#ffffff")
                                                                          : QStringLiteral("#000000"));
    m_echoGuard = false;
    showColour();
}

void KRPropertyEditorItemColorViewController::takeColor(const QColor &colour)
{
    writeValue(KRColorValueTransformer::reverseTransformedValue(colour));
}

#include "KRPropertyEditorItemTextShadowViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <platform/appkit/KRColorPanel.h>

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>

QWidget *KRPropertyEditorItemTextShadowViewController::buildView()
{
    QWidget *view = makeRowView(20);
    view->setFixedHeight(128);
    m_defaultCheckbox = new QCheckBox(QObject::tr("Default"), view);
    m_defaultCheckbox->setGeometry(KRRowLabelWidth, 1, 100, 18);
    QObject::connect(m_defaultCheckbox, &QCheckBox::clicked, m_defaultCheckbox,
                     [this](bool on) { setUseDefault(on); });
    return view;
}

// The colour and the three numbers, made once the row has a shadow to show: most rows keep
// the default, and their closed row would only carry them hidden below its edge.
void KRPropertyEditorItemTextShadowViewController::makeShadowControls()
{
    QWidget *row = view();
    if (m_colorWell || !row)
        return;
    m_colorWell = new QToolButton(row);
    m_colorWell->setGeometry(KRRowLabelWidth, 24, 44, 20);
    m_colorWell->setAccessibleName(QObject::tr("shadow colour"));
    m_colorWell->show();
    const QStringList names{QObject::tr("x offset"), QObject::tr("y offset"), QObject::tr("blur")};
    QSpinBox **boxes[] = {&m_x, &m_y, &m_blur};
    for (int i = 0; i < 3; ++i) {
        auto *caption = new QLabel(names[i], row);
        QFont font = caption->font();
        font.setPixelSize(11);
        caption->setFont(font);
        caption->setGeometry(22, 50 + i * 25, KRRowLabelWidth - 24, 18);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caption->show();
        auto *box = new QSpinBox(row);
        box->setRange(-999, 999);
        box->setSuffix(QStringLiteral("px"));
        box->setGeometry(KRRowLabelWidth, 48 + i * 25, 80, 22);
        box->show();
        box->setAccessibleName(names[i]);
        QObject::connect(box, &QSpinBox::valueChanged, box, [this] { userChangedShadow(); });
        // Each number is stored as it is typed or stepped: Ctrl+Z takes it back in the document.
        routeStoredEditUndo(box);
        *boxes[i] = box;
    }
    // Made later than the rows after it, they still come right after the checkbox for Tab.
    QWidget::setTabOrder(m_defaultCheckbox, m_colorWell);
    QWidget::setTabOrder(m_colorWell, m_x);
    QWidget::setTabOrder(m_x, m_y);
    QWidget::setTabOrder(m_y, m_blur);
    QObject::connect(m_colorWell, &QToolButton::clicked, m_colorWell, [this] {
        if (!m_textShadow)
            return;
        KRColorPanel &panel = KRColorPanel::shared();
        panel.setColor(KRColorValueTransformer::transformedValue(m_textShadow->color).value_or(Qt::black));
        panel.setTarget(m_colorWell, [this](const QColor &colour) {
            if (!m_textShadow)
                return;
            KRTextShadow shadow = *m_textShadow;
            shadow.color = KRColorValueTransformer::reverseTransformedValue(colour);
            setTextShadow(shadow);
        });
        panel.orderFront();
    });
}

void KRPropertyEditorItemTextShadowViewController::setup()
{
    const QString text = storedValue();
    setUseDefault(text.isEmpty());
    if (!text.isEmpty()) {
        m_textShadow = KRTextShadow::fromString(text);
        showShadow();
    }
    // Undo and other editors: read the text again, so the next edit starts from it.
    m_observation = observeValue([this](const QString &now) {
        if (m_echoGuard)
            return;
        if (now.isEmpty() != m_useDefault)
            setUseDefault(now.isEmpty());
        if (!now.isEmpty()) {
            m_textShadow = KRTextShadow::fromString(now);
            showShadow();
        }
    });
}

void KRPropertyEditorItemTextShadowViewController::showShadow()
{
    m_showing = true;
    m_defaultCheckbox->setChecked(m_useDefault);
    if (m_textShadow)
        makeShadowControls();
    if (m_colorWell) { // none until a shadow was set; off while the row is back at the default
        for (QWidget *w : {static_cast<QWidget *>(m_colorWell), static_cast<QWidget *>(m_x),
                           static_cast<QWidget *>(m_y), static_cast<QWidget *>(m_blur)})
            w->setEnabled(bool(m_textShadow));
        if (m_textShadow) {
            m_x->setValue(m_textShadow->x);
            m_y->setValue(m_textShadow->y);
            m_blur->setValue(m_textShadow->blur);
            krRowSwatch(m_colorWell, KRColorValueTransformer::transformedValue(m_textShadow->color));
        }
    }
    m_showing = false;
}

void KRPropertyEditorItemTextShadowViewController::userChangedShadow()
{
    if (m_showing || !m_textShadow)
        return;
    KRTextShadow shadow = *m_textShadow;
    shadow.x = m_x->value();
    shadow.y = m_y->value();
    shadow.blur = m_blur->value();
    setTextShadow(shadow);
}

void KRPropertyEditorItemTextShadowViewController::setTextShadow(const std::optional<KRTextShadow> &shadow)
{
    m_textShadow = shadow;
    showShadow();
    const bool wasGuarded = std::exchange(m_echoGuard, true);
    writeValue(shadow ? shadow->stringValue() : QString(QLatin1String("")));
    m_echoGuard = wasGuarded;
}

void KRPropertyEditorItemTextShadowViewController::setUseDefault(bool on)
{
    m_useDefault = on;
    showDefaultState(on, 128);
    m_echoGuard = true;
    const QString text = storedValue();
    if (on && !text.isEmpty())
        setTextShadow(std::nullopt);
    else if (!on && text.isEmpty())
        setTextShadow(KRTextShadow::fromString(QStringLiteral("#aaaaaa 2px 2px 2px")));
    m_echoGuard = false;
    showShadow();
}

#include "KRPropertyEditorItemControlViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <platform/appkit/KRBinding.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

// --- Geometry row

namespace {

const struct {
    const char *name;
    const char *title;
    int column, row;
    bool check;
} krGeometryLayout[] = {{"left", "left", 0, 0, false},   {"top", "top", 1, 0, false},
                        {"width", "width", 0, 1, false}, {"height", "height", 1, 1, false},
                        {"visible", "visible", 0, 2, true}, {"locked", "locked", 1, 2, true},
                        {"zIndex", "z-index", 0, 3, false}, {"opacity", "opacity", 1, 3, false}};

// The title the row shows for one of its properties.
QString krGeometryTitle(const QString &name)
{
    for (const auto &item : krGeometryLayout)
        if (name == QLatin1String(item.name))
            return QObject::tr(item.title);
    return name;
}

} // namespace

QWidget *KRPropertyEditorItemControlViewController::buildView()
{
    auto *view = new KRPropertyEditorItemView(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(104);
    for (const auto &item : krGeometryLayout) {
        const int x = 4 + item.column * 132;
        const int y = 2 + item.row * 25;
        m_helpSpots.append(qMakePair(QString(QLatin1String(item.name)), QPoint(x, y + 3)));
        if (item.check) {
            auto *box = new QCheckBox(QObject::tr(item.title), view);
            box->setGeometry(x + 18, y + 1, 100, 20);
            m_checkboxes.append(qMakePair(QString(QLatin1String(item.name)), box));
            continue;
        }
        auto *label = new KRPropertyEditorRowLabel(QObject::tr(item.title), view);
        QFont font = label->font();
        font.setPixelSize(11);
        label->setFont(font);
        label->setGeometry(x + 18, y + 2, 46, 18);
        auto *field = new QLineEdit(view);
        field->setObjectName(QLatin1String(item.name) + QStringLiteral("_textField"));
        field->setAccessibleName(QLatin1String(item.name));
        const bool opacity = QLatin1String(item.name) == QLatin1String("opacity");
        field->setGeometry(x + 64, y + 1, opacity ? 44 : 58, 20);
        m_fields.append(qMakePair(QString(QLatin1String(item.name)), field));
        if (opacity) {
            m_opacityStepper = new KRStepper(view);
            m_opacityStepper->move(x + 110, y + 1);
        }
    }
    return view;
}

QLineEdit *KRPropertyEditorItemControlViewController::textField(const QString &name) const
{
    for (const auto &[n, field] : m_fields)
        if (n == name)
            return field;
    return nullptr;
}

QCheckBox *KRPropertyEditorItemControlViewController::checkbox(const QString &name) const
{
    for (const auto &[n, box] : m_checkboxes)
        if (n == name)
            return box;
    return nullptr;
}

void KRPropertyEditorItemControlViewController::setup()
{
    for (const auto &[name, at] : std::as_const(m_helpSpots)) {
        QList<QWidget *> controls;
        if (QLineEdit *field = textField(name))
            controls.append(field);
        if (QCheckBox *box = checkbox(name))
            controls.append(box);
        trackHelpButton(QStringLiteral("helpButton_") + name, at, controls);
    }
    m_opacityStepper->increment = 0.1;
    m_opacityStepper->minimum = 0;
    m_opacityStepper->maximum = 1;
    m_opacityTransformer.setPrecision(2);

    const std::weak_ptr<KRObject> weak = targetObject();
    const auto makeModel = [weak](const QString &key, const QString &title) {
        KRBinding::Model model;
        model.get = [weak, key] {
            const auto o = weak.lock();
            return QVariant(o ? o->value(key) : QString());
        };
        model.set = [weak, key, title](const QVariant &value) {
            const auto o = weak.lock();
            if (o && o->value(key) != value.toString())
                o->setValueNamingUndo(key, value.toString(), krPropertyChangeActionName(title));
        };
        model.observe = [weak, key](std::function<void()> changed) {
            const auto o = weak.lock();
            if (!o)
                return KRObservationToken();
            return o->observable().observe(key, [changed = std::move(changed)](const void *, const QString &,
                                                                              const QVariant &, const QVariant &) {
                changed();
            });
        };
        return model;
    };
    const auto target = targetObject();
    for (const auto &[name, field] : std::as_const(m_fields)) {
        m_bindings.push_back(std::make_unique<KRBinding>(field, makeModel(QStringLiteral("kr_") + name, krGeometryTitle(name))));
        guardFieldEdits(*m_bindings.back(), field, target ? target->kr_className() : QString(), name);
        routeStoredEditUndo(field, field);
    }
    for (const auto &[name, box] : std::as_const(m_checkboxes)) {
        auto binding = std::make_unique<KRBinding>(box, makeModel(QStringLiteral("kr_") + name, krGeometryTitle(name)),
                                                   QByteArrayLiteral("checked"));
        // An object without a stored "visible" is shown, so its box is ticked.
        const bool emptyMeansOn = name == QLatin1String("visible");
        binding->setTransformer(
            [emptyMeansOn](const QVariant &value) -> std::optional<QVariant> {
                if (emptyMeansOn && value.toString().isEmpty())
                    return QVariant(true);
                return QVariant(KRTrueFalseValueTransformer2().transformedValue(value) == 1);
            },
            [](const QVariant &value) -> std::optional<QVariant> {
                return KRTrueFalseValueTransformer2().reverseTransformedValue(value.toBool() ? 1 : 0);
            });
        m_bindings.push_back(std::move(binding));
    }
    m_opacityStepper->stepped = [this, weak](int direction) {
        const auto o = weak.lock();
        if (!o)
            return;
        const QString key = QStringLiteral("kr_opacity");
        const QVariant current = m_opacityTransformer.transformedValue(o->value(key).isNull() ? QString(QLatin1String(""))
                                                                                             : o->value(key));
        const double base = current.metaType().id() == QMetaType::Double ? current.toDouble() : 1.0;
        const double next = qBound(m_opacityStepper->minimum, base + direction * m_opacityStepper->increment,
                                   m_opacityStepper->maximum);
        const QString text = m_opacityTransformer.reverseTransformedValue(next);
        if (o->value(key) != text)
            o->setValueNamingUndo(key, text, krPropertyChangeActionName(krGeometryTitle(QStringLiteral("opacity"))));
    };
}

bool KRPropertyEditorItemControlViewController::editProperty(const QString &name)
{
    QLineEdit *field = textField(name);
    if (!field)
        return false;
    field->setFocus(Qt::OtherFocusReason);
    return true;
}

#include "KRBinding.h"

#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRObservable.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QLineEdit>
#include <QMetaMethod>
#include <QWidget>

#include <utility>

KRBinding::KRBinding(QWidget *widget, Model model, const QByteArray &property, QObject *parent)
    : QObject(parent), m_widget(widget), m_model(std::move(model))
{
    KR_ASSERT(widget && m_model.get && m_model.set, "a binding needs a widget and a model");
    const QMetaObject *meta = widget->metaObject();
    m_property = property.isEmpty() ? meta->userProperty()
                                    : meta->property(meta->indexOfProperty(property.constData()));
    KR_ASSERT(m_property.isValid() && m_property.isWritable(), "no writable property to bind");

    if (auto *lineEdit = qobject_cast<QLineEdit *>(widget); lineEdit && property.isEmpty()) {
        connect(lineEdit, &QLineEdit::editingFinished, this, &KRBinding::widgetChanged);
    } else if (m_property.hasNotifySignal()) {
        // Notify signals carry differing arguments; the slot takes none.
        QObject::connect(widget, m_property.notifySignal(), this,
                         metaObject()->method(metaObject()->indexOfSlot("widgetChanged()")));
    }
    if (m_model.observe)
        m_observation = m_model.observe([this] {
            if (!m_committing)
                refresh();
        });
    refresh();
}

KRBinding::~KRBinding() = default;

KRBinding::Model KRBinding::userDefault(KRUserDefaults &defaults, const QString &key)
{
    QPointer<KRUserDefaults> guard(&defaults);
    Model model;
    model.get = [guard, key] { return guard ? guard->value(key) : QVariant(); };
    model.set = [guard, key](const QVariant &value) {
        if (guard)
            guard->setValue(key, value);
    };
    model.observe = [guard, key](std::function<void()> changed) {
        if (!guard)
            return KRObservationToken();
        return guard->observe(key, [changed = std::move(changed)](const QString &, const QVariant &) {
            changed();
        });
    };
    return model;
}

KRBinding::Model KRBinding::observable(KRObservable &observable, const QString &key,
                                       std::function<QVariant()> get,
                                       std::function<void(const QVariant &)> set)
{
    Model model;
    model.get = std::move(get);
    model.set = std::move(set);
    model.observe = [&observable, key](std::function<void()> changed) {
        return observable.observe(key, [changed = std::move(changed)](const void *, const QString &,
                                                                     const QVariant &, const QVariant &) {
            changed();
        });
    };
    return model;
}

void KRBinding::setTransformer(Transform toWidget, Transform toModel)
{
    m_toWidget = std::move(toWidget);
    m_toModel = std::move(toModel);
    refresh();
}

void KRBinding::setValidator(Validator validator)
{
    m_validator = std::move(validator);
}

void KRBinding::refresh()
{
    if (!m_widget)
        return;
    QVariant value = m_model.get();
    if (m_toWidget) {
        const std::optional<QVariant> shown = m_toWidget(value);
        // A value the widget cannot show is shown as the property's empty value.
        value = shown ? *shown : QVariant();
    }
    if (!value.isValid())
        value = QVariant(m_property.metaType());
    const bool wasShowing = std::exchange(m_showing, true);
    m_property.write(m_widget, value);
    m_showing = wasShowing;
}

bool KRBinding::commit()
{
    if (!m_widget || m_showing)
        return false;
    QVariant value = m_property.read(m_widget);
    if (m_toModel) {
        const std::optional<QVariant> transformed = m_toModel(value);
        if (!transformed) {
            emit rejected(tr("The value cannot be converted."));
            return false;
        }
        value = *transformed;
    }
    QString message;
    if (m_validator && !m_validator(value, &message)) {
        emit rejected(message);
        return false;
    }
    const bool wasCommitting = std::exchange(m_committing, true);
    m_model.set(value);
    m_committing = wasCommitting;
    return true;
}

void KRBinding::widgetChanged()
{
    commit();
}

#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QByteArray>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class KRObservable;
class KRUserDefaults;
class QWidget;

// Keeps one widget property and one model value in step. The model value is shown when the
// binding is made and whenever the model announces a change; the user's edits are written
// back (a line edit's when editing finishes, other widgets' on each change of the property).
//
// Showing a value never writes it back: the widget's change signals during a refresh are
// ignored. A write that the transformer or the validator refuses leaves the model untouched
// and is reported through rejected(); the widget keeps the user's text so it can be fixed.
// Main thread only.
class KRBinding : public QObject
{
    Q_OBJECT

public:
    // The model side: how to read and write the value and, optionally, how to hear of its
    // changes (the callback runs after each change; the token ends the observation).
    struct Model {
        std::function<QVariant()> get;
        std::function<void(const QVariant &)> set;
        std::function<KRObservationToken(std::function<void()>)> observe;
    };

    // Model to widget and widget to model; nullopt means the value cannot be transformed.
    using Transform = std::function<std::optional<QVariant>(const QVariant &)>;
    // True when the (transformed) value may be stored; otherwise sets the message.
    using Validator = std::function<bool(const QVariant &value, QString *message)>;

    // Binds the named widget property, or the widget's user property (a line edit's text, a
    // check box's checked state, a spin box's value, …) when none is named.
    KRBinding(QWidget *widget, Model model, const QByteArray &property = {},
              QObject *parent = nullptr);
    ~KRBinding() override;

    // A user default as the model.
    static Model userDefault(KRUserDefaults &defaults, const QString &key);
    // One key of an observable model object, read and written through the accessors.
    static Model observable(KRObservable &observable, const QString &key,
                            std::function<QVariant()> get,
                            std::function<void(const QVariant &)> set);

    void setTransformer(Transform toWidget, Transform toModel);
    void setValidator(Validator validator);

    // Shows the model's value in the widget now.
    void refresh();
    // Writes the widget's value to the model now (as the end of an edit does).
    bool commit();

signals:
    void rejected(const QString &message);

private slots:
    void widgetChanged();

private:

    QPointer<QWidget> m_widget;
    QMetaProperty m_property;
    Model m_model;
    Transform m_toWidget;
    Transform m_toModel;
    Validator m_validator;
    KRObservationToken m_observation;
    bool m_showing = false;
    bool m_committing = false;
};

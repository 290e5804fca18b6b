#pragma once

#include "KRPropertyEditorItemViewController.h"

// Left, top, width, height, visible, locked, z-index and opacity of a control.
class KRPropertyEditorItemControlViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemControl"); }
    QString kindName() const override { return QStringLiteral("Control"); }
    QWidget *buildView() override;
    bool editProperty(const QString &name) override;
    void setup();
    QLineEdit *textField(const QString &name) const;
    QCheckBox *checkbox(const QString &name) const;
    KRStepper *opacityStepper() const { return m_opacityStepper; }

private:
    QList<QPair<QString, QLineEdit *>> m_fields;
    QList<QPair<QString, QCheckBox *>> m_checkboxes;
    KRStepper *m_opacityStepper = nullptr;
    KRStepperValueTransformer m_opacityTransformer;
    std::vector<std::unique_ptr<KRBinding>> m_bindings;
    KRObservationToken m_opacityObservation;
    QList<QPair<QString, QPoint>> m_helpSpots; // a property's name and where its help button goes
};

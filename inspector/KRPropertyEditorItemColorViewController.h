#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemColorViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemColor"); }
    QString kindName() const override { return QStringLiteral("Colour"); }
    QWidget *buildView() override;
    bool useDefault() const { return m_useDefault; }
    void setUseDefault(bool on);
    QCheckBox *defaultCheckbox() const { return m_defaultCheckbox; }
    QToolButton *colorWell() const { return m_colorWell; }
    // What the colour panel does when the user picks a colour.
    void takeColor(const QColor &colour);

protected:
    void setup() override;

private:
    void showColour();
    QCheckBox *m_defaultCheckbox = nullptr;
    QToolButton *m_colorWell = nullptr;
    bool m_useDefault = true;
    bool m_echoGuard = false;
    KRObservationToken m_observation;
};

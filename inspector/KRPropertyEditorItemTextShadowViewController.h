#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemTextShadowViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemTextShadow"); }
    QString kindName() const override { return QStringLiteral("TextShadow"); }
    QWidget *buildView() override;
    bool useDefault() const { return m_useDefault; }
    void setUseDefault(bool on);
    std::optional<KRTextShadow> textShadow() const { return m_textShadow; }
    // A user edit of the shadow: the property receives its text at once.
    void setTextShadow(const std::optional<KRTextShadow> &shadow);
    QCheckBox *defaultCheckbox() const { return m_defaultCheckbox; }
    QSpinBox *xAxisOffset() const { return m_x; }
    QSpinBox *yAxisOffset() const { return m_y; }
    QSpinBox *blurRadius() const { return m_blur; }
    QToolButton *colorWell() const { return m_colorWell; } // the four: none until a shadow is set

protected:
    void setup() override;

private:
    void makeShadowControls();
    void showShadow();
    void userChangedShadow();
    QCheckBox *m_defaultCheckbox = nullptr;
    QToolButton *m_colorWell = nullptr;
    QSpinBox *m_x = nullptr;
    QSpinBox *m_y = nullptr;
    QSpinBox *m_blur = nullptr;
    bool m_useDefault = true;
    bool m_echoGuard = false;
    bool m_showing = false;
    std::optional<KRTextShadow> m_textShadow;
    KRObservationToken m_observation;
};

#pragma once

#include <QLineEdit>

// A text field with its own look: a rounded frame shaded darker at the bottom, a light inner
// edge along the bottom, a white inside, and a focus ring while it is edited in the active
// application. The font follows the control size.
class QZTextField : public QLineEdit
{
    Q_OBJECT

public:
    enum class ControlSize { Regular, Small, Mini };

    explicit QZTextField(QWidget *parent = nullptr);
    ~QZTextField() override;

    ControlSize controlSize() const { return m_controlSize; }
    // Regular 11.88, small 9.4 and mini 8 pixels, to the nearest whole pixel.
    void setControlSize(ControlSize size);

    // Off for fields that should never show a focus ring.
    bool drawsFocusRing() const { return m_drawsFocusRing; }
    void setDrawsFocusRing(bool draws);

    // Whether the focus ring is drawn now: with keyboard focus in the active application.
    bool isFocusRingVisible() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    ControlSize m_controlSize = ControlSize::Regular;
    bool m_drawsFocusRing = true;
};

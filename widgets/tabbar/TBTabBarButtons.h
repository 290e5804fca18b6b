#pragma once

// The small widgets of a tab bar: the add-tab button, the per-tab busy spinner and the
// overflow button that shows the menu of the tabs that do not fit.

#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <QMenu>

// An image button that shows another image while the mouse is over it.
class TBRolloverButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TBRolloverButton(QWidget *parent = nullptr);

    QPixmap usualImage() const { return m_usualImage; }
    void setUsualImage(const QPixmap &image);
    QPixmap rolloverImage() const { return m_rolloverImage; }
    void setRolloverImage(const QPixmap &image) { m_rolloverImage = image; }
    QPixmap alternateImage() const { return m_alternateImage; }
    void setAlternateImage(const QPixmap &image) { m_alternateImage = image; }
    // What the button shows now.
    QPixmap currentImage() const;
    bool isRolledOver() const { return m_over; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QPixmap m_usualImage, m_rolloverImage, m_alternateImage;
    bool m_over = false;
};

// A 16 x 16 spinning busy mark. Showing or hiding it relays out its tab bar.
class TBProgressIndicator : public QWidget
{
    Q_OBJECT
public:
    explicit TBProgressIndicator(QWidget *parent = nullptr);

    // The spinner's own wish to show, apart from whether it sits in a bar now.
    bool isSpinnerHidden() const { return m_spinnerHidden; }
    void setSpinnerHidden(bool hidden);
    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QTimer m_timer;
    int m_phase = 0;
    bool m_spinnerHidden = true;
};

// The pull-down at the end of a bar. Its face is its image; the menu lists only tabs.
class TBOverflowPopUpButton : public QWidget
{
    Q_OBJECT
public:
    explicit TBOverflowPopUpButton(QWidget *parent = nullptr);

    QMenu *menu() const { return m_menu; }
    void setMenu(QMenu *menu) { m_menu = menu; }
    bool isDown() const { return m_down; }
    QPixmap alternateImage() const { return m_alternateImage; }
    void setAlternateImage(const QPixmap &image) { m_alternateImage = image; }
    // Pulses the alternate image over the button's own.
    bool animatingAlternateImage() const { return m_animatingAlternateImage; }
    void setAnimatingAlternateImage(bool value);
    double animationValue() const { return m_animationValue; }
    void setVisible(bool visible) override;
    void animateStep();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void setPulse(bool on);

    QPointer<QMenu> m_menu;
    QPixmap m_image, m_downImage, m_alternateImage;
    bool m_down = false;
    bool m_animatingAlternateImage = false;
    QTimer m_pulse;
    double m_animationValue = 0;
};

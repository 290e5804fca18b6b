#pragma once

#include <QPixmap>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QWidgetAction>

#include <chrono>
#include <functional>

QT_BEGIN_NAMESPACE
class QImage;
class QMenu;
class QToolBar;
QT_END_NAMESPACE

class JWDelayedPopUpButton;

// A toolbar item whose square button triggers the action on a click and pops up the item's
// menu on a press and hold. Added to a QToolBar with addAction(), it shows a 32 × 32
// JWDelayedPopUpButton; the action's tool tip and enabled state are the button's. The image is
// kept at 32 × 32 and at 24 × 24, and the button shows the small copy while its toolbar's
// icons are small (under 32 pixels high).
class JWPopUpToolbarItem : public QWidgetAction
{
    Q_OBJECT

public:
    static constexpr QSize kRegularImageSize{32, 32};
    static constexpr QSize kSmallImageSize{24, 24};

    // Decides whether the item is enabled; asked by validate().
    using Validator = std::function<bool(const JWPopUpToolbarItem &item)>;

    explicit JWPopUpToolbarItem(const QString &itemIdentifier, QObject *parent = nullptr);
    ~JWPopUpToolbarItem() override;

    QString itemIdentifier() const;

    void setPopUpMenu(QMenu *menu); // not owned
    QMenu *popUpMenu() const;

    // Both copies are scaled to their sizes from the same image.
    void setImage(const QImage &image);
    QPixmap regularImage() const;
    QPixmap smallImage() const;

    // How long a press must be held still before the menu comes up (600 ms unless set).
    void setHoldDelay(std::chrono::milliseconds delay);

    void setValidator(Validator validator);
    // Brings the button's image in line with its toolbar's size and enables the item when the
    // validator agrees (always, without a validator).
    void validate();

    // The button this item shows in the toolbar, or null when it is not in it.
    JWDelayedPopUpButton *buttonIn(QToolBar *toolBar) const;

protected:
    QWidget *createWidget(QWidget *parent) override;

private:
    void updateButton(JWDelayedPopUpButton *button) const;

    QString m_identifier;
    QPointer<QMenu> m_menu;
    QPixmap m_regularImage;
    QPixmap m_smallImage;
    std::chrono::milliseconds m_holdDelay;
    Validator m_validator;
};

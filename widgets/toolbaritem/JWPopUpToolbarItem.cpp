#include "JWPopUpToolbarItem.h"

#include "JWDelayedPopUpButton.h"

#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QToolBar>

JWPopUpToolbarItem::JWPopUpToolbarItem(const QString &itemIdentifier, QObject *parent)
    : QWidgetAction(parent)
    , m_identifier(itemIdentifier)
    , m_holdDelay(JWDelayedPopUpButton::kDefaultHoldDelay)
{
    connect(this, &QAction::changed, this, [this] {
        for (QWidget *widget : createdWidgets())
            updateButton(static_cast<JWDelayedPopUpButton *>(widget));
    });
}

JWPopUpToolbarItem::~JWPopUpToolbarItem() = default;

QString JWPopUpToolbarItem::itemIdentifier() const
{
    return m_identifier;
}

void JWPopUpToolbarItem::setPopUpMenu(QMenu *menu)
{
    m_menu = menu;
    for (QWidget *widget : createdWidgets())
        static_cast<JWDelayedPopUpButton *>(widget)->setPopUpMenu(menu);
}

QMenu *JWPopUpToolbarItem::popUpMenu() const
{
    return m_menu;
}

void JWPopUpToolbarItem::setImage(const QImage &image)
{
    const auto scaled = [&image](QSize size) {
        if (image.isNull())
            return QPixmap();
        return QPixmap::fromImage(image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    };
    m_regularImage = scaled(kRegularImageSize);
    m_smallImage = scaled(kSmallImageSize);
    QIcon icon;
    if (!image.isNull()) {
        icon.addPixmap(m_regularImage);
        icon.addPixmap(m_smallImage);
    }
    setIcon(icon); // reaches the buttons through changed()
}

QPixmap JWPopUpToolbarItem::regularImage() const
{
    return m_regularImage;
}

QPixmap JWPopUpToolbarItem::smallImage() const
{
    return m_smallImage;
}

void JWPopUpToolbarItem::setHoldDelay(std::chrono::milliseconds delay)
{
    m_holdDelay = delay;
    for (QWidget *widget : createdWidgets())
        static_cast<JWDelayedPopUpButton *>(widget)->setHoldDelay(delay);
}

void JWPopUpToolbarItem::setValidator(Validator validator)
{
    m_validator = std::move(validator);
}

void JWPopUpToolbarItem::validate()
{
    for (QWidget *widget : createdWidgets())
        updateButton(static_cast<JWDelayedPopUpButton *>(widget));
    setEnabled(m_validator ? m_validator(*this) : true);
}

JWDelayedPopUpButton *JWPopUpToolbarItem::buttonIn(QToolBar *toolBar) const
{
    for (QWidget *widget : createdWidgets())
        if (widget->parentWidget() == toolBar)
            return static_cast<JWDelayedPopUpButton *>(widget);
    return nullptr;
}

QWidget *JWPopUpToolbarItem::createWidget(QWidget *parent)
{
    auto *button = new JWDelayedPopUpButton(parent);
    button->setFixedSize(kRegularImageSize);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::NoFocus);
    button->setPopUpMenu(m_menu);
    button->setHoldDelay(m_holdDelay);
    connect(button, &QAbstractButton::clicked, this, [this] { trigger(); });
    if (auto *toolBar = qobject_cast<QToolBar *>(parent))
        connect(toolBar, &QToolBar::iconSizeChanged, button, [this, button] { updateButton(button); });
    updateButton(button);
    return button;
}

void JWPopUpToolbarItem::updateButton(JWDelayedPopUpButton *button) const
{
    const auto *toolBar = qobject_cast<const QToolBar *>(button->parentWidget());
    const bool small = toolBar && toolBar->iconSize().height() < kRegularImageSize.height();
    button->setIconSize(small ? kSmallImageSize : kRegularImageSize);
    button->setIcon(icon());
    button->setToolTip(toolTip());
    button->setEnabled(isEnabled());
}

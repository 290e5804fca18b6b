#pragma once

#include <QPointer>
#include <QToolButton>

class KRBadgeView;
#include <network/KRNewsController.h>

// The news button of the project window's toolbar: it carries a badge, a sibling laid over
// its top right corner inside the button, with the number of unread news items of its news
// controller.
class KRBadgedButton : public QToolButton
{
    Q_OBJECT

public:
    // `news` null: the shared news controller.
    explicit KRBadgedButton(QWidget *parent = nullptr, KRNewsController *news = nullptr);
    ~KRBadgedButton() override;

    KRBadgeView *badgeView() const { return m_badgeView; }
    // Shows the controller's unread count ("" for none).
    void setBadgeCount();

protected:
    bool event(QEvent *event) override;

private:
    void viewDidMoveToSuperview();
    void placeBadge();

    QPointer<KRNewsController> m_news;
    QPointer<KRBadgeView> m_badgeView;
    bool m_observing = false;
};

#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

// A small red badge with a white count, right-aligned in the view 3 pixels from its right
// edge; an empty count shows nothing.
class KRBadgeView : public QWidget
{
    Q_OBJECT

public:
    explicit KRBadgeView(QWidget *parent = nullptr);
    ~KRBadgeView() override;

    QString badgeCount() const { return m_badgeCount; }
    void setBadgeCount(const QString &count);

    // The badge's rectangle in the view for the current count; empty when nothing is shown.
    QRectF badgeRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_badgeCount;
    QFont m_font;
};

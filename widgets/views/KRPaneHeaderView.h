#pragma once

#include "KRBorderedView.h"

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QRectF>
#include <QString>

// The header bar above a pane: a bordered view with the pane's title in bold, an optional
// icon at the left and an optional square button at the right end.
class KRPaneHeaderView : public KRBorderedView
{
    Q_OBJECT

public:
    explicit KRPaneHeaderView(QWidget *parent = nullptr);
    ~KRPaneHeaderView() override;

    QString labelText() const { return m_labelText; }
    void setLabelText(const QString &text);

    QImage image() const { return m_image; }
    void setImage(const QImage &image);

    QAbstractButton *button() const { return m_button; }
    // The header owns the button and keeps it square, as high as the header, at its right
    // end. A previous button leaves the header and is deleted.
    void setButton(QAbstractButton *button);

    // Where the icon is drawn: 16 pixels high at 3 from the left and bottom, as wide as its
    // proportions ask; empty without an icon.
    QRectF imageRect() const;
    // The top-left corner of the title's line: 4 from the left without an icon, 8 after it
    // with one; its bottom 4 above the header's bottom.
    QPointF labelOrigin() const;

    static QFont labelFont();

    // A header is as high as a 16-pixel icon with 3 pixels above and below it; in a layout it
    // keeps that height and takes the pane's width.
    static constexpr int PreferredHeight = 22;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void draw(QPainter &painter) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeButton();

    QString m_labelText;
    QImage m_image;
    QPointer<QAbstractButton> m_button;
};

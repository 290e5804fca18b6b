#pragma once

#include <QImage>
#include <QWidget>

// The picture of a device. Its frame is the picture scaled by the zoom; the picture is drawn
// centred horizontally and top-aligned in picture pixels.
class KRDeviceBackgroundView : public QWidget
{
    Q_OBJECT

public:
    explicit KRDeviceBackgroundView(QWidget *parent = nullptr);
    ~KRDeviceBackgroundView() override;

    QImage image() const { return m_image; }
    void setImage(const QImage &image);

signals:
    void mouseUp(QWidget *view, QMouseEvent *event);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QImage m_image;
};

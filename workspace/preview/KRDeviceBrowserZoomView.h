#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QImage>
#include <QWidget>

class KRUserDefaults;

// The backdrop the device picture sits on: the pattern named by the "designViewBackground"
// default, followed as it changes.
class KRDeviceBrowserZoomView : public QWidget
{
    Q_OBJECT

public:
    // `defaults` null: the shared defaults.
    explicit KRDeviceBrowserZoomView(QWidget *parent = nullptr, KRUserDefaults *defaults = nullptr);
    ~KRDeviceBrowserZoomView() override;

    QImage backgroundImage() const { return m_backgroundImage; }

signals:
    void mouseUp(QWidget *view, QMouseEvent *event);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void loadBackground();

    KRUserDefaults *m_defaults;
    QImage m_backgroundImage;
    KRObservationToken m_backgroundToken;
};

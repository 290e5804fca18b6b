#pragma once

#include <QWidget>

// The header bar of the device preview window: a grey gradient, darker while its window is
// the active one, over a black line along the bottom.
class KRDeviceBrowserHeaderView : public QWidget
{
    Q_OBJECT

public:
    explicit KRDeviceBrowserHeaderView(QWidget *parent = nullptr);
    ~KRDeviceBrowserHeaderView() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
};

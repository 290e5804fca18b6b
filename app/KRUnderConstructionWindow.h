#pragma once

#include <QMainWindow>

class QAction;

// The window the application opens until its real windows exist: the title "Korvane", a
// short centred notice and a menu bar with Quit.
class KRUnderConstructionWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit KRUnderConstructionWindow(QWidget *parent = nullptr);

    QAction *quitAction() const { return m_quitAction; }

private:
    QAction *m_quitAction;
};

#include "KRUnderConstructionWindow.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>

KRUnderConstructionWindow::KRUnderConstructionWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Korvane"));
    resize(640, 420);

    QMenu *fileMenu = menuBar()->addMenu(tr("&File"));
    m_quitAction = fileMenu->addAction(tr("&Quit"));
    m_quitAction->setShortcut(QKeySequence::Quit);
    m_quitAction->setMenuRole(QAction::QuitRole);
    connect(m_quitAction, &QAction::triggered, qApp, &QApplication::quit, Qt::QueuedConnection);

    auto *notice = new QLabel(tr("<h2>Korvane is under construction</h2>"
                                 "<p>The project window, the inspector, the editors and the preview "
                                 "are still to come.</p>"));
    notice->setObjectName(QStringLiteral("notice"));
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);
    notice->setMargin(24);
    setCentralWidget(notice);
}

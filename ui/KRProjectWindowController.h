#pragma once

#include <model/KRDocumentWindowController.h>

#include <QPointer>
#include <QWidget>

// The controller of a project window as interface code sees it: the model's window-controller
// interface plus the window it controls, so that a pane can find the controller (and through
// it the project) from any widget inside the window. Main thread only.
class KRProjectWindowController : public KRDocumentWindowController
{
public:
    KRProjectWindowController();
    ~KRProjectWindowController() override;
    KRProjectWindowController(const KRProjectWindowController &) = delete;
    KRProjectWindowController &operator=(const KRProjectWindowController &) = delete;

    // The controlled window; null before setWindow and once the window is gone.
    QWidget *window() const { return m_window; }

    // The controller of the window that holds the widget (a window counts as holding
    // itself); null when that window has none.
    static KRProjectWindowController *forWidget(const QWidget *widget);

protected:
    // The window is not owned here; it is usually owned by the controller's subclass.
    void setWindow(QWidget *window) { m_window = window; }

private:
    QPointer<QWidget> m_window;
};

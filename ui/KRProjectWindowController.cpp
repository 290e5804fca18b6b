#include "KRProjectWindowController.h"

#include <QList>

namespace {

// Every live controller; there is one per open project, so a list is enough.
QList<KRProjectWindowController *> &liveControllers()
{
    static QList<KRProjectWindowController *> controllers;
    return controllers;
}

} // namespace

KRProjectWindowController::KRProjectWindowController()
{
    liveControllers().append(this);
}

KRProjectWindowController::~KRProjectWindowController()
{
    liveControllers().removeOne(this);
}

KRProjectWindowController *KRProjectWindowController::forWidget(const QWidget *widget)
{
    if (!widget)
        return nullptr;
    const QWidget *window = widget->window();
    for (KRProjectWindowController *controller : std::as_const(liveControllers())) {
        if (controller->window() == window)
            return controller;
    }
    return nullptr;
}

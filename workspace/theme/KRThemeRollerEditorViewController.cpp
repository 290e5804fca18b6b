#include "KRThemeRollerEditorViewController.h"

#include <platform/appkit/KRInterfaceRegistry.h>

#include <QWidget>

KRThemeRollerEditorViewController::KRThemeRollerEditorViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRThemeRollerEditorView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRThemeRollerEditorView"),
                                               [](QObject *) -> QWidget * { return new QWidget; });
}

KRThemeRollerEditorViewController::~KRThemeRollerEditorViewController() = default;

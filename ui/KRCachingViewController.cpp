#include "KRCachingViewController.h"

#include "KRProjectWindowController.h"

#include <model/KRProjectBase.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRException.h>

KRCachingViewController::~KRCachingViewController()
{
    delete m_view.data();
}

QString KRCachingViewController::nibName() const
{
    krRaise(KRExceptionName::FileNotFound,
            QStringLiteral("Nib name source be defined in KRCachingViewController subclass"));
}

void KRCachingViewController::loadInterface()
{
    KR_ASSERT(!m_view, "interface loaded twice");
    m_view = KRInterfaceRegistry::instantiate(nibName(), this);
    KR_ASSERT(m_view, "the interface has no view");
    awakeFromNib();
}

KRProjectWindowController *KRCachingViewController::krWindowController() const
{
    KR_ASSERT(m_view, "the controller has no view");
    KRProjectWindowController *controller = KRProjectWindowController::forWidget(m_view);
    // A parentless view that no controller claims as its window is in no window yet.
    KR_ASSERT(controller || m_view->parentWidget(), "the view is not in a window");
    return controller;
}

std::shared_ptr<KRProjectBase> KRCachingViewController::project()
{
    if (std::shared_ptr<KRProjectBase> kept = m_project.lock())
        return kept;
    KRProjectWindowController *controller = krWindowController();
    if (!controller)
        return nullptr;
    std::shared_ptr<KRProjectBase> found = controller->project();
    KR_ASSERT(found, "the window controller has no project");
    m_project = found;
    return found;
}

#include "KRPropertyEditorItemPageViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRNotificationCenter.h>

KREnumOptions KRPropertyEditorItemPageViewController::enumerationContent() const
{
    KREnumOptions options{{QString(QLatin1String("")), QString(QLatin1String(""))},
                          {QStringLiteral("(back)"), QStringLiteral("(back)")}};
    const auto target = targetObject();
    const auto project = target ? std::dynamic_pointer_cast<KRProject>(target->project()) : nullptr;
    if (project)
        for (const auto &page : project->sortedPages())
            options.append({page->kr_id(), page->kr_id()});
    return options;
}

void KRPropertyEditorItemPageViewController::setup()
{
    KRPropertyEditorItemEnumViewController::setup();
    const auto target = targetObject();
    const auto project = target ? std::dynamic_pointer_cast<KRProject>(target->project()) : nullptr;
    if (!project)
        return;
    auto &centre = KRNotificationCenter::defaultCenter();
    for (const QString &name : {KRProjectDidCreatePageNotification, KRProjectDidDeletePageNotification,
                                KRProjectDidRenamePageNotification})
        // The model itself moves page links to a renamed page's new id; the row only
        // refreshes its list.
        m_pageObservations.push_back(
            centre.addObserver(name, project->identity(), [this](const KRNotification &) { reloadContent(); }));
}

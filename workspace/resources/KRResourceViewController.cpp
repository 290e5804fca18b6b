#include "KRResourceViewController.h"

#include <codeeditor/CEEditor.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <platform/appkit/KRInterfaceRegistry.h>

#include <QVBoxLayout>

KRResourceViewController::KRResourceViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRResourceView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRResourceView"), [](QObject *) -> QWidget * {
            auto *view = new QWidget;
            view->resize(600, 480);
            return view;
        });
}

KRResourceViewController::~KRResourceViewController() = default;

void KRResourceViewController::awakeFromNib() {}
bool KRResourceViewController::eventFilter(QObject *watched, QEvent *event) { return KRCachingViewController::eventFilter(watched, event); }
void KRResourceViewController::setResource(const std::shared_ptr<KRProjectResource> &resource) { m_resource = resource; }
CETextView *KRResourceViewController::textView() const { return nullptr; }
bool KRResourceViewController::saveContents() { return false; }
void KRResourceViewController::discardChanges() {}
void KRResourceViewController::didClose() {}
void KRResourceViewController::textDidChange() {}
void KRResourceViewController::textDidEndEditing() {}
void KRResourceViewController::willSaveDocument() {}
std::shared_ptr<KRProject> KRResourceViewController::krProject() { return nullptr; }

#include "KRProjectSettingsViewController.h"

#include <model/KRProject.h>
#include <platform/appkit/KRInterfaceRegistry.h>

#include <QWidget>

KRProjectSettingsViewController::KRProjectSettingsViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRProjectSettingsView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRProjectSettingsView"),
                                               [](QObject *) -> QWidget * { return new QWidget; });
}

KRProjectSettingsViewController::~KRProjectSettingsViewController() = default;

void KRProjectSettingsViewController::awakeFromNib() {}

void KRProjectSettingsViewController::setProject(const std::shared_ptr<KRProject> &project)
{
    m_settingsProject = project;
    KRCachingViewController::setProject(project);
}

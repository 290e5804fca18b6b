#pragma once

#include <core/ui/KRCachingViewController.h>

#include <memory>

class KRProject;

// The project's settings, edited in a pop-over from the project outline's header. Every change
// is written to the project at once.
class KRProjectSettingsViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    KRProjectSettingsViewController();
    ~KRProjectSettingsViewController() override;

    QString nibName() const override { return QStringLiteral("KRProjectSettingsView"); }

    // The project whose settings are shown; setting it fills the controls from it.
    void setProject(const std::shared_ptr<KRProject> &project);
    std::shared_ptr<KRProject> project() const { return m_settingsProject.lock(); }

protected:
    void awakeFromNib() override;

private:
    std::weak_ptr<KRProject> m_settingsProject;
};

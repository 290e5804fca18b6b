#pragma once

// A fixture for the panes that show a project's pages and web-folder files: the shipped
// resources, an alert service the test answers in advance, and a project opened in design
// mode with its web folder.

#include "../model/KRPageTestSupport.h"

#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include <gtest/gtest.h>

#include <memory>

class KRWorkspaceProjectTest : public ::testing::Test
{
protected:
    // Callers return when HasFatalFailure().
    void openProject(const QString &pagesXML)
    {
        KRResources::setResourcesDirectory(QStringLiteral(KR_SOURCE_DIR "/resources"));
        alerts = std::make_shared<KRScriptedAlertService>();
        previousAlerts = KRAlertService::setCurrent(alerts);
        project = krOpenProject(krProjectXML(pagesXML), true, &document);
        ASSERT_TRUE(project);
        web = project->krwebURL().toLocalFile();
    }
    // Derived fixtures drop their panes first.
    void TearDown() override { KRAlertService::setCurrent(previousAlerts); }

    // The project's resource of that name, or null.
    std::shared_ptr<KRProjectResource> resource(const QString &name) const
    {
        for (const auto &item : project->resources()) {
            if (item->name() == name)
                return item;
        }
        return nullptr;
    }

    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRAlertService> previousAlerts;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    QString web;
};

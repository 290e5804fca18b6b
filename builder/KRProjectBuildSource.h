#pragma once

#include <builder/KRBuildSource.h>

#include <memory>

class KRProject;

// The builder's view of an open project: its settings, its web folder and resources, and a
// fresh output page (KRPageOutput) for each page element.
class KRProjectBuildSource final : public KRBuildProject
{
public:
    explicit KRProjectBuildSource(std::shared_ptr<KRProject> project);
    ~KRProjectBuildSource() override;

    const std::shared_ptr<KRProject> &project() const { return m_project; }

    const void *documentIdentity() const override;
    KRXMLDocument xmlDocument() const override;
    KRResult<std::unique_ptr<KRBuildPage>> makeOutputPage(const KRXMLNode &pageElement) override;
    QString webFolderPath() override;
    QString startPage() const override;
    bool singlePageDeploy() const override;
    bool ajaxPageLoading() const override;
    bool sitemap() const override;
    bool generateManifest() const override;
    bool exportLocalJQuerySources() const override;
    bool publishBuildMode() const override;
    QString defaultTheme() const override;
    QVariantMap jqmURLs() const override;
    QString manifestURL() const override;
    bool exportMode() const override;
    void setExportMode(bool exportMode) override;
    void setIndexPage(const QString &fileName) override;
    QList<std::shared_ptr<KRProjectResource>> resources() override;
    void reloadResources() override;
    std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name) override;

private:
    std::shared_ptr<KRProject> m_project;
};

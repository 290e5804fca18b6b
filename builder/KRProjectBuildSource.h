#pragma once

#include <builder/KRBuildSource.h>

#include <memory>

class KRProject;

// The builder's view of an open project: its settings, its web folder and resources, and a
// fresh output page (KRPageOutput) for each page element.
class KRProjectBuildSource final : public KRBuildProject
{
public:
    // Pages are made side by side on as many threads as the machine runs at once (at most
    // eight), or on at most `concurrentPageLimit` threads when that is positive.
    explicit KRProjectBuildSource(std::shared_ptr<KRProject> project, int concurrentPageLimit = 0);
    ~KRProjectBuildSource() override;

    const std::shared_ptr<KRProject> &project() const { return m_project; }

    const void *documentIdentity() const override;
    KRXMLDocument xmlDocument() const override;
    // The elements of the project's pages, as the project holds them.
    QList<KRXMLNode> pageElements() const override;
    KRResult<std::unique_ptr<KRBuildPage>> makeOutputPage(const KRXMLNode &pageElement) override;
    int concurrentPageLimit() const override;
    std::optional<QString> libraryLinksText(const QStringList &stylesheets, const QStringList &scripts) const override;
    QString webFolderPath() override;
    QString packagePath() const override;
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
    int m_concurrentPageLimit;
};

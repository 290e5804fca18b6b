#include "KRProjectBuildSource.h"

#include <builder/KRPageOutput.h>
#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebFolder.h>

#include <QThread>

#include <algorithm>

KRProjectBuildSource::KRProjectBuildSource(std::shared_ptr<KRProject> project, int concurrentPageLimit)
    : m_project(std::move(project)), m_concurrentPageLimit(concurrentPageLimit)
{
}

KRProjectBuildSource::~KRProjectBuildSource() = default;

const void *KRProjectBuildSource::documentIdentity() const
{
    const auto document = m_project->krDocument();
    return document ? document->identity() : nullptr;
}

KRXMLDocument KRProjectBuildSource::xmlDocument() const
{
    const auto document = m_project->krDocument();
    return document ? document->xmlDocument() : KRXMLDocument();
}

QList<KRXMLNode> KRProjectBuildSource::pageElements() const
{
    QList<KRXMLNode> elements;
    for (const auto &page : m_project->krPages())
        elements.append(page->xmlElement());
    return elements;
}

KRResult<std::unique_ptr<KRBuildPage>> KRProjectBuildSource::makeOutputPage(const KRXMLNode &pageElement)
{
    auto page = KRPageOutput::create(pageElement, m_project);
    if (!page.ok())
        return page.error();
    return std::unique_ptr<KRBuildPage>(std::move(page).value());
}

int KRProjectBuildSource::concurrentPageLimit() const
{
    // Pages for output share nothing but what they read: the project, its XML and the class
    // registry. More than eight threads gain little, as the pages compete for memory.
    return m_concurrentPageLimit > 0 ? m_concurrentPageLimit : std::clamp(QThread::idealThreadCount(), 1, 8);
}

std::optional<QString> KRProjectBuildSource::libraryLinksText(const QStringList &stylesheets,
                                                              const QStringList &scripts) const
{
    return KRPageOutput::libraryLinksText(stylesheets, scripts);
}

QString KRProjectBuildSource::webFolderPath()
{
    const auto folder = m_project->webFolder();
    return folder ? folder->krwebPath() : QString();
}

QString KRProjectBuildSource::packagePath() const { return m_project->packagePath(); }

QString KRProjectBuildSource::startPage() const { return m_project->startPage(); }
bool KRProjectBuildSource::singlePageDeploy() const { return m_project->singlePageDeploy(); }
bool KRProjectBuildSource::ajaxPageLoading() const { return m_project->ajaxPageLoading(); }
bool KRProjectBuildSource::sitemap() const { return m_project->sitemap(); }
bool KRProjectBuildSource::generateManifest() const { return m_project->generateManifest(); }
bool KRProjectBuildSource::exportLocalJQuerySources() const { return m_project->exportLocalJQuerySources(); }
bool KRProjectBuildSource::publishBuildMode() const { return m_project->publishBuildMode(); }
QString KRProjectBuildSource::defaultTheme() const { return m_project->defaultTheme(); }
QString KRProjectBuildSource::manifestURL() const { return KRProject::manifestURL(); }
bool KRProjectBuildSource::exportMode() const { return m_project->exportMode(); }
void KRProjectBuildSource::setExportMode(bool exportMode) { m_project->setExportMode(exportMode); }
void KRProjectBuildSource::setIndexPage(const QString &fileName) { m_project->setIndexPage(fileName); }
QList<std::shared_ptr<KRProjectResource>> KRProjectBuildSource::resources() { return m_project->resources(); }
void KRProjectBuildSource::reloadResources() { m_project->reloadResources(); }

QVariantMap KRProjectBuildSource::jqmURLs() const
{
    QVariantMap urls;
    const auto table = m_project->jqmURLs();
    for (auto it = table.cbegin(); it != table.cend(); ++it)
        urls.insert(it.key(), it.value());
    return urls;
}

std::shared_ptr<KRProjectResource> KRProjectBuildSource::resourceForThemeName(const QString &name)
{
    return m_project->resourceForThemeName(name);
}

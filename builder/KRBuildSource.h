#pragma once

#include <core/KRXMLDocument.h>
#include <platform/foundation/KRError.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

class DOMElement;
class KRProjectResource;

// One page made fresh for a build, with design mode off: its objects are loaded, and it
// answers the outputs the builder writes. The builder calls, per page: addFormElement,
// addScripts, userScripts and the collections; after all pages, addCSS/addExternalScript for
// everything the project needs; last serverScriptsEnabled and pageKRML or pageHTML.
class KRBuildPage
{
public:
    virtual ~KRBuildPage() = default;

    virtual QString pageID() const = 0;

    virtual void addFormElement() = 0;
    // Gives every element whose name or id a browser would put in place of a property of its
    // form or of the document another one; a field still reaches the server under its own
    // name. Says which in warnings().
    virtual void separateShadowingNames() {}
    // What the page's build has to tell the user, each a sentence naming the page.
    virtual QStringList warnings() const { return {}; }
    virtual void addScripts() = 0;
    // The page's block of "KR-user-scripts.js".
    virtual QString userScripts() = 0;

    // Full paths of the run-time scripts of the page's plug-in objects.
    virtual QStringList pluginRuntimeScriptFiles() = 0;
    // Paths the page refers to, for the cache manifest.
    virtual QSet<QString> manifestResources() const = 0;
    // Library files the page's object classes need, relative to the "local-server" folder.
    virtual QStringList requiredObjectScripts() const = 0; // in load order
    virtual QSet<QString> requiredStylesheets() const = 0;
    virtual QSet<QString> requiredResources() const = 0;

    virtual void addCSS(const QString &path) = 0;
    virtual void addExternalScript(const QString &path) = 0;

    // The page's page div in its output document (single-page deploy imports it into the
    // start page's document).
    virtual std::shared_ptr<DOMElement> pageDivElement() const = 0;

    virtual bool serverScriptsEnabled() const = 0;
    // The HTML file text, and the server page file text.
    virtual QString pageHTML() = 0;
    virtual QString pageKRML() = 0;
    // The HTML file text of a page not yet linked to the project's libraries, with the
    // placeholder (a comment holding the text) where addCSS and addExternalScript put their
    // elements: the text the project's libraryLinksText gives goes in its place. The page may
    // be changed. Null when the page cannot do this: the builder then links it first.
    virtual QString pageHTMLWithLibraryPlaceholder(const QString &) { return {}; }
};

// What the builder needs of a project. The project model's adapter implements it over
// KRProject; tests implement it with stand-in pages.
class KRBuildProject
{
public:
    virtual ~KRBuildProject() = default;

    // Identity of the project's document: the sender of "KRWillBuildDocumentNotification".
    virtual const void *documentIdentity() const = 0;
    // The live XML of project.xml.
    virtual KRXMLDocument xmlDocument() const = 0;
    // The page elements to build, in order: the pages the project holds. The default is the
    // "KRPage" children of the document's first "KRPages" element, as the model reads them;
    // pages anywhere else in the file are no pages of the project.
    virtual QList<KRXMLNode> pageElements() const;
    // A fresh output page for a page element: made with design mode off and no initial id,
    // its objects loaded from the element's "KRContents" child when there is one. An error
    // when the page cannot be made (the build then fails with it).
    virtual KRResult<std::unique_ptr<KRBuildPage>> makeOutputPage(const KRXMLNode &pageElement) = 0;
    // How many pages may be made at once, each on a thread of its own, from makeOutputPage
    // to userScripts: 1 unless the project's pages are safe to make side by side. The
    // threads only read the project while the build runs.
    virtual int concurrentPageLimit() const { return 1; }

    // What addCSS for each style sheet and then addExternalScript for each script add to a
    // page's HTML text; none when the pages cannot be written before they are linked
    // (KRBuildPage::pageHTMLWithLibraryPlaceholder).
    virtual std::optional<QString> libraryLinksText(const QStringList &, const QStringList &) const
    {
        return std::nullopt;
    }

    // The web folder (the build's default output folder); empty when there is none.
    virtual QString webFolderPath() = 0;
    // The project's package folder, which an export never writes into; empty when the project
    // has none (never saved).
    virtual QString packagePath() const { return {}; }

    virtual QString startPage() const = 0;
    virtual bool singlePageDeploy() const = 0;
    virtual bool ajaxPageLoading() const = 0;
    virtual bool sitemap() const = 0;
    virtual bool generateManifest() const = 0;
    virtual bool exportLocalJQuerySources() const = 0;
    virtual bool publishBuildMode() const = 0;
    virtual QString defaultTheme() const = 0;
    // The jQuery Mobile URL table ("localPathRoot", "urlRoot", "bundlePathRoot", ...).
    virtual QVariantMap jqmURLs() const = 0;
    virtual QString manifestURL() const { return QStringLiteral("cache.manifest"); }

    virtual bool exportMode() const = 0;
    virtual void setExportMode(bool exportMode) = 0;
    // The start page's file name; null while a build runs.
    virtual void setIndexPage(const QString &fileName) = 0;

    // The top-level resources of the web folder, as last listed; reloadResources drops the
    // list so that the next call lists the folder again.
    virtual QList<std::shared_ptr<KRProjectResource>> resources() = 0;
    virtual void reloadResources() = 0;
    virtual std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name) = 0;
};

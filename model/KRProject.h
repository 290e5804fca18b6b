#pragma once

#include <core/KRXMLNode.h>
#include <model/KRProjectBase.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservationToken.h>
#include <model/KRWebFolderOwner.h>

#include <QHash>
#include <QList>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

class KRDocument;
class KRModelAdapter;
class KRPage;
class KRProjectResource;
class KRWebFolder;
class KRWebViewCache;
class KRWebViewCacheViewFactory;


// Posted with the project's identity() as sender.
inline const QString KRProjectDidCreatePageNotification = QStringLiteral("KRProjectDidCreatePageNotification"); // "newPage"
inline const QString KRProjectDidDeletePageNotification = QStringLiteral("KRProjectDidDeletePageNotification"); // "deletedPage"
inline const QString KRProjectDidRenamePageNotification = QStringLiteral("KRProjectDidRenamePageNotification"); // "oldValue", "newValue"

// A page carried in a notification's user info.
struct KRPageHandle
{
    std::shared_ptr<KRPage> page;
};
Q_DECLARE_METATYPE(KRPageHandle)

// The live model of one open project: its settings (the attributes of the "KRProject"
// element, each change undoable), its pages, its web folder with resources and themes, the
// library locations for design, preview and export. Main thread only.
class KRProject : public KRProjectBase, public KRWebFolderOwner, public std::enable_shared_from_this<KRProject>
{
public:
    // Builds the project over the document and loads its pages (design mode on: pages of an
    // open project; off: pages built for output). Errors when the document has no
    // "KRProject" or "KRPages" element.
    static KRResult<std::shared_ptr<KRProject>> create(const std::shared_ptr<KRDocument> &document,
                                                      bool designMode = true);
    // What a copy of the project for a build is made from: the project file's text as it
    // stands, the package folder, and the untitled project's web folder.
    struct Snapshot
    {
        QByteArray xml;
        QString packagePath;
        QString temporaryWebFolder;
    };
    // Main thread; quick (the text is written out, nothing is parsed).
    Snapshot snapshot() const;
    // The copy: a project of its own (design mode off, pages without their objects, which a
    // build makes afresh) over the same web folder, owned by no window. Made and then used on
    // one thread, any thread; the original is not touched.
    static KRResult<std::shared_ptr<KRProject>> fromSnapshot(const Snapshot &snapshot);
    // Hands the memory a dropped copy and its build freed back to the system: the allocator
    // keeps what a thread freed for that thread otherwise, and a build's copy of a large
    // project would stay in the application's memory after every build.
    static void releaseBuildMemory();
    ~KRProject() override;

    const void *identity() const { return static_cast<const void *>(this); }

    // --- KRProjectBase
    std::shared_ptr<KRDocument> krDocument() const override { return m_document.lock(); }
    QList<std::shared_ptr<KRPageBase>> pages() const override;
    QString designTarget() const override;
    bool autoAdjustObjects() const override { return boolSetting(QStringLiteral("autoAdjustObjects")); }
    QVariantMap &modifiedResourceCache() override;

    // --- Settings (text of the settings element's attributes)
    QString projectSettingForKey(const QString &key) const;
    // Stores the text and registers the inverse (through the typed setter) on the undo manager.
    void setProjectSetting(const QString &value, const QString &key);
    // Observation of the setting keys; old and new values as the typed getters give them.
    KRObservable &observable() { return settingsObservable(); }

    bool generateManifest() const { return boolSetting(QStringLiteral("generateManifest")); }
    void setGenerateManifest(bool on) { setBoolSetting(QStringLiteral("generateManifest"), on); }
    bool ajaxPageLoading() const { return boolSetting(QStringLiteral("ajaxPageLoading")); }
    void setAjaxPageLoading(bool on) { setBoolSetting(QStringLiteral("ajaxPageLoading"), on); }
    QString appleTouchIcon() const { return projectSettingForKey(QStringLiteral("appleTouchIcon")); }
    void setAppleTouchIcon(const QString &v) { setStringSetting(QStringLiteral("appleTouchIcon"), v); }
    QString startPage() const { return projectSettingForKey(QStringLiteral("startPage")); }
    void setStartPage(const QString &v) { setStringSetting(QStringLiteral("startPage"), v); }
    // The version the project file names ("1.3" when it names none, as files written before
    // 1.4 was shipped do). Only the shipped release is used, whatever the file names; the
    // value is kept as it is until the user chooses a version.
    QString JQMVersion() const;
    void setJQMVersion(const QString &version);
    static QString shippedJQMVersion() { return QStringLiteral("1.4"); }
    // What the user is told when the file names a version other than the shipped one (or none):
    // which release the project runs on instead. Null when it names the shipped one.
    QString unshippedJQMVersionNotice() const;
    QString defaultTheme() const override { return projectSettingForKey(QStringLiteral("defaultTheme")); }
    void setDefaultTheme(const QString &theme) override;
    void themeDidChange();
    qint64 snapGrid() const { return projectSettingForKey(QStringLiteral("snapGrid")).toLongLong(); }
    void setSnapGrid(qint64 grid);
    bool showGrid() const { return boolSetting(QStringLiteral("showGrid")); }
    void setShowGrid(bool on) { setBoolSetting(QStringLiteral("showGrid"), on); }
    void setDesignTarget(const QString &target) { setStringSetting(QStringLiteral("designTarget"), target); }
    void setAutoAdjustObjects(bool on) { setBoolSetting(QStringLiteral("autoAdjustObjects"), on); }
    bool singlePageDeploy() const { return boolSetting(QStringLiteral("singlePageDeploy")); }
    void setSinglePageDeploy(bool on) { setBoolSetting(QStringLiteral("singlePageDeploy"), on); }
    bool exportLocalJQuerySources() const { return boolSetting(QStringLiteral("exportLocalJQuerySources")); }
    void setExportLocalJQuerySources(bool on) { setBoolSetting(QStringLiteral("exportLocalJQuerySources"), on); }
    int exportLocalJQuerySourcesAsInt() const { return exportLocalJQuerySources() ? 1 : 0; }
    void setExportLocalJQuerySourcesAsInt(int v) { setExportLocalJQuerySources(v != 0); }
    bool sitemap() const { return boolSetting(QStringLiteral("sitemap")); }
    void setSitemap(bool on) { setBoolSetting(QStringLiteral("sitemap"), on); }
    QStringList javascriptIncludes() const override { return includeList(QStringLiteral("javascriptIncludes")); }
    void setJavascriptIncludes(const QStringList &list) override { setIncludeList(QStringLiteral("javascriptIncludes"), list); }
    QStringList cssIncludes() const override { return includeList(QStringLiteral("cssIncludes")); }
    void setCssIncludes(const QStringList &list) override { setIncludeList(QStringLiteral("cssIncludes"), list); }
    // Typed key-value setting (what undo calls): bool settings take "true"/"false".
    void setValue(const QString &key, const QVariant &value);
    // Removes the setting (undoable); readers see its default again.
    void removeProjectSetting(const QString &key);

    // A per-device attribute text (absent: nullopt) of one property of one object.
    struct PerDeviceText
    {
        std::weak_ptr<KRModelAdapter> adapter;
        KRXMLElement element;
        QString name;
        std::optional<QString> text;
    };

    // --- Pages
    QList<std::shared_ptr<KRPage>> krPages() const { return m_pages; }
    QList<std::shared_ptr<KRPage>> sortedPages() const;
    std::shared_ptr<KRPage> pageForID(const QString &pageID) const;
    std::shared_ptr<KRPage> createNewPage();
    std::shared_ptr<KRPage> duplicatePage(const std::shared_ptr<KRPage> &templatePage);
    void deletePage(const std::shared_ptr<KRPage> &page);
    // What opening the file had to change or leave out: renamed page ids, then each page's
    // warnings ("line N: ..."). Empty for a sound file.
    QStringList loadWarnings() const;
    // The unknown classes whose elements the pages left out while loading, each once.
    QStringList unknownClassNames() const;
    // The same as one error a caller can show the user; a null error when there is none.
    KRError loadWarningsError() const;
    // Puts a deleted page back as the last page and registers its deletion as the redo.
    void undoDeletePage(const std::shared_ptr<KRPage> &page);
    // True when any page has a server handler (a non-empty "kr_onGET" or "kr_onPOST").
    bool serverScriptsEnabled() const;
    // Each function's error records with "function_id" and "page_id" added, pages in id order.
    QList<QVariantMap> syntaxErrors() const;
    bool designMode() const { return m_designMode; }

    // --- Libraries
    QHash<QString, QString> jqmURLs() const;
    QString jqmStructureCSSURL(bool absolute) const { return libraryURL(QStringLiteral("structureCSS"), absolute); }
    QString jqmThemeCSSURL(bool absolute) const { return libraryURL(QStringLiteral("themeCSS"), absolute); }
    QString jqmIconsCSSURL(bool absolute) const { return libraryURL(QStringLiteral("iconsCSS"), absolute); }
    QString jqmJSURL(bool absolute) const { return libraryURL(QStringLiteral("js"), absolute); }
    static QString manifestURL() { return QStringLiteral("cache.manifest"); }
    // The public copies of the libraries that built pages link when they carry none of their
    // own: jQuery ("jquery") and the jQuery Mobile release's folder ("jquery.mobile-1.4.0"),
    // each on a host that serves exactly that path, over HTTPS (a site
    // served over HTTPS loads no script over plain HTTP). Every public library address a built
    // page names is one of these or lies below one. Null for an unknown name.
    static QString publicLibraryURL(const QString &name);
    static QStringList publicLibraryURLs();

    bool exportMode() const { return m_exportMode; }
    void setExportMode(bool on) { m_exportMode = on; }
    bool publishBuildMode() const { return m_publishBuildMode; }
    void setPublishBuildMode(bool on) { m_publishBuildMode = on; }
    QString indexPage() const { return m_indexPage; }
    void setIndexPage(const QString &page) { m_indexPage = page; }
    bool kvoCleanup() const { return m_kvoCleanup; }
    // The one-time clean-up when the project's window closes.
    void windowWillClose();

    // --- Resources (the web folder)
    std::shared_ptr<KRWebFolder> webFolder() const { return m_webFolder; }
    QUrl krwebURL() const;
    QList<std::shared_ptr<KRProjectResource>> resources() const;
    void reloadResources();
    QStringList themes() const;
    std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name) const;
    bool validateNewResourceName(const QString &name) const;
    bool createResource(const QString &name, const QString &templateFile);
    bool importResource(const QString &sourcePath, const QString &destinationPath);
    bool deleteResource(const std::shared_ptr<KRProjectResource> &resource);
    KRWebViewCache *webViewCache() const { return m_webViewCache.get(); }
    // The factory of the design views that the pools of projects opened in design mode from
    // now on are filled with. The GUI installs one at start-up; without one (headless) pools
    // stay empty. Returns the previous factory.
    static std::shared_ptr<KRWebViewCacheViewFactory> setWebViewFactory(std::shared_ptr<KRWebViewCacheViewFactory> factory);
    static std::shared_ptr<KRWebViewCacheViewFactory> webViewFactory();

    KRResult<QStringList> writeModifiedResources(const QString &webFolderPath) override;
    void didSaveModifiedResources(const QStringList &relativePaths) override;
    bool hasWebFolder() const override { return m_webFolder != nullptr; }

    // --- KRWebFolderOwner
    QString packagePath() const override;
    QStringList pageIDs() const override;
    void resourcesWillChange() override;
    void resourcesDidChange() override;

private:
    KRProject(const std::shared_ptr<KRDocument> &document, bool designMode);
    KRResult<void> load();
    void convertLegacyThemes(const KRXMLNode &root);
    void loadPageContents(const std::shared_ptr<KRPage> &page);
    QString freePageID() const;
    bool boolSetting(const QString &key) const { return projectSettingForKey(key) == QLatin1String("true"); }
    void setBoolSetting(const QString &key, bool on);
    void setStringSetting(const QString &key, const QString &value);
    QVariant typedValue(const QString &key) const;
    QStringList includeList(const QString &key) const;
    void setIncludeList(const QString &key, const QStringList &list);
    static bool isPerDeviceSwitch(const QString &key);
    QList<PerDeviceText> perDeviceTexts() const;
    void applyPerDeviceSwitch(const QString &key, const std::optional<QString> &text, const QList<PerDeviceText> *restore);
    QString libraryURL(const QString &kind, bool absolute) const;
    void postPage(const QString &name, const QString &key, const std::shared_ptr<KRPage> &page);
    // Registers the undo of an added page (its deletion) under the action name and announces it.
    void didAddPage(const std::shared_ptr<KRPage> &page, const QString &actionName);

    std::weak_ptr<KRDocument> m_document;
    std::shared_ptr<KRDocument> m_copyDocument; // a copy's own document (fromSnapshot)
    bool m_pagesWithoutContents = false;         // a copy's pages have no objects
    KRXMLElement m_settingsElement;
    KRXMLElement m_pagesElement;
    QList<std::shared_ptr<KRPage>> m_pages;
    QStringList m_pageIDWarnings;
    std::shared_ptr<KRWebFolder> m_webFolder;
    std::unique_ptr<KRWebViewCache> m_webViewCache;
    // Remembered when first asked for; pages made side by side by a build ask at once.
    mutable std::mutex m_cacheLock;
    mutable QHash<QString, std::optional<QStringList>> m_includeCache;
    bool m_designMode;
    bool m_exportMode = false;
    bool m_publishBuildMode = false;
    bool m_kvoCleanup = false;
    bool m_didCleanup = false;
    QString m_indexPage;
    std::vector<KRObservationToken> m_tokens;
};

#include "KRProject.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRJSONSerialization.h>
#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRLocalServerPort.h>
#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <model/KRWebViewCache.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
std::shared_ptr<KRWebViewCacheViewFactory> &installedWebViewFactory()
{
    static std::shared_ptr<KRWebViewCacheViewFactory> factory;
    return factory;
}
} // namespace

std::shared_ptr<KRWebViewCacheViewFactory> KRProject::setWebViewFactory(std::shared_ptr<KRWebViewCacheViewFactory> factory)
{
    std::swap(installedWebViewFactory(), factory);
    return factory;
}

std::shared_ptr<KRWebViewCacheViewFactory> KRProject::webViewFactory() { return installedWebViewFactory(); }

KRProject::KRProject(const std::shared_ptr<KRDocument> &document, bool designMode)
    : m_document(document), m_designMode(designMode)
{
    settingsObservable().setOwner(identity());
}

KRProject::~KRProject()
{
    windowWillClose();
    for (const auto &page : m_pages)
        page->cleanup();
}

KRResult<std::shared_ptr<KRProject>> KRProject::create(const std::shared_ptr<KRDocument> &document, bool designMode)
{
    KRPage::registerPageClass();
    std::shared_ptr<KRProject> project(new KRProject(document, designMode));
    // A damaged file is an error for the caller to show, never an exception out of open.
    try {
        if (KRResult<void> loaded = project->load(); !loaded)
            return loaded.error();
    } catch (const KRException &exception) {
        KR_LOG(QStringLiteral("The project could not be read: %1 (%2)").arg(exception.reason(), exception.name()));
        return KRError(KRDocument::ProjectErrorDomain, 1,
                       QStringLiteral("The project file could not be read: %1").arg(exception.reason()));
    }
    if (designMode && !document->project())
        document->setProject(project);
    return project;
}

KRProject::Snapshot KRProject::snapshot() const
{
    Snapshot taken;
    const auto document = krDocument();
    if (!document || document->xmlDocument().isNull())
        return taken;
    // Written out and read back where the copy is made: far quicker than copying the nodes.
    taken.xml = document->xmlDocument().xmlData();
    taken.packagePath = document->fileURL();
    if (m_webFolder && taken.packagePath.isEmpty())
        taken.temporaryWebFolder = m_webFolder->krwebPath(); // made now, so that both use the one folder
    return taken;
}

KRResult<std::shared_ptr<KRProject>> KRProject::fromSnapshot(const Snapshot &snapshot)
{
    // Read as the open project was: the empty attributes a save writes take only a name's room,
    // so that the copy takes no more memory than the project it copies.
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromData(snapshot.xml, KRDocument::adaptersEmptyAttributes());
    if (!xml)
        return xml.error();
    const std::shared_ptr<KRDocument> copy = KRDocument::makeCopy(xml.value(), snapshot.packagePath);
    std::shared_ptr<KRProject> project(new KRProject(copy, false));
    project->m_copyDocument = copy; // nothing else holds it
    // A build makes each page afresh from its element: the copy's pages need no objects.
    project->m_pagesWithoutContents = true;
    try {
        if (KRResult<void> loaded = project->load(); !loaded)
            return loaded.error();
    } catch (const KRException &exception) {
        return KRError(KRDocument::ProjectErrorDomain, 1,
                       QStringLiteral("The project could not be copied: %1").arg(exception.reason()));
    }
    if (project->m_webFolder && !snapshot.temporaryWebFolder.isEmpty()) {
        project->m_webFolder->useTemporaryWebFolder(snapshot.temporaryWebFolder);
        project->reloadResources();
    }
    return project;
}

void KRProject::releaseBuildMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

KRResult<void> KRProject::load()
{
    const auto document = krDocument();
    const KRXMLNode root = document->xmlDocument().rootElement();
    m_settingsElement = root.isNull() ? KRXMLNode() : root.firstElementForXPath(QStringLiteral("//KRProject"));
    m_pagesElement = root.isNull() ? KRXMLNode() : root.firstElementForXPath(QStringLiteral("//KRPages"));
    if (m_settingsElement.isNull() || m_pagesElement.isNull())
        return KRError(KRDocument::ProjectErrorDomain, 1,
                       QStringLiteral("The project file has no project settings or no pages."));

    m_webFolder = KRWebFolder::create(this);

    convertLegacyThemes(root);

    const std::weak_ptr<KRWebFolder> folder = m_webFolder;
    // Only a project in design mode shows its pages; the builder's projects need no views.
    m_webViewCache = std::make_unique<KRWebViewCache>(m_designMode ? webViewFactory() : nullptr, [folder] {
        const auto webFolder = folder.lock();
        return webFolder ? webFolder->krwebURL() : QUrl();
    });

    // A page id is also a script name and a file name: one that is no identifier, or that an
    // earlier page has, is renamed like a duplicate object id and the user is told.
    QSet<QString> pageIDs;
    QHash<QString, int> nextSuffix;
    for (KRXMLNode element : m_pagesElement.elementsForName(QStringLiteral("KRPage"))) {
        const QString id = element.attribute(QStringLiteral("id"));
        const bool sound = KRPage::isSoundLoadedID(QStringLiteral("KRPage"), id);
        QString newID = id;
        if (!sound || pageIDs.contains(id)) {
            const QString base = sound ? id : QStringLiteral("page");
            int &next = nextSuffix[base];
            next = std::max(next, sound ? 2 : 1);
            do {
                newID = base + QString::number(next++);
            } while (pageIDs.contains(newID));
            element.setAttribute(QStringLiteral("id"), newID);
            const QString warning = QStringLiteral("line %1: %2; this page is now '%3'")
                                        .arg(element.lineNumber())
                                        .arg(sound ? QStringLiteral("The page id '%1' is used twice").arg(id)
                                                   : QStringLiteral("'%1' is no valid page id").arg(id),
                                             newID);
            m_pageIDWarnings.append(warning);
            KR_LOG(warning);
        }
        pageIDs.insert(newID);
    }

    for (const KRXMLNode &element : m_pagesElement.elementsForName(QStringLiteral("KRPage"))) {
        auto page = KRPage::create(element, shared_from_this(), QString(), m_designMode);
        if (!page)
            return page.error();
        m_pages.append(page.value());
        if (!m_pagesWithoutContents)
            loadPageContents(page.value());
        m_webViewCache->setCachedInstanceCount(m_webViewCache->cachedInstanceCount() + 1);
    }
    reloadResources();

    if (m_designMode) {
        const std::weak_ptr<KRProject> weak = weak_from_this();
        m_tokens.push_back(document->observable().observe(
            QStringLiteral("fileURL"), [weak](const void *, const QString &, const QVariant &, const QVariant &) {
                if (const auto self = weak.lock()) {
                    self->settingsObservable().notifyChange(QStringLiteral("krwebURL"), QVariant(), QVariant());
                    self->settingsObservable().notifyChange(QStringLiteral("resources"), QVariant(), QVariant());
                }
            }));
        m_tokens.push_back(KRNotificationCenter::defaultCenter().addObserver(
            KRDidSaveDocumentNotification, document->identity(), [weak](const KRNotification &) {
                if (const auto self = weak.lock())
                    self->reloadResources();
            }));
    }
    return {};
}

// Themes kept in the project file by older versions become style sheets of the web folder.
// A theme leaves the file only once its style sheet is on disk; what cannot be written, and
// whatever else the themes element holds, stays in the file for the next attempt.
void KRProject::convertLegacyThemes(const KRXMLNode &root)
{
    KRXMLNode themes = root.firstElementForXPath(QStringLiteral("//KRThemes"));
    if (themes.isNull())
        return;
    const QString folder = m_webFolder->krwebPath();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        KR_LOG(QStringLiteral("The legacy themes stay in the project file: no web folder at \"%1\"").arg(folder));
        return;
    }
    for (KRXMLNode theme : themes.elementsForName(QStringLiteral("KRProjectTheme"))) {
        // The name comes from the file: it must not lead out of the web folder.
        const QString name = theme.attribute(QStringLiteral("name"));
        if (!KRWebFolder::isPlainFileName(name + QStringLiteral(".css"))) {
            KR_LOG(QStringLiteral("Skipping the legacy theme named \"%1\": not a plain file name").arg(name));
            continue;
        }
        if (!theme.elements().isEmpty()) {
            KR_LOG(QStringLiteral("Skipping the legacy theme \"%1\": it holds elements, not style text").arg(name));
            continue;
        }
        const QByteArray css = theme.stringValue().toUtf8();
        const QString path = QDir(folder).filePath(name + QStringLiteral(".css"));
        bool written = false;
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
            // A style sheet of the user's own: never overwritten. The same text means an
            // earlier conversion wrote it and was not saved.
            const KRResult<QByteArray> existing = KRFileManager::readPackageFile(path);
            written = existing.ok() && existing.value() == css;
            if (!written)
                KR_LOG(QStringLiteral("The legacy theme \"%1\" stays in the project file: %2 exists").arg(name, path));
        } else {
            QFile file(path);
            const bool created = file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
            written = created && file.write(css) == css.size() && file.flush();
            file.close();
            written = written && file.error() == QFileDevice::NoError;
            if (!written) {
                KR_LOG(QStringLiteral("The legacy theme \"%1\" stays in the project file: %2 could not be written: %3")
                           .arg(name, path, file.errorString()));
                if (created)
                    QFile::remove(path); // only the part this attempt wrote
            }
        }
        if (written)
            theme.detach();
    }
    // Settings or pages nested in the element keep it (they are found wherever they are).
    if (themes.elements().isEmpty())
        themes.detach();
}

void KRProject::loadPageContents(const std::shared_ptr<KRPage> &page)
{
    KRXMLNode contents = page->xmlElement().firstElementForName(QStringLiteral("KRContents"));
    if (!contents.isNull())
        page->loadChildrenFromElement(contents, page);
}

void KRProject::windowWillClose()
{
    if (m_didCleanup)
        return;
    m_didCleanup = true;
    m_tokens.clear();
    m_kvoCleanup = true;
    settingsObservable().notifyChange(QStringLiteral("kvoCleanup"), false, true);
}

QList<std::shared_ptr<KRPageBase>> KRProject::pages() const
{
    QList<std::shared_ptr<KRPageBase>> list;
    for (const auto &page : m_pages)
        list.append(page);
    return list;
}

QStringList KRProject::loadWarnings() const
{
    QStringList warnings = m_pageIDWarnings;
    for (const auto &page : m_pages) {
        for (const QString &warning : page->loadWarnings())
            warnings.append(QStringLiteral("%1, %2").arg(page->kr_id(), warning));
    }
    return warnings;
}

QStringList KRProject::unknownClassNames() const
{
    QStringList names;
    for (const auto &page : m_pages)
        for (const QString &name : page->unknownClassNames())
            if (!names.contains(name))
                names.append(name);
    return names;
}

KRError KRProject::loadWarningsError() const
{
    const QStringList warnings = loadWarnings();
    if (warnings.isEmpty())
        return {};
    return KRError(KRDocument::ProjectErrorDomain, 6,
                   QStringLiteral("Parts of the project were renamed or left out when it was opened:\n%1")
                       .arg(warnings.join(QLatin1Char('\n'))),
                   {{QStringLiteral("warnings"), warnings}});
}

QVariantMap &KRProject::modifiedResourceCache()
{
    return m_webFolder->modifiedResourceCache().mutableEntries();
}

// --- Settings

QString KRProject::projectSettingForKey(const QString &key) const
{
    // Null when the element lacks the attribute.
    return m_settingsElement.isNull() ? QString() : m_settingsElement.attribute(key);
}

QVariant KRProject::typedValue(const QString &key) const
{
    static const QStringList bools = {
        QStringLiteral("generateManifest"), QStringLiteral("ajaxPageLoading"), QStringLiteral("showGrid"),
        QStringLiteral("autoAdjustObjects"), QStringLiteral("singlePageDeploy"),
        QStringLiteral("exportLocalJQuerySources"), QStringLiteral("sitemap")};
    if (bools.contains(key))
        return boolSetting(key);
    if (key == QLatin1String("snapGrid"))
        return snapGrid();
    if (key == QLatin1String("designTarget"))
        return designTarget();
    if (key == QLatin1String("JQMVersion"))
        return JQMVersion();
    if (key == QLatin1String("javascriptIncludes") || key == QLatin1String("cssIncludes"))
        return includeList(key);
    return projectSettingForKey(key);
}

void KRProject::setProjectSetting(const QString &value, const QString &key)
{
    const QVariant old = typedValue(key);
    const bool existed = m_settingsElement.hasAttribute(key);
    KRXMLNode settings = m_settingsElement;
    settings.setAttribute(key, value);
    if (KRUndoManager *undo = undoManager()) {
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, old, key, existed] {
            if (const auto self = weak.lock()) {
                // A setting the file did not have leaves it again.
                if (existed)
                    self->setValue(key, old);
                else
                    self->removeProjectSetting(key);
            }
        });
    }
}

void KRProject::removeProjectSetting(const QString &key)
{
    if (!m_settingsElement.hasAttribute(key))
        return;
    if (isPerDeviceSwitch(key)) {
        applyPerDeviceSwitch(key, std::nullopt, nullptr);
        return;
    }
    const QVariant old = typedValue(key);
    KRXMLNode settings = m_settingsElement;
    settings.removeAttribute(key);
    {
        const std::lock_guard lock(m_cacheLock);
        m_includeCache.remove(key);
    }
    if (KRUndoManager *undo = undoManager()) {
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, old, key] {
            if (const auto self = weak.lock())
                self->setValue(key, old);
        });
    }
    settingsObservable().notifyChange(key, old, typedValue(key));
    if (key == QLatin1String("defaultTheme"))
        themeDidChange();
}

bool KRProject::isPerDeviceSwitch(const QString &key)
{
    return key == QLatin1String("designTarget") || key == QLatin1String("autoAdjustObjects");
}

QList<KRProject::PerDeviceText> KRProject::perDeviceTexts() const
{
    QList<PerDeviceText> texts;
    for (const auto &page : m_pages) {
        for (const auto &object : page->allObjects()) {
            for (const auto &adapter : object->modelAdapters()) {
                const KRPropertyDescriptor &descriptor = adapter->descriptor();
                if (!descriptor.hasOption(KRAdapterOptionPerDevice) || descriptor.hasOption(KRAdapterOptionXMLText)
                    || descriptor.hasOption(KRAdapterOptionXMLChildElement))
                    continue;
                const KRXMLElement element = adapter->xmlElement();
                const QString name = descriptor.propertyName();
                texts.append({adapter, element, name,
                              element.hasAttribute(name) ? std::optional<QString>(element.attribute(name)) : std::nullopt});
            }
        }
    }
    return texts;
}

static void writePerDeviceTexts(const QList<KRProject::PerDeviceText> &texts)
{
    for (const auto &entry : texts) {
        KRXMLElement element = entry.element;
        if (entry.text)
            element.setAttribute(entry.name, *entry.text);
        else
            element.removeAttribute(entry.name);
    }
}

// Switching the design target or auto-adjusting makes the adapters rewrite per-device texts
// and object properties. Those writes belong to the switch: they record no undo steps of
// their own, and the switch's undo puts every text it changed back as it was (the adapters'
// own inverse would write the old device's value into the new device's entry).
void KRProject::applyPerDeviceSwitch(const QString &key, const std::optional<QString> &text,
                                     const QList<PerDeviceText> *restore)
{
    const QVariant old = typedValue(key);
    const std::optional<QString> oldText =
        m_settingsElement.hasAttribute(key) ? std::optional<QString>(m_settingsElement.attribute(key)) : std::nullopt;
    const QList<PerDeviceText> before = perDeviceTexts();
    KRUndoManager *undo = undoManager();
    if (undo)
        undo->disableUndoRegistration();
    try {
        KRXMLNode settings = m_settingsElement;
        if (text)
            settings.setAttribute(key, *text);
        else
            settings.removeAttribute(key);
        settingsObservable().notifyChange(key, old, typedValue(key));
        if (restore) {
            writePerDeviceTexts(*restore);
            // The objects show what the restored texts hold for the current device.
            for (const auto &entry : *restore)
                if (const auto adapter = entry.adapter.lock())
                    adapter->setKRObjectProperty(adapter->xmlValue());
            writePerDeviceTexts(*restore);
        }
    } catch (...) {
        if (undo)
            undo->enableUndoRegistration();
        throw;
    }
    if (undo)
        undo->enableUndoRegistration();

    QList<PerDeviceText> changed;
    for (const auto &entry : before) {
        const std::optional<QString> now =
            entry.element.hasAttribute(entry.name) ? std::optional<QString>(entry.element.attribute(entry.name)) : std::nullopt;
        if (now != entry.text)
            changed.append(entry);
    }
    if (undo) {
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, key, oldText, changed] {
            if (const auto self = weak.lock())
                self->applyPerDeviceSwitch(key, oldText, &changed);
        });
    }
}

void KRProject::setValue(const QString &key, const QVariant &value)
{
    if (key == QLatin1String("javascriptIncludes") || key == QLatin1String("cssIncludes"))
        setIncludeList(key, value.toStringList());
    else if (key == QLatin1String("JQMVersion"))
        setJQMVersion(value.toString());
    else if (key == QLatin1String("defaultTheme"))
        setDefaultTheme(value.toString());
    else if (key == QLatin1String("snapGrid"))
        setSnapGrid(value.toLongLong());
    else if (value.typeId() == QMetaType::Bool)
        setBoolSetting(key, value.toBool());
    else
        setStringSetting(key, value.toString());
}

void KRProject::setBoolSetting(const QString &key, bool on)
{
    if (isPerDeviceSwitch(key)) {
        applyPerDeviceSwitch(key, on ? QStringLiteral("true") : QStringLiteral("false"), nullptr);
        return;
    }
    const QVariant old = typedValue(key);
    setProjectSetting(on ? QStringLiteral("true") : QStringLiteral("false"), key);
    settingsObservable().notifyChange(key, old, on);
}

void KRProject::setStringSetting(const QString &key, const QString &value)
{
    if (isPerDeviceSwitch(key)) {
        applyPerDeviceSwitch(key, value, nullptr);
        return;
    }
    const QVariant old = typedValue(key);
    setProjectSetting(value, key);
    settingsObservable().notifyChange(key, old, typedValue(key));
}

void KRProject::setSnapGrid(qint64 grid)
{
    const QVariant old = typedValue(QStringLiteral("snapGrid"));
    setProjectSetting(QString::number(grid), QStringLiteral("snapGrid"));
    settingsObservable().notifyChange(QStringLiteral("snapGrid"), old, grid);
}

QString KRProject::designTarget() const
{
    const QString target = projectSettingForKey(QStringLiteral("designTarget"));
    return target.isEmpty() ? QStringLiteral("iPhone") : target;
}

QString KRProject::JQMVersion() const
{
    const QString version = projectSettingForKey(QStringLiteral("JQMVersion"));
    return version.isEmpty() ? QStringLiteral("1.3") : version;
}

void KRProject::setJQMVersion(const QString &version) { setStringSetting(QStringLiteral("JQMVersion"), version); }

QString KRProject::unshippedJQMVersionNotice() const
{
    const QString stored = projectSettingForKey(QStringLiteral("JQMVersion"));
    if (stored == shippedJQMVersion() || stored.startsWith(shippedJQMVersion() + QLatin1Char('.')))
        return {};
    // The file comes from anyone: only a plain version number is repeated to the user.
    static const QRegularExpression plainVersion(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){0,2}$"));
    QString named;
    if (stored.isEmpty())
        named = QStringLiteral("This project names no jQuery Mobile version: it was made for version 1.3, which is not shipped.");
    else if (plainVersion.match(stored).hasMatch())
        named = QStringLiteral("This project was made for jQuery Mobile %1, which is not shipped.").arg(stored);
    else
        named = QStringLiteral("This project names a jQuery Mobile version that is not shipped.");
    return named + QStringLiteral(" Its pages are designed, built, previewed and exported with jQuery Mobile %1 and may "
                                  "look somewhat different. The project file keeps the version it names until you choose "
                                  "one in Project Settings.")
                       .arg(shippedJQMVersion());
}

void KRProject::setDefaultTheme(const QString &theme)
{
    setStringSetting(QStringLiteral("defaultTheme"), theme);
    themeDidChange();
}

void KRProject::themeDidChange()
{
    for (const auto &page : m_pages)
        page->themeDidChange();
}

QStringList KRProject::includeList(const QString &key) const
{
    const std::lock_guard lock(m_cacheLock);
    auto it = m_includeCache.find(key);
    if (it != m_includeCache.end() && it->has_value())
        return **it;
    const QString text = projectSettingForKey(key);
    QStringList list;
    if (!text.isEmpty()) {
        const KRResult<QJsonDocument> json = KRJSONSerialization::readDocument(text.toUtf8());
        if (!json || !json.value().isArray())
            return {}; // unparsable: read again next time
        for (const QJsonValue &entry : json.value().array())
            list.append(entry.toString());
    }
    m_includeCache.insert(key, list);
    return list;
}

void KRProject::setIncludeList(const QString &key, const QStringList &list)
{
    const QVariant old = includeList(key);
    const QString text =
        list.isEmpty() ? QString()
                       : KRJSONSerialization::storableText(QJsonDocument(QJsonArray::fromStringList(list)));
    setProjectSetting(text, key);
    {
        const std::lock_guard lock(m_cacheLock);
        m_includeCache.insert(key, list);
    }
    settingsObservable().notifyChange(key, old, list);
}

// --- Pages

QList<std::shared_ptr<KRPage>> KRProject::sortedPages() const
{
    QList<std::shared_ptr<KRPage>> sorted = m_pages;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto &a, const auto &b) { return a->kr_id() < b->kr_id(); });
    return sorted;
}

std::shared_ptr<KRPage> KRProject::pageForID(const QString &pageID) const
{
    for (const auto &page : m_pages)
        if (page->kr_id() == pageID)
            return page;
    return nullptr;
}

QString KRProject::freePageID() const
{
    for (int n = 1; n < 99999; ++n) {
        const QString candidate = QStringLiteral("page%1").arg(n);
        if (!pageForID(candidate))
            return candidate;
    }
    return QStringLiteral("page99999");
}

void KRProject::postPage(const QString &name, const QString &key, const std::shared_ptr<KRPage> &page)
{
    KRNotificationCenter::defaultCenter().post(name, identity(), {{key, QVariant::fromValue(KRPageHandle{page})}});
}

std::shared_ptr<KRPage> KRProject::createNewPage()
{
    m_webViewCache->setCachedInstanceCount(m_webViewCache->cachedInstanceCount() + 1);
    KRXMLNode element = krDocument()->xmlDocument().createElement(QStringLiteral("KRPage"));
    m_pagesElement.appendChild(element);
    auto made = KRPage::create(element, shared_from_this(), freePageID(), m_designMode);
    if (!made) {
        element.detach();
        KR_LOG(QStringLiteral("Cannot create a page: %1").arg(made.error().message()));
        return nullptr;
    }
    const auto page = made.value();
    page->initializeDefaultProperties();
    m_pages.append(page);
    didAddPage(page, QStringLiteral("Create Page"));
    return page;
}

std::shared_ptr<KRPage> KRProject::duplicatePage(const std::shared_ptr<KRPage> &templatePage)
{
    if (!templatePage || m_pagesElement.isNull())
        krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("Unable to locate page element"));
    KRXMLNode found;
    for (const KRXMLNode &element : m_pagesElement.elementsForName(QStringLiteral("KRPage"))) {
        if (!element.hasAttribute(QStringLiteral("id")))
            krRaise(KRExceptionName::InternalInconsistency,
                    QStringLiteral("Couldn't find page element ID attribute"));
        if (element.attribute(QStringLiteral("id")) == templatePage->kr_id()) {
            found = element;
            break;
        }
    }
    if (found.isNull())
        krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("Unable to locate page element"));
    KRXMLNode copy = found.deepCopy();
    copy.setAttribute(QStringLiteral("id"), freePageID());
    m_webViewCache->setCachedInstanceCount(m_webViewCache->cachedInstanceCount() + 1);
    m_pagesElement.appendChild(copy);
    auto made = KRPage::create(copy, shared_from_this(), QString(), m_designMode);
    if (!made) {
        copy.detach();
        return nullptr;
    }
    const auto page = made.value();
    m_pages.append(page);
    loadPageContents(page);
    didAddPage(page, QStringLiteral("Duplicate Page"));
    return page;
}

void KRProject::didAddPage(const std::shared_ptr<KRPage> &page, const QString &actionName)
{
    if (KRUndoManager *undo = undoManager()) {
        // In a group of its own: with none open, the name would go to the previous step.
        undo->beginUndoGrouping();
        undo->setActionName(actionName);
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(page, [weak, page] {
            if (const auto self = weak.lock())
                self->deletePage(page);
        });
        undo->endUndoGrouping();
    }
    postPage(KRProjectDidCreatePageNotification, QStringLiteral("newPage"), page);
}

namespace {

// Whether a function of the page holds findings of a syntax check: the page's leaving or
// coming back then changes the project's syntax errors.
bool krPageHasSyntaxFindings(const KRPage &page)
{
    for (const auto &object : page.allObjects())
        if (const auto function = std::dynamic_pointer_cast<KRFunction>(object); function && !function->syntaxErrors().isEmpty())
            return true;
    return false;
}

} // namespace

void KRProject::deletePage(const std::shared_ptr<KRPage> &page)
{
    if (!page || !m_pages.contains(page))
        return;
    const bool findings = krPageHasSyntaxFindings(*page);
    if (findings)
        observable().willChange(QStringLiteral("syntaxErrors"), QVariant());
    m_webViewCache->setCachedInstanceCount(std::max(0, m_webViewCache->cachedInstanceCount() - 1));
    settingsObservable().willChange(QStringLiteral("pages"), QVariant());
    KRXMLNode element = page->xmlElement();
    element.detach();
    m_pages.removeOne(page);
    if (KRUndoManager *undo = undoManager()) {
        undo->beginUndoGrouping();
        undo->setActionName(QStringLiteral("Delete Page"));
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(page, [weak, page] {
            if (const auto self = weak.lock())
                self->undoDeletePage(page);
        });
        undo->endUndoGrouping();
    }
    settingsObservable().didChange(QStringLiteral("pages"), QVariant());
    if (findings)
        observable().didChange(QStringLiteral("syntaxErrors"), QVariant());
    postPage(KRProjectDidDeletePageNotification, QStringLiteral("deletedPage"), page);
}

void KRProject::undoDeletePage(const std::shared_ptr<KRPage> &page)
{
    m_webViewCache->setCachedInstanceCount(m_webViewCache->cachedInstanceCount() + 1);
    const bool findings = krPageHasSyntaxFindings(*page);
    if (findings)
        observable().willChange(QStringLiteral("syntaxErrors"), QVariant());
    m_pagesElement.appendChild(page->xmlElement());
    m_pages.append(page);
    if (findings)
        observable().didChange(QStringLiteral("syntaxErrors"), QVariant());
    // The redo of an undone deletion deletes the page again.
    if (KRUndoManager *undo = undoManager()) {
        const std::weak_ptr<KRProject> weak = weak_from_this();
        undo->registerUndo(page, [weak, page] {
            if (const auto self = weak.lock())
                self->deletePage(page);
        });
    }
    postPage(KRProjectDidCreatePageNotification, QStringLiteral("newPage"), page);
}

QStringList KRProject::pageIDs() const
{
    QStringList ids;
    for (const auto &page : m_pages)
        ids.append(page->kr_id());
    return ids;
}

bool KRProject::serverScriptsEnabled() const
{
    return std::any_of(m_pages.cbegin(), m_pages.cend(), [](const std::shared_ptr<KRPage> &page) {
        return !page->value(QStringLiteral("kr_onGET")).isEmpty() || !page->value(QStringLiteral("kr_onPOST")).isEmpty();
    });
}

QList<QVariantMap> KRProject::syntaxErrors() const
{
    QList<QVariantMap> errors;
    for (const auto &page : sortedPages()) {
        for (const auto &object : page->allObjects()) {
            const auto function = std::dynamic_pointer_cast<KRFunction>(object);
            if (!function)
                continue;
            for (QVariantMap record : function->syntaxErrors()) {
                record.insert(QStringLiteral("function_id"), function->kr_id());
                record.insert(QStringLiteral("page_id"), page->kr_id());
                errors.append(record);
            }
        }
    }
    return errors;
}

// --- Libraries

namespace {

// The one table of public library addresses.
constexpr std::pair<const char *, const char *> kPublicLibraries[] = {
    {"jquery", "https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js"},
    {"jquery.mobile-1.4.0", "https://ajax.aspnetcdn.com/ajax/jquery.mobile/1.4.0"},
};

} // namespace

QString KRProject::publicLibraryURL(const QString &name)
{
    for (const auto &[library, url] : kPublicLibraries) {
        if (name == QLatin1String(library))
            return QString::fromLatin1(url);
    }
    return {};
}

QStringList KRProject::publicLibraryURLs()
{
    QStringList urls;
    for (const auto &[library, url] : kPublicLibraries)
        urls.append(QString::fromLatin1(url));
    return urls;
}

namespace {

// Where a library file is found: on the content-delivery host, under the local server's
// bundle path, in the application's bundle.
enum class JQMPlace { URL, LocalPath, BundlePath };

// The release the application ships, whatever version a project names.
const QString kJQMRelease = QStringLiteral("1.4.0");

QString jqmRoot(JQMPlace place)
{
    const QString &version = kJQMRelease;
    switch (place) {
    case JQMPlace::URL:
        return KRProject::publicLibraryURL(QStringLiteral("jquery.mobile-") + version);
    case JQMPlace::LocalPath:
        return QStringLiteral("/__kr_bundle/jquery.mobile-") + version;
    case JQMPlace::BundlePath:
        break;
    }
    return QStringLiteral("jquery.mobile-") + version;
}

// The file of a kind of library file ("structureCSS", "themeCSS", "js", "iconsCSS") in the
// release's folder; null for none.
QString jqmFile(const QString &kind)
{
    const QString &version = kJQMRelease;
    if (kind == QLatin1String("structureCSS"))
        return QStringLiteral("/jquery.mobile.structure-%1.min.css").arg(version);
    if (kind == QLatin1String("themeCSS"))
        return QStringLiteral("/jquery.mobile.theme-%1.min.css").arg(version);
    if (kind == QLatin1String("js"))
        return QStringLiteral("/jquery.mobile-%1.min.js").arg(version);
    if (kind == QLatin1String("iconsCSS"))
        return QStringLiteral("/jquery.mobile.icons-%1.min.css").arg(version);
    return {};
}

// The location of a kind of library file; "" for none.
QString jqmLocation(const QString &kind, JQMPlace place)
{
    const QString file = jqmFile(kind);
    return file.isNull() ? QString() : jqmRoot(place) + file;
}

} // namespace

QHash<QString, QString> KRProject::jqmURLs() const
{
    const std::pair<JQMPlace, QString> places[3] = {{JQMPlace::URL, QStringLiteral("URL")},
                                                    {JQMPlace::LocalPath, QStringLiteral("LocalPath")},
                                                    {JQMPlace::BundlePath, QStringLiteral("BundlePath")}};
    QHash<QString, QString> urls;
    urls.insert(QStringLiteral("urlRoot"), jqmRoot(JQMPlace::URL));
    urls.insert(QStringLiteral("localPathRoot"), jqmRoot(JQMPlace::LocalPath));
    urls.insert(QStringLiteral("bundlePathRoot"), jqmRoot(JQMPlace::BundlePath));
    for (const char *kind : {"structureCSS", "themeCSS", "js", "iconsCSS"}) {
        const QString name = QLatin1String(kind);
        if (jqmFile(name).isNull())
            continue;
        for (const auto &[place, suffix] : places)
            urls.insert(name + suffix, jqmLocation(name, place));
    }
    const QString &version = kJQMRelease;
    urls.insert(QStringLiteral("defaultThemeCSSResourcePath"), QStringLiteral("local-server/jquery.mobile-") + version);
    urls.insert(QStringLiteral("defaultThemeCSSResourceFile"), QStringLiteral("jquery.mobile.theme-%1.css").arg(version));
    return urls;
}

QString KRProject::libraryURL(const QString &kind, bool absolute) const
{
    // Asked for several times by every page a build makes: only the entries needed.
    QString location = jqmLocation(kind, JQMPlace::LocalPath);
    if (absolute)
        location = QStringLiteral("http://127.0.0.1:%1/%2").arg(KRLocalServerPort::port()).arg(location);
    if (m_publishBuildMode)
        location = jqmLocation(kind, JQMPlace::URL);
    if (m_exportMode) {
        const QString defaultKey = kind == QLatin1String("themeCSS") ? QStringLiteral("jquery-mobile-theme-css")
                                   : kind == QLatin1String("js")     ? QStringLiteral("jquery-mobile-js")
                                                                     : QStringLiteral("jquery-mobile-css");
        location = KRUserDefaults::sharedInstance().stringValue(defaultKey);
        if (location.isEmpty() && exportLocalJQuerySources())
            location = jqmLocation(kind, JQMPlace::BundlePath);
    }
    if (location.isEmpty())
        location = jqmLocation(kind, JQMPlace::URL);
    return location;
}

// --- Resources

QString KRProject::packagePath() const
{
    const auto document = krDocument();
    return document ? document->fileURL() : QString();
}

QUrl KRProject::krwebURL() const { return m_webFolder->krwebURL(); }

QList<std::shared_ptr<KRProjectResource>> KRProject::resources() const { return m_webFolder->resources(); }

void KRProject::reloadResources() { m_webFolder->reloadResources(); }

QStringList KRProject::themes() const { return m_webFolder->themes(); }

std::shared_ptr<KRProjectResource> KRProject::resourceForThemeName(const QString &name) const
{
    return m_webFolder->resourceForThemeName(name);
}

bool KRProject::validateNewResourceName(const QString &name) const { return m_webFolder->validateNewResourceName(name); }

bool KRProject::createResource(const QString &name, const QString &templateFile)
{
    return m_webFolder->createResource(name, templateFile);
}

bool KRProject::importResource(const QString &sourcePath, const QString &destinationPath)
{
    return m_webFolder->importResource(sourcePath, destinationPath);
}

bool KRProject::deleteResource(const std::shared_ptr<KRProjectResource> &resource)
{
    return m_webFolder->deleteResource(resource);
}

KRResult<QStringList> KRProject::writeModifiedResources(const QString &webFolderPath)
{
    return m_webFolder->writeModifiedResources(webFolderPath);
}

void KRProject::didSaveModifiedResources(const QStringList &relativePaths)
{
    m_webFolder->didSaveModifiedResources(relativePaths);
}

void KRProject::resourcesWillChange() { settingsObservable().willChange(QStringLiteral("resources"), QVariant()); }

void KRProject::resourcesDidChange() { settingsObservable().didChange(QStringLiteral("resources"), QVariant()); }

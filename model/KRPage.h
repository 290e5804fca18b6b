#pragma once

#include <model/KRPageBase.h>
#include <platform/foundation/KRObservationToken.h>

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <vector>

class DOMCSSStyleSheet;
class DOMDocument;
class DOMNode;
class DOMRecordingScriptHost;
class DOMScriptHost;
class KRLayoutSource;
class KRPage;
class KRProject;

inline const QString KRObjectPboardType = QStringLiteral("KRObjectPboardType");
// Posted by a page in design mode (sender: its identity()) when jQuery or jQuery Mobile could
// not be loaded into the view showing its design document.
inline const QString KRPageLibraryDidFailToLoadNotification = QStringLiteral("KRPageLibraryDidFailToLoadNotification");

// The script-visible bridge "___kr_page" of a design document: the library scripts' "onload"
// and "onerror" handlers call these methods and nothing else.
class KRPageProxy : public QObject
{
    Q_OBJECT
public:
    explicit KRPageProxy(KRPage *delegate) : m_delegate(delegate) {}
    Q_INVOKABLE void jqueryLoaded();
    Q_INVOKABLE void jqueryMobileLoaded();
    Q_INVOKABLE void libraryFailedToLoad();

private:
    KRPage *m_delegate; // the page owns the proxy
};

// One page of a project and its design document: an own-DOM HTML document with the page's
// jQuery Mobile page element, into which the page's objects put their elements and the
// adapters write their values. With design mode off the same document is the generated
// page. Also the registry of the page's objects (load, create, delete, clipboard).
class KRPage : public KRPageBase
{
public:
    using Block = std::function<void()>;

    // Registers the class "KRPage" and installs the design-view writer (once per process).
    static void registerPageClass();
    // Builds the page over its element; initialID null reads the element's "id".
    static KRResult<std::shared_ptr<KRPage>> create(const KRXMLElement &element, const std::shared_ptr<KRProject> &project,
                                                   const QString &initialID, bool designMode);

    KRPage(const KRObjectInit &init, const std::shared_ptr<KRProject> &project);
    ~KRPage() override;

    // --- KRPageBase
    std::shared_ptr<KRProjectBase> pageProject() const override;
    std::shared_ptr<KRObject> objectForID(const QString &objectID) const override;
    std::shared_ptr<KRObject> createNewObject(const QString &className, const QString &idBase) override
    {
        return createNewObject(className, 0, 0, idBase);
    }
    void deleteObjects(const QList<std::shared_ptr<KRObject>> &objects) override
    {
        deleteObjects(objects, QStringLiteral("Delete"));
    }
    void cutObjects(const QList<std::shared_ptr<KRObject>> &objects) override;
    void pasteboardCopyObjects(const QList<std::shared_ptr<KRObject>> &objects) override;
    std::shared_ptr<DOMElement> pageDivElement() const override { return m_pageDivElement; }

    std::shared_ptr<KRProject> project() const { return m_project.lock(); }
    QString defaultProperty() const override { return QStringLiteral("onLoad"); }
    void setValue(const QString &key, const QString &value) override;
    // Points every page link of the project (link properties, list and navigation-bar items)
    // from the old page id to the new one.
    static void followPageRename(KRProject &project, const QString &oldID, const QString &newID);
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;
    QList<KRMenuItem> contextMenuItemsForObject() override;
    void cleanup() override;

    // --- Design document
    // jQuery Mobile draws a widget's text with elements of its own that set their colour, font
    // and spacing themselves, over what the widget's control sets on its element. Such a
    // control's element carries the attribute widgetTextAttribute(), naming the CSS properties
    // of widgetTextProperties() the control sets, and the page's rules let the elements inside
    // inherit exactly those (a property left unset keeps the theme's value). A style class
    // adds such a rule for the widgets of its class (KRStyleClass).
    static QString widgetTextAttribute() { return QStringLiteral("data-kr-text"); }
    static const QStringList &widgetTextProperties();
    // The rule by which the elements inside the widgets `scope` selects inherit the properties;
    // with no properties, a rule without declarations.
    static QString widgetTextRule(const QString &scope, const QStringList &properties);
    std::shared_ptr<DOMDocument> domDocument() const { return m_domDocument; }
    std::shared_ptr<DOMElement> htmlElement() const { return m_htmlElement; }
    std::shared_ptr<DOMElement> headElement() const { return m_headElement; }
    std::shared_ptr<DOMElement> titleElement() const { return m_titleElement; }
    std::shared_ptr<DOMElement> bodyElement() const { return m_bodyElement; }
    // The sheet of the page's own style element, parsed when first asked for.
    std::shared_ptr<DOMCSSStyleSheet> styleSheet() const;
    // The sheet when anything has asked for it; null while the element's text is all there is
    // (no rule was added through the sheet).
    std::shared_ptr<DOMCSSStyleSheet> styleSheetIfParsed() const { return m_styleSheet; }
    std::shared_ptr<DOMElement> themeStyleElement() const { return m_themeStyleElement; }
    std::shared_ptr<DOMElement> themeLinkElement() const { return m_themeLinkElement; }
    // The host the document's scripts run in: a recording host until the GUI attaches a live one.
    DOMScriptHost *scriptHost() const { return m_scriptHost; }
    void setScriptHost(DOMScriptHost *host);
    KRPageProxy *pageProxy() const { return m_proxy.get(); }
    // Where the page's controls read rendered sizes (checkSize, controlHeight): the live view's
    // measurements while the page is shown, null while it is not (headless: no sizes known).
    // The page does not own it.
    const KRLayoutSource *layoutSource() const { return m_layoutSource; }
    void setLayoutSource(const KRLayoutSource *source) { m_layoutSource = source; }
    void evaluateScript(const QString &script);
    QSet<QString> manifestResources() const { return m_manifestResources; }
    void setManifestResources(const QSet<QString> &resources) { m_manifestResources = resources; }

    void setThemeCSS();
    void themeDidChange() { setThemeCSS(); }
    void updateTheme();
    // Runs the block once jQuery Mobile has loaded in the design document.
    void onJQueryMobileLoaded(Block block);
    bool didJQueryMobileLoad() const { return m_didJQueryMobileLoad; }
    // Queues an object's design-time set-up (enhancing or drawing the markup it has just built)
    // for when jQuery Mobile has loaded. The page keeps the latest one of each object and runs
    // it again, in document order, in a view that mirrors the page anew.
    void queueDesignSetUp(const std::shared_ptr<KRObject> &object, Block block);
    void queueDesignSetUpScript(const std::shared_ptr<KRObject> &object, const QString &script);
    // Whether a set-up queued for an object still here has yet to run.
    bool hasPendingDesignSetUps() const;
    // Evaluates a script file once in the view showing the page; a view that mirrors the page
    // anew evaluates it once more. False when the file cannot be read.
    bool evaluateScriptFileOnce(const QString &path);
    // Adds the jQuery Mobile scripts after jQuery; called again when a view mirrors the page
    // anew, it adds them once more without duplicates and waits for their load again.
    void addJQMjs();
    void addJQMMobileinit();
    void jqueryMobileLoaded();
    void libraryFailedToLoad();
    // Points the design document's library addresses at the runtime server's current port
    // (it had none, or another one, when they were made). The view must load the document
    // anew for them to take effect.
    void refreshLibraryAddresses();
    void addExternalScript(const QString &source);
    void addCSS(const QString &href);
    // The elements addExternalScript and addCSS add to the head.
    static std::shared_ptr<DOMElement> externalScriptElement(DOMDocument &document, const QString &source);
    static std::shared_ptr<DOMElement> stylesheetLinkElement(DOMDocument &document, const QString &href);
    void addScript(const QString &text);
    void addBaseElement();
    static std::shared_ptr<DOMElement> getOrCreateChildElement(DOMDocument &document, const std::shared_ptr<DOMElement> &parent,
                                                               const QString &name);

    // --- Objects
    // Registers an object; raises "DuplicateIDException" for a taken id.
    void addObject(const std::shared_ptr<KRObject> &object);
    // Makes the objects of a "KRContents" element in position order. Elements of unknown or
    // abstract classes, or that cannot be made, are skipped with a warning (and stay in the
    // file). An id that is no valid identifier gets the class's id base and the first free
    // number; a taken id X the first free of X2, X3, ...; the element keeps the new id and
    // each rename is a warning.
    void loadChildrenFromElement(const KRXMLElement &contents, const std::shared_ptr<KRObject> &parent);
    // An id a loaded object of the class may keep: a JavaScript identifier that is not a
    // reserved word (for a style class also a CSS class name).
    static bool isSoundLoadedID(const QString &className, const QString &objectID);
    std::shared_ptr<KRObject> createNewObject(const QString &className, double x, double y, const QString &idBase);
    // Deletes the objects as one step (an object nested in a div deleted with it leaves with
    // the div); its undo puts them all back, its redo deletes them again, each at once.
    void deleteObjects(const QList<std::shared_ptr<KRObject>> &objects, const QString &actionName);
    // The pasted objects; empty when the pasteboard holds nothing usable.
    QList<std::shared_ptr<KRObject>> pasteObjects();
    void loadRequiredResourcesFromClass(const QString &className);
    // The control whose element is the node or the nearest of its ancestors that is one; null
    // when none. A control nested in a div is found, not the div, whatever their ids.
    std::shared_ptr<KRObject> objectFromElement(const std::shared_ptr<DOMNode> &node) const;
    // Design mode: puts the elements of the controls beside the object's element in the order
    // a built page has them (loadChildrenFromElement: by top, then left, ties in file order),
    // so that the surface draws later ones above earlier ones as the built page does. Only the
    // elements out of order move; their design set-ups run again.
    void arrangeInBuildOrder(const std::shared_ptr<KRObject> &object);
    // While held (a move on the surface under way), position changes only note the control;
    // letting go arranges the noted ones.
    void holdBuildOrder(bool hold);
    // Every object of the page, the page included, sorted by id.
    QList<std::shared_ptr<KRObject>> allObjects() const;
    // The page's objects by id, without the page itself (which holds them).
    const QHash<QString, std::shared_ptr<KRObject>> &kr_objects() const { return m_objects; }
    bool isIDTaken(const QString &objectID) const
    {
        return objectID == kr_id() || (mayHoldID(objectID) && m_objects.contains(objectID));
    }
    // In the order the classes name them (a script may need one named before it).
    QStringList requiredObjectScripts() const { return m_requiredObjectScripts; }
    QSet<QString> requiredStylesheets() const { return m_requiredStylesheets; }
    QSet<QString> requiredResources() const { return m_requiredResources; }
    // Warnings met while loading ("line N: message").
    QStringList loadWarnings() const { return m_loadWarnings; }
    // The classes of the elements left out while loading because no class of that name is
    // known, each once, in the order met.
    QStringList unknownClassNames() const { return m_unknownClassNames; }
    int lastPasteTopOffset() const { return m_pasteTop; }
    int lastPasteLeftOffset() const { return m_pasteLeft; }

protected:
    void willEnableModelAdapters() override;

private:
    // The object and the objects nested in it, the object first.
    static QList<std::shared_ptr<KRObject>> withDescendants(const std::shared_ptr<KRObject> &object);
    void buildDocument();
    void finishDocument();
    void rebuildAllObjectsArray();
    void loadChildren(const KRXMLElement &contents, const std::shared_ptr<KRObject> &parent);
    // What loading asks of an element's class: looked up once per class while a load runs, as
    // the objects of a page are mostly of a few classes.
    struct LoadClass
    {
        // The class's own name (the registry's text, which it finds without comparing).
        QString className;
        bool instantiable = false;
        bool styleClass = false;
        bool function = false;
        bool div = false;
    };
    LoadClass loadClass(const QString &className);
    static bool isSoundLoadedID(const QString &objectID, bool styleClass);
    QString freeLoadID(const QString &base, int first);
    // Follows the object's id (and, for a control in design mode, its position).
    void observeID(const std::shared_ptr<KRObject> &object);
    void objectIDDidChange(KRObject &object, const QVariant &oldValue, const QVariant &newValue);
    void objectDidMove(KRObject &object);
    // Paste: gives the element and the objects nested in it their ids (the pasted id when it
    // is sound and free, else the first free of the class's base), noting each change in
    // `renamed`; drops nested elements that cannot be made.
    // `tried` holds, for each id base, the number after the last one found taken or chosen in
    // this paste: the next copy of that base starts there.
    void choosePastedIDs(KRXMLNode &element, QSet<QString> &chosen, QHash<QString, QString> &renamed,
                         QHash<QString, int> &tried);
    // Points the function references of the element and its nested elements at the new ids.
    static void followPastedRenames(KRXMLNode &element, const QHash<QString, QString> &renamed);
    // Makes the objects nested in a pasted div, in the order a load makes them.
    void pasteNestedObjects(const KRXMLNode &element, const std::shared_ptr<KRObject> &parent);
    KRXMLNode contentsElement();
    QString jQueryURL() const;
    void queueToolbarFix();
    void detachJQMScripts();
    // A new view (or the same one reloaded) starts from the bare markup: queues the toolbar
    // fix, the class scripts and each object's latest set-up again.
    void requeueDesignSetUps();
    // Restored elements hold the markup their objects built, not what the objects' set-ups
    // made of it in the view: the set-ups that had run run again, as for new objects.
    void rerunDesignSetUps(const std::shared_ptr<KRObject> &object);
    void evaluateRequiredObjectScripts();

    std::weak_ptr<KRProject> m_project;
    std::shared_ptr<DOMDocument> m_domDocument;
    std::shared_ptr<DOMElement> m_htmlElement, m_headElement, m_titleElement, m_bodyElement, m_pageDivElement;
    std::shared_ptr<DOMElement> m_themeStyleElement, m_themeLinkElement;
    std::shared_ptr<DOMElement> m_styleElement;
    mutable std::shared_ptr<DOMCSSStyleSheet> m_styleSheet;
    std::unique_ptr<DOMRecordingScriptHost> m_recordingHost;
    DOMScriptHost *m_scriptHost = nullptr;
    const KRLayoutSource *m_layoutSource = nullptr;
    std::unique_ptr<KRPageProxy> m_proxy;
    QHash<QString, std::shared_ptr<KRObject>> m_objects;
    // One bit for each id ever put in m_objects, chosen by a cheap sum of its characters: an
    // id whose bit is clear is not there, which is told without hashing it the table's way
    // (most ids checked while loading are free).
    std::array<std::uint64_t, 16> m_idBits{};
    static unsigned idBit(const QString &objectID)
    {
        std::uint32_t sum = 2166136261u;
        for (const QChar c : objectID)
            sum = (sum ^ c.unicode()) * 16777619u;
        return (sum ^ (sum >> 15)) & 1023;
    }
    void noteID(const QString &objectID)
    {
        const unsigned bit = idBit(objectID);
        m_idBits[bit >> 6] |= std::uint64_t(1) << (bit & 63);
    }
    bool mayHoldID(const QString &objectID) const
    {
        const unsigned bit = idBit(objectID);
        return (m_idBits[bit >> 6] >> (bit & 63)) & 1;
    }
    // A deleted object and where it was: before the node that followed it, in its parent.
    struct DeletedObject
    {
        std::shared_ptr<KRObject> object;
        KRXMLElement xmlParent;
        KRXMLNode xmlNext;
        std::shared_ptr<DOMNode> domParent;
        std::shared_ptr<DOMNode> domNext;
    };
    // Puts deleted objects back where they were, the last deleted first (so that each one's
    // follower is back by then): before the node that followed it when that is still in the
    // same parent, else at the end.
    void undoDeleteObjects(const std::vector<DeletedObject> &deleted);
    // Objects added between these join the sorted list of all objects, which is told of the
    // change once, when the outermost batch ends (a load, a paste, an undo of a deletion).
    void beginObjectBatch() { ++m_loadDepth; }
    void endObjectBatch();
    // Arranges in build order the controls beside each of the objects, each group once.
    void arrangeEachContainerOnce(const std::vector<std::shared_ptr<KRObject>> &objects);
    std::map<const void *, KRObservationToken> m_idTokens; // id and, in design mode, position
    bool m_buildOrderHeld = false;
    std::vector<std::weak_ptr<KRObject>> m_heldArrangements;
    QList<std::shared_ptr<KRObject>> m_allObjects;
    std::vector<Block> m_onJQMLoadedBlocks;
    std::vector<std::shared_ptr<DOMElement>> m_jqmScripts; // what addJQMjs added, in order
    struct DesignSetUp
    {
        Block block;
        quint64 serial = 0;
        bool pending = false; // queued and not run yet
    };
    std::map<std::weak_ptr<KRObject>, DesignSetUp, std::owner_less<std::weak_ptr<KRObject>>> m_designSetUps;
    quint64 m_designSetUpSerial = 0;
    QSet<QString> m_evaluatedScriptFiles; // in the current view
    QSet<QString> m_designModeSources, m_requiredStylesheets, m_requiredResources;
    QStringList m_requiredObjectScripts;
    QSet<QString> m_manifestResources;
    QStringList m_loadWarnings;
    QStringList m_unknownClassNames;
    QHash<QString, int> m_nextLoadSuffix; // while loading: the next number to try per id base
    // While loading: the classes met, the first few in a list searched in order (a page uses
    // a handful), any further ones in the table.
    std::vector<std::pair<QString, LoadClass>> m_loadClassList;
    QHash<QString, LoadClass> m_loadClasses;
    int m_loadDepth = 0;
    std::vector<KRObservationToken> m_tokens;
    int m_pasteTop = 0;
    int m_pasteLeft = 0;
    bool m_lastPasteboardOperatorWasCopy = false;
    bool m_didCleanup = false;
    bool m_didJQueryMobileLoad = false;
    bool m_toolbarFixQueued = false;
};

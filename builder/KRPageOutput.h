#pragma once

#include <builder/KRBuildSource.h>

#include <platform/foundation/KRError.h>

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class KRObject;
class KRPage;
class KRProject;
struct KRObjectClass;

// The output of one page for a build: a page made with design mode off whose objects are
// loaded, finished for the built application (the content wrapped in the page form, the
// script elements added) and written out as the page's HTML file, its server page file and
// its block of "KR-user-scripts.js". Lives for one build.
class KRPageOutput final : public KRBuildPage
{
public:
    // Makes the page of a page element with design mode off and no initial id, and loads its
    // objects from the element's "KRContents" child when there is one.
    static KRResult<std::unique_ptr<KRPageOutput>> create(const KRXMLNode &pageElement,
                                                          const std::shared_ptr<KRProject> &project);
    explicit KRPageOutput(std::shared_ptr<KRPage> page);
    ~KRPageOutput() override;

    const std::shared_ptr<KRPage> &page() const { return m_page; }

    // When one object of the page is a form control: moves the page element's content into
    // a form "_form_<page id>" (with "data-ajax" "false" and the page's form method when set).
    void addFormElement() override;
    // Names and ids stand in the page as the user wrote them, but for the few that would put
    // an element where jQuery or jQuery Mobile read a member of the page's form or of the
    // document (JQMShadowedNames): such a name becomes "kr-name-<name>", kept in
    // "data-kr-name" (the runtime sends the field under it and fills it from it), such an id
    // "kr-id-<id>", and a warning says what no longer finds them.
    void separateShadowingNames() override;
    QStringList warnings() const override { return m_warnings; }
    // The script elements: the runtime and the user script, the project's and the page's
    // JavaScript includes, the plug-in runtime scripts; for a server page the form data
    // expression at the end of the page element.
    void addScripts() override;
    QString userScripts() override;

    // The "runtimeSource" entries of the page's plug-in classes, each once; and the same as
    // full paths below each class's plug-in folder (an entry that is a full path stays as it
    // is). The page links each file by its file name, where the builder copies it.
    QStringList pluginRuntimeScripts() const;
    QStringList pluginRuntimeScriptFiles() override;

    QString pageID() const override;
    QSet<QString> manifestResources() const override;
    QStringList requiredObjectScripts() const override;
    QSet<QString> requiredStylesheets() const override;
    QSet<QString> requiredResources() const override;
    void addCSS(const QString &path) override;
    void addExternalScript(const QString &path) override;
    std::shared_ptr<DOMElement> pageDivElement() const override;

    bool serverScriptsEnabled() const override;
    // Whether a page has a server handler: its "kr_onGET" or "kr_onPOST" is not empty.
    static bool serverScriptsEnabled(const KRObject &page);

    // "<!DOCTYPE HTML>" and the page document, the style-class rules at the start of the
    // style element, file addresses below the package made relative. Throws
    // NSInternalInconsistencyException when the document has no style element.
    QString pageHTML() override;
    // The server page file: the project's page map, the page's HTML and its onGET/onPOST
    // handlers, each in a CDATA section.
    QString pageKRML() override;
    QString pageHTMLWithLibraryPlaceholder(const QString &placeholder) override;
    // The HTML of the elements addCSS and addExternalScript add to a page, in that order.
    static QString libraryLinksText(const QStringList &stylesheets, const QStringList &scripts);

    // Where plug-in classes keep their data: the plug-in's folder and its "runtimeSource"
    // list. Without a provider of its own (an empty one puts the default back) the data of
    // the loaded plug-ins is used (KRPlugin: its bundle, the full paths of the scripts of the
    // class and of its plug-in superclasses, superclasses first).
    struct PluginClassData
    {
        QString pluginBasePath;
        QStringList runtimeSource;
    };
    using PluginClassDataProvider = std::function<PluginClassData(const KRObjectClass &)>;
    static void setPluginClassDataProvider(PluginClassDataProvider provider);

private:
    std::shared_ptr<KRPage> m_page;
    QStringList m_warnings;
};

#include "KRPageTestSupport.h"

#include "KRModelTestFixtures.h"
#include "KRTestSupport.h"

#include <model/KRClassRegistry.h>
#include <model/KRLocalServerPort.h>
#include <model/KRStyleClass.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

KRDesignControl::KRDesignControl(const KRObjectInit &init) : KRObject(init)
{
    setVisualObject(true);
    const auto page = std::dynamic_pointer_cast<KRPage>(init.page);
    if (!page)
        return;
    auto doc = page->domDocument();
    auto div = doc->createElement(QStringLiteral("div"));
    span = doc->createElement(QStringLiteral("span"));
    select = doc->createElement(QStringLiteral("select"));
    div->appendChild(span);
    div->appendChild(select);
    page->pageDivElement()->appendChild(div);
    setDomElement(div);
}

void krRegisterDesignTestClasses()
{
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRPage::registerPageClass();
    krRegisterTestClasses();
    static bool done = false;
    if (done)
        return;
    done = true;
    KRObjectClass control;
    control.className = QStringLiteral("KRDesignControl");
    control.superclassName = QStringLiteral("KRObject");
    control.idBase = QStringLiteral("control");
    control.requiredScripts = {QStringLiteral("test/control.js")};
    auto d = [](const char *name, const char *html, const char *css, std::uint32_t options) {
        return KRPropertyDescriptor(QString::fromLatin1(name), QString::fromLatin1(html), QString::fromLatin1(css), options);
    };
    control.descriptors = {
        d("top", "", "top", KRAdapterOptionCSSPixels),
        d("left", "", "left", KRAdapterOptionCSSPixels),
        d("width", "", "width", KRAdapterOptionCSSPixels),
        d("color", "", "color", 0),
        d("backgroundColor", "", "background-color", KRAdapterOptionParentStyle),
        d("backgroundImage", "", "background-image", KRAdapterOptionCSSURL),
        d("backgroundGradient", "", "background", KRAdapterOptionLinearGradient),
        d("padding", "", "padding", KRAdapterOptionCSSPixels),
        d("paddingTop", "", "padding-top", KRAdapterOptionCSSPixels),
        d("content", "", "", KRAdapterOptionHTMLContent | KRAdapterOptionXMLChildElement),
        d("checked", "checked", "", KRAdapterOptionBooleanAttribute),
        d("visible", "", "display", KRAdapterOptionDisplayBoolean),
        d("name", "name", "", KRAdapterOptionPagePrefixedID | KRAdapterOptionDefaultToID),
        d("hidden", "", "visibility", KRAdapterOptionNoDesignDOM),
    };
    control.factory = [](const KRObjectInit &init) { return std::make_shared<KRDesignControl>(init); };
    KRClassRegistry::sharedInstance().registerClass(control);

    // A control whose inner select holds the option list.
    KRObjectClass select;
    select.className = QStringLiteral("KRDesignSelect");
    select.superclassName = QStringLiteral("KRDesignControl");
    select.idBase = QStringLiteral("select");
    select.descriptors = {
        d("options", "", "", KRAdapterOptionOptionList | KRAdapterOptionXMLChildElement),
        d("value", "", "", KRAdapterOptionRefreshOptions),
    };
    select.factory = [](const KRObjectInit &init) {
        auto control = std::make_shared<KRDesignControl>(init);
        control->setDomElement(control->select);
        return control;
    };
    KRClassRegistry::sharedInstance().registerClass(select);
}

QByteArray krProjectXML(const QString &pagesXML, const QString &settings)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                          "<KRProject %2/><KRPages>%3</KRPages></KRProjectDocument>\n")
        .arg(KRDocument::applicationShortVersion(), settings, pagesXML)
        .toUtf8();
}

std::shared_ptr<KRProject> krOpenProject(const QByteArray &projectXML, bool designMode,
                                         std::shared_ptr<KRDocument> *documentOut)
{
    krRegisterDesignTestClasses();
    return krOpenRegisteredProject(projectXML, designMode, documentOut);
}

std::shared_ptr<KRProject> krOpenRegisteredProject(const QByteArray &projectXML, bool designMode,
                                                   std::shared_ptr<KRDocument> *documentOut)
{
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Test.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), projectXML);
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return nullptr;
    if (documentOut)
        *documentOut = document.value();
    // The project holds its document weakly (the window owns it); the tests keep it.
    static QList<std::shared_ptr<KRDocument>> keptDocuments;
    keptDocuments.append(document.value());
    KRResult<std::shared_ptr<KRProject>> project = KRProject::create(document.value(), designMode);
    return project ? project.value() : nullptr;
}

void krExpectGoldenFile(const QString &path, const QString &actual)
{
    const QString expected = QString::fromUtf8(KRTest::readFile(path));
    if (expected != actual) {
        KRTest::writeFile(path + QStringLiteral(".FAILED"), actual.toUtf8());
        ADD_FAILURE() << "golden mismatch: " << path.toStdString() << " (see .FAILED)";
    } else {
        QFile::remove(path + QStringLiteral(".FAILED"));
    }
}

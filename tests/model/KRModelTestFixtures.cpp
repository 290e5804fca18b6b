#include "KRModelTestFixtures.h"

#include <model/KRClassRegistry.h>

#include <QDir>
#include <QFile>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>

QList<std::shared_ptr<KRPageBase>> KRTestProject::pages() const
{
    QList<std::shared_ptr<KRPageBase>> list;
    for (const auto &page : m_pages)
        list.append(page);
    return list;
}

void KRTestProject::setDesignTarget(const QString &target)
{
    const QString old = m_designTarget;
    m_designTarget = target;
    settingsObservable().notifyChange(QStringLiteral("designTarget"), old, target);
}

void KRTestProject::setAutoAdjustObjects(bool on)
{
    const bool old = m_autoAdjust;
    m_autoAdjust = on;
    settingsObservable().notifyChange(QStringLiteral("autoAdjustObjects"), old, on);
}

void KRTestProject::kvoCleanup()
{
    settingsObservable().notifyChange(QStringLiteral("kvoCleanup"), false, true);
}

void KRTestProject::loadPages(bool designMode, const QString &pageClass)
{
    const KRXMLNode pagesElement = m_document->xmlDocument().rootElement().firstElementForXPath(QStringLiteral("//KRPages"));
    for (const KRXMLNode &element : pagesElement.elementsForName(QStringLiteral("KRPage"))) {
        auto page = KRTestPage::make(element, shared_from_this(), designMode, pageClass);
        m_pages.append(page);
        page->loadObjects(loadErrors);
        page->setEnableUndo(true);
    }
}

std::shared_ptr<KRTestPage> KRTestPage::make(const KRXMLElement &element, const std::shared_ptr<KRTestProject> &project,
                                             bool designMode, const QString &className)
{
    krRegisterTestClasses();
    KRObjectInit init;
    init.objectClass = KRClassRegistry::sharedInstance().classNamed(className);
    init.element = element;
    init.designMode = designMode;
    auto page = std::make_shared<KRTestPage>(init);
    page->m_project = project;
    page->setUp();
    return page;
}

KRXMLNode KRTestPage::contents()
{
    KRXMLNode element = xmlElement();
    return element.firstElementForName(QStringLiteral("KRContents"), true);
}

void KRTestPage::loadObjects(QStringList &errors)
{
    const auto self = std::static_pointer_cast<KRPageBase>(shared_from_this());
    for (const KRXMLNode &element : contents().elements()) {
        KRResult<std::shared_ptr<KRObject>> made =
            KRClassRegistry::sharedInstance().makeObject(QString(), element, self, nullptr, QString(), designMode());
        if (!made) {
            errors.append(QStringLiteral("line %1: %2").arg(element.lineNumber()).arg(made.error().message()));
            continue;
        }
        addObject(made.value());
    }
}

void KRTestPage::addObject(const std::shared_ptr<KRObject> &object)
{
    m_objects.insert(object->kr_id(), object);
    m_order.append(object);
    object->setEnableUndo(true);
}

std::shared_ptr<KRObject> KRTestPage::createNewObject(const QString &className, const QString &idBase)
{
    QString id = idBase;
    for (int n = 2; m_objects.contains(id); ++n)
        id = idBase + QString::number(n);
    KRXMLNode element = xmlElement().document().createElement(className);
    contents().appendChild(element);
    KRResult<std::shared_ptr<KRObject>> made = KRClassRegistry::sharedInstance().makeObject(
        className, element, std::static_pointer_cast<KRPageBase>(shared_from_this()), nullptr, id, designMode());
    if (!made) {
        element.detach();
        return nullptr;
    }
    made.value()->initializeDefaultProperties();
    addObject(made.value());
    return made.value();
}

void KRTestPage::deleteObjects(const QList<std::shared_ptr<KRObject>> &objects)
{
    for (const auto &object : objects) {
        m_objects.remove(object->kr_id());
        m_order.removeOne(object);
        object->xmlElement().detach();
        KRNotificationCenter::defaultCenter().post(
            KRPageDidDeleteObjectNotification, identity(),
            {{QStringLiteral("deletedObject"), QVariant::fromValue(KRObjectHandle{object})}});
    }
}


void krRegisterTestClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    KRObjectClass page;
    page.className = QStringLiteral("KRTestPage");
    page.superclassName = QStringLiteral("KRObject");
    page.idBase = QStringLiteral("page");
    page.descriptors = {
        KRPropertyDescriptor(QStringLiteral("title"), QString(), QString(), KRAdapterOptionJSString),
        KRPropertyDescriptor(QStringLiteral("onLoad"), QString(), QString(),
                             KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
        KRPropertyDescriptor(QStringLiteral("cssIncludes"), QString(), QString(), KRAdapterOptionXMLChildElement),
    };
    page.factory = [](const KRObjectInit &init) { return std::make_shared<KRTestPage>(init); };
    registry.registerClass(page);

    KRObjectClass control;
    control.className = QStringLiteral("KRTestControl");
    control.superclassName = QStringLiteral("KRObject");
    control.idBase = QStringLiteral("control");
    control.descriptors = {
        KRPropertyDescriptor(QStringLiteral("top"), QString(), QStringLiteral("top"),
                             KRAdapterOptionPerDevice | KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("left"), QString(), QStringLiteral("left"),
                             KRAdapterOptionPerDevice | KRAdapterOptionCSSPixels),
        KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionJSString),
        KRPropertyDescriptor(QStringLiteral("count"), QString(), QString(), KRAdapterOptionJSNumber),
        KRPropertyDescriptor(QStringLiteral("enabled"), QString(), QString(), KRAdapterOptionJSBoolean),
        KRPropertyDescriptor(QStringLiteral("raw"), QString(), QString(), KRAdapterOptionJSRaw),
        KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                             KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
        KRPropertyDescriptor(QStringLiteral("custom"), QString(), QString(), KRAdapterOptionJSCustom),
        KRPropertyDescriptor(QStringLiteral("content"), QString(), QString(),
                             KRAdapterOptionXMLText | KRAdapterOptionXMLChildElement | KRAdapterOptionUpdateDesignView),
        KRPropertyDescriptor(QStringLiteral("notes"), QString(), QString(),
                             KRAdapterOptionXMLChildElement | KRAdapterOptionCheckSize),
        KRPropertyDescriptor(QStringLiteral("both"), QString(), QString(),
                             KRAdapterOptionJSNumber | KRAdapterOptionJSString | KRAdapterOptionJSBoolean),
    };
    control.factory = [](const KRObjectInit &init) { return std::make_shared<KRTestControl>(init); };
    registry.registerClass(control);

    // A page class under the catalogue's page name, for catalogue-driven behaviour.
    KRObjectClass catalogued;
    catalogued.className = QStringLiteral("KRPage");
    catalogued.superclassName = QStringLiteral("KRTestPage");
    registry.registerClass(catalogued);
}

std::shared_ptr<KRTestProject> krOpenTestProject(const QString &folder, const QByteArray &projectXML, bool designMode,
                                                 const QString &pageClass)
{
    krRegisterTestClasses();
    const QString package = folder + QStringLiteral("/Test.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    QFile file(package + QStringLiteral("/project.xml"));
    if (!file.open(QIODevice::WriteOnly) || file.write(projectXML) != projectXML.size())
        return nullptr;
    file.close();
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return nullptr;
    auto project = std::make_shared<KRTestProject>(document.value());
    project->loadPages(designMode, pageClass);
    return project;
}

QString KRTestControl::jsInitializerForKey(const QString &key) const
{
    return key == QLatin1String("kr_custom") && !value(key).isEmpty() ? QStringLiteral("custom(") + value(key) + QLatin1Char(')')
                                                                      : QString();
}

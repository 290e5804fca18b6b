// Loads every shipped model data file through the real loaders and checks what the files
// refer to. Each problem names the file and line.

#include "KRModelTestFixtures.h"

#include <model/KRClassRegistry.h>
#include <model/KRObjectInfo.h>

#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

namespace {

const QString kResources = QStringLiteral(KR_SOURCE_DIR "/resources");

QString at(const QString &file, const KRXMLNode &node, const QString &problem)
{
    return QStringLiteral("%1 line %2: %3").arg(file).arg(node.isNull() ? 0 : node.lineNumber()).arg(problem);
}

TEST(ModelDataFiles, CatalogueLoadsCleanlyAndItsReferencesResolve)
{
    KRObjectInfo info(kResources + QStringLiteral("/KRObjectInfo.xml"));
    QStringList problems = info.loadProblems();
    const QString file = QStringLiteral("KRObjectInfo.xml");
    const KRXMLNode root = info.xml().rootElement();

    for (const char *set : {"boolOptions", "designViewBackgrounds", "themeOptions", "listIconOptions",
                            "buttonIconOptions", "pageTransitionOptions"}) {
        if (info.enumOptions(QLatin1String(set)).isEmpty())
            problems << at(file, root, QStringLiteral("the option set \"%1\" is missing or empty").arg(QLatin1String(set)));
    }
    const auto backgrounds = info.enumOptions(QStringLiteral("designViewBackgrounds"));
    for (const QString &key : backgrounds.keyEnumerator()) {
        if (QImage(kResources + QStringLiteral("/backgrounds/") + key + QStringLiteral(".png")).isNull())
            problems << at(file, root.firstElementForXPath(QStringLiteral("//enumOptions[@name='designViewBackgrounds']/option[@key='%1']").arg(key)),
                           QStringLiteral("no background image \"%1.png\"").arg(key));
    }
    if (!info.standardDeviceInformation().contains(QStringLiteral("iPhone")))
        problems << at(file, root, QStringLiteral("the device \"iPhone\" is missing"));
    for (const QString &id : info.standardDeviceInformation().keyEnumerator()) {
        const auto &device = *info.standardDeviceInformation().find(id);
        const QImage picture = device->image();
        const KRXMLNode element = root.firstElementForXPath(QStringLiteral("//devices/device[@id='%1']").arg(id));
        if (picture.isNull())
            problems << at(file, element, QStringLiteral("no device image \"%1\"").arg(device->imagePath()));
        else if (picture.width() < device->offsetX() + device->width || picture.height() < device->offsetY() + device->height)
            problems << at(file, element, QStringLiteral("the display area of \"%1\" lies outside its picture").arg(id));
    }
    for (const char *id : {"propertyHelp", "objectHelp", "otherHelp"}) {
        const QString templ = id == QLatin1String("propertyHelp") ? info.propertyHelpTemplate()
                              : id == QLatin1String("objectHelp") ? info.objectHelpTemplate()
                                                                  : info.otherHelpTemplate();
        if (!templ.contains(QStringLiteral("{{KR}}")))
            problems << at(file, root, QStringLiteral("the template \"%1\" lacks {{KR}}").arg(QLatin1String(id)));
    }
    if (!info.syntaxErrorTemplate().contains(QStringLiteral("{{line}}")))
        problems << at(file, root, QStringLiteral("the syntax-error template lacks {{line}}"));
    for (const QString &className : info.classNames()) {
        const KRXMLNode object = root.firstElementForXPath(QStringLiteral("//object[@className='%1']").arg(className));
        if (!info.objectIconName(className).isEmpty() && info.objectIcon(className).isNull())
            problems << at(file, object, QStringLiteral("no icon \"%1\"").arg(info.objectIconName(className)));
        if (info.objectDescription(className).isEmpty())
            problems << at(file, object, QStringLiteral("\"%1\" has no description").arg(className));
    }
    for (const QString &word : info.javaScriptReservedWords()) {
        if (word != word.trimmed())
            problems << at(file, root.firstElementForXPath(QStringLiteral("//JavaScriptReservedWords")),
                           QStringLiteral("the reserved word \"%1\" carries blanks").arg(word));
    }
    // Every property of a class the model defines is described for the inspector.
    krRegisterTestClasses();
    for (const char *className : {"KRObject", "KRFunction"}) {
        for (const KRPropertyDescriptor &descriptor : KRClassRegistry::sharedInstance().descriptorTable(QLatin1String(className))) {
            if (!info.propertyInfoForProperty(descriptor.propertyName(), QLatin1String(className)))
                problems << at(file, root.firstElementForXPath(QStringLiteral("//object[@className='%1']").arg(QLatin1String(className))),
                               QStringLiteral("\"%1\" does not describe its property \"%2\"").arg(QLatin1String(className), descriptor.propertyName()));
        }
    }
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
}

TEST(ModelDataFiles, DefaultProjectOpensAndNamesOnlyKnownThings)
{
    KRObjectInfo info(kResources + QStringLiteral("/KRObjectInfo.xml"));
    const QString file = QStringLiteral("DefaultProject.xml");
    const auto document = KRDocument::makeUntitled();
    ASSERT_TRUE(document.ok()) << document.error().toString().toStdString();
    QStringList problems;
    const KRXMLNode root = document.value()->xmlDocument().rootElement();
    if (!KRDocument::isSupportedVersion(root.attribute(QStringLiteral("appVersion"))))
        problems << at(file, root, QStringLiteral("appVersion is newer than the application"));
    const KRXMLNode settings = root.firstElementForXPath(QStringLiteral("//KRProject"));
    const KRXMLNode pages = root.firstElementForXPath(QStringLiteral("//KRPages"));
    if (settings.isNull() || pages.isNull())
        problems << at(file, root, QStringLiteral("KRProject or KRPages is missing"));
    const QString target = settings.attribute(QStringLiteral("designTarget"));
    if (!target.isEmpty() && !info.standardDeviceInformation().contains(target))
        problems << at(file, settings, QStringLiteral("designTarget names the unknown device \"%1\"").arg(target));
    QStringList pageIDs;
    for (const KRXMLNode &page : pages.elementsForName(QStringLiteral("KRPage"))) {
        pageIDs << page.attribute(QStringLiteral("id"));
        for (const QString &attribute : page.attributeNames()) {
            if (!info.propertyInfoForProperty(attribute, QStringLiteral("KRPage")))
                problems << at(file, page, QStringLiteral("KRPage has no property \"%1\"").arg(attribute));
        }
        for (const KRXMLNode &child : page.elements()) {
            if (child.name() != QLatin1String("KRContents") && !info.propertyInfoForProperty(child.name(), QStringLiteral("KRPage")))
                problems << at(file, child, QStringLiteral("KRPage has no property \"%1\"").arg(child.name()));
        }
        for (const KRXMLNode &object : page.firstElementForName(QStringLiteral("KRContents")).elements()) {
            if (!info.hasClass(object.name()))
                problems << at(file, object, QStringLiteral("unknown class \"%1\"").arg(object.name()));
        }
    }
    const QString start = settings.attribute(QStringLiteral("startPage"));
    if (!start.isEmpty() && !pageIDs.contains(start))
        problems << at(file, settings, QStringLiteral("startPage names no page: \"%1\"").arg(start));
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();
}

} // namespace

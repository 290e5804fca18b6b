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

// Every class, read through the catalogue's own lookups, as the palette and the inspector see it.
TEST(ModelDataFiles, EveryClassResolvesForPaletteAndInspector)
{
    KRObjectInfo info(kResources + QStringLiteral("/KRObjectInfo.xml"));
    ASSERT_TRUE(info.loadProblems().isEmpty()) << info.loadProblems().join(QLatin1Char('\n')).toStdString();
    const QString file = QStringLiteral("KRObjectInfo.xml");
    const KRXMLNode root = info.xml().rootElement();
    QStringList problems;
    for (const QString &className : info.classNames()) {
        const KRXMLNode object = root.firstElementForXPath(QStringLiteral("//object[@className='%1']").arg(className));
        QString top = className;
        for (int depth = 0; depth < 32 && !info.superclassName(top).isEmpty(); ++depth)
            top = info.superclassName(top);
        if (top != QLatin1String("KRObject"))
            problems << at(file, object, QStringLiteral("\"%1\" does not descend from KRObject").arg(className));
        for (const KRPropertyInfo &property : info.flatPropertyInfo(className).allValues()) {
            if (property.propertyType == KRPropertyInfo::Enum) {
                if (property.enumOptions.isEmpty())
                    problems << at(file, object, QStringLiteral("\"%1\" of \"%2\" offers no choices").arg(property.name, className));
                else if (!property.defaultValue.isEmpty() && !property.enumOptions.contains(property.defaultValue))
                    problems << at(file, object, QStringLiteral("default \"%1\" of \"%2\" in \"%3\" is no choice")
                                                     .arg(property.defaultValue, property.name, className));
            }
            if (property.minValue && property.maxValue && *property.minValue > *property.maxValue)
                problems << at(file, object, QStringLiteral("\"%1\" of \"%2\" has no valid range").arg(property.name, className));
        }
    }
    for (const char *name : {"JQMButton", "JQMTextbox", "JQMTextArea", "JQMSlider", "JQMSlideToggle", "JQMCheckboxGroup",
                             "JQMRadioButtonGroup", "JQMSelect", "JQMListView", "JQMHeaderToolbar", "JQMFooterToolbar",
                             "JQMSimplePopup", "KRLabel", "KRButton", "KRTextbox", "KRTextArea", "KRCheckbox",
                             "KRRadioButton", "KRSelect", "KRTable", "KRImage", "KRDiv", "KRPhotoSwipe", "KRCanvas",
                             "KRTimer", "KRFunction", "KRStyleClass"}) {
        const QString className = QLatin1String(name);
        const KRXMLNode object = root.firstElementForXPath(QStringLiteral("//object[@className='%1']").arg(className));
        if (info.objectIcon(className).size() != QSize(32, 32))
            problems << at(file, object, QStringLiteral("palette class \"%1\" has no 32 by 32 icon").arg(className));
        if (!info.objectHelpHTML(className).contains(QStringLiteral("<p>")))
            problems << at(file, object, QStringLiteral("palette class \"%1\" has no help").arg(className));
    }
    // Non-visual objects go to the object browser, the others onto the design surface.
    for (const char *name : {"KRTimer", "KRLocalDataSource", "JQMSimplePopup", "KRFunction", "KRStyleClass"})
        if (info.isVisualObject(QLatin1String(name)))
            problems << QStringLiteral("\"%1\" is called visual").arg(QLatin1String(name));
    for (const char *name : {"KRLabel", "JQMHeaderToolbar", "JQMRadioButtonGroup", "KRBluffGraph", "KRPlugin"})
        if (!info.isVisualObject(QLatin1String(name)))
            problems << QStringLiteral("\"%1\" is not called visual").arg(QLatin1String(name));
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QLatin1Char('\n')).toStdString();

    // Spot checks of defaults that the controls rely on.
    auto defaultOf = [&](const char *property, const char *className) {
        const KRPropertyInfo *record = info.propertyInfoForProperty(QLatin1String(property), QLatin1String(className));
        return record ? record->defaultValue : QStringLiteral("<none>");
    };
    EXPECT_EQ(defaultOf("options", "JQMSlideToggle"), QStringLiteral("Off\nOn\n"));
    EXPECT_EQ(defaultOf("options", "JQMRadioButtonGroup"), QStringLiteral("Choice 1\nChoice 2\nChoice 3"));
    EXPECT_EQ(defaultOf("theme", "KRBluffGraph"), QStringLiteral("greyscale"));
    EXPECT_EQ(defaultOf("type", "KRBluffGraph"), QStringLiteral("Line"));
    EXPECT_EQ(defaultOf("contentTheme", "JQMSimplePopup"), QStringLiteral("d"));
    EXPECT_EQ(defaultOf("title", "JQMHeaderToolbar"), QStringLiteral("Header"));
    EXPECT_EQ(defaultOf("name", "JQMHeaderToolbar"), QString());
    EXPECT_EQ(defaultOf("position", "JQMHeaderToolbar"), QStringLiteral("fixed"));
    EXPECT_EQ(defaultOf("items", "JQMListView"),
              QStringLiteral("[{\"label\":\"Item #1\"}, {\"label\":\"Item #2\"}, {\"label\":\"Item #3\"}]"));
    EXPECT_EQ(info.enumOptions(QStringLiteral("graphThemeOptions")).keyEnumerator(),
              (QStringList{QStringLiteral("greyscale"), QStringLiteral("keynote"), QStringLiteral("37signals"),
                           QStringLiteral("rails"), QStringLiteral("odeo"), QStringLiteral("pastel")}));
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

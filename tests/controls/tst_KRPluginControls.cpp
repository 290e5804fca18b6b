#include "KRCompositeTestSupport.h"
#include "KRTestSupport.h"

#include <controls/KRPlugin.h>
#include <controls/KRPluginLoader.h>
#include <model/KRClassRegistry.h>
#include <model/KRObjectInfo.h>
#include <model/KRPropertyInfo.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/foundation/KRPaths.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstring>

namespace {

const QString kSample = QStringLiteral(KR_TEST_DATA_DIR "/plugins/Gauge.krplugin");

void copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &entry : QDir(from).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry.isDir())
            copyFolder(entry.filePath(), to + QLatin1Char('/') + entry.fileName());
        else
            QFile::copy(entry.filePath(), to + QLatin1Char('/') + entry.fileName());
    }
}

void writeBundle(const QString &folder, const QString &name, const QByteArray &manifest)
{
    QDir().mkpath(folder + QLatin1Char('/') + name);
    KRTest::writeFile(folder + QLatin1Char('/') + name + QStringLiteral("/krplugin.json"), manifest);
}

// Loads the sample plug-in (once per process) from the application's plug-ins folder, next
// to broken and ignored bundles; returns the loader's report.
const QStringList &loadSampleWithBrokenNeighbours(QStringList *loadedOut = nullptr)
{
    static QStringList problems;
    static QStringList loaded;
    static bool done = false;
    if (!done) {
        done = true;
        krRegisterCompositeTestClasses();
        const QString folder = KRPluginLoader::pluginsDirectory();
        QDir(folder).removeRecursively();
        copyFolder(kSample, folder + QStringLiteral("/Gauge.krplugin"));
        // A second bundle naming the sample's class again: the first in name order wins.
        writeBundle(folder, QStringLiteral("Gauge2.krplugin"),
                    R"({"classes":[{"className":"KRSampleGauge","superClass":"KRPlugin","properties":[]}]})");
        writeBundle(folder, QStringLiteral("Broken.krplugin"), R"({"classes":[{"className": "KRBrokenJSON",)");
        writeBundle(folder, QStringLiteral("Twice.krplugin"),
                    R"({"classes":[{"className":"KRTwice","superClass":"KRPlugin","properties":[
                        {"propertyName":"a","propertyType":"string"},{"propertyName":"a","propertyType":"number"}]},
                       {"className":"KRAfterTwice","superClass":"KRPlugin"},
                       {"className":"KRShadowsTop","superClass":"KRPlugin","properties":[{"propertyName":"top","propertyType":"string"}]}]})");
        writeBundle(folder, QStringLiteral("Names.krplugin"),
                    R"({"classes":[{"className":"Bad-Name<x>","superClass":"KRPlugin"},
                       {"className":"KRBadProperty","superClass":"KRPlugin","properties":[{"propertyName":"a b","propertyType":"string"}]},
                       {"className":"KRNotAPlugin","superClass":"KRControl"},
                       {"className":"KRNoEnumSet","superClass":"KRPlugin","properties":[{"propertyName":"e","propertyType":"enum"}]},
                       {"className":"KRChildGauge","superClass":"KRSampleGauge","properties":[{"propertyName":"extra","propertyType":"string"}]}]})");
        writeBundle(folder, QStringLiteral("NoClasses.krplugin"), R"({"classes":"none"})");
        writeBundle(folder, QStringLiteral("Ignored"), R"({"classes":[{"className":"KRIgnoredFolder","superClass":"KRPlugin"}]})");
        KRTest::writeFile(folder + QStringLiteral("/File.krplugin"), "{}");
        KRPluginLoader loader;
        loader.loadAllPlugins();
        problems = loader.problems();
        loaded = loader.loadedClasses();
    }
    if (loadedOut)
        *loadedOut = loaded;
    return problems;
}

} // namespace

TEST(KRPluginLoader, LoadsTheSampleAndReportsAndSkipsBrokenManifests)
{
    QStringList loaded;
    const QStringList problems = loadSampleWithBrokenNeighbours(&loaded);
    EXPECT_EQ(loaded, (QStringList{QStringLiteral("KRSampleGauge"), QStringLiteral("KRSampleBadge"), QStringLiteral("KRChildGauge"),
                                   QStringLiteral("KRAfterTwice")}))
        << loaded.join(QLatin1Char(',')).toStdString();
    const QString report = problems.join(QLatin1Char('\n'));
    EXPECT_TRUE(report.contains(QStringLiteral("Broken.krplugin: krplugin.json is not valid JSON"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("Twice.krplugin (KRTwice): the property 'a' is declared twice")));
    EXPECT_TRUE(report.contains(QStringLiteral("Twice.krplugin (KRShadowsTop): the property 'top' is already a property of KRPlugin")));
    EXPECT_TRUE(report.contains(QStringLiteral("(Bad-Name<x>): the class name is not a plain name")));
    EXPECT_TRUE(report.contains(QStringLiteral("(KRBadProperty): the property name 'a b' is not a plain name")));
    EXPECT_TRUE(report.contains(QStringLiteral("(KRNotAPlugin): the superclass 'KRControl' is not a plug-in class")));
    EXPECT_TRUE(report.contains(QStringLiteral("(KRNoEnumSet): enumOptions required when propertyType is 'enum'")));
    EXPECT_TRUE(report.contains(QStringLiteral("Gauge2.krplugin (KRSampleGauge): a class of this name exists already")));
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    for (const char *skipped : {"KRBrokenJSON", "KRTwice", "KRNotAPlugin", "KRNoEnumSet", "KRIgnoredFolder", "KRBadProperty", "KRShadowsTop"}) {
        EXPECT_FALSE(registry.classNamed(QLatin1String(skipped))) << skipped;
        EXPECT_FALSE(KRObjectInfo::sharedInstance().hasClass(QLatin1String(skipped))) << skipped;
    }

    // The first bundle in name order defined the class, with its data.
    const KRPluginClassData *data = KRPlugin::subclassData(QStringLiteral("KRSampleGauge"));
    ASSERT_TRUE(data);
    const QString bundle = KRPluginLoader::pluginsDirectory() + QStringLiteral("/Gauge.krplugin");
    EXPECT_EQ(data->pluginBasePath, bundle);
    EXPECT_EQ(data->runtimeSource, QStringList{QStringLiteral("gauge-runtime.js")});
    EXPECT_EQ(KRPlugin::designModeSource(QStringLiteral("KRSampleGauge")), bundle + QStringLiteral("/gauge-design.js"));
    EXPECT_EQ(KRPlugin::runtimeSourcePaths(QStringLiteral("KRChildGauge")),
              QStringList{bundle + QStringLiteral("/gauge-runtime.js")});
    EXPECT_EQ(KRPlugin::subclassData(QStringLiteral("KRSampleBadge"))->runtimeSource, QStringList{QStringLiteral("badge-runtime.js")});
    EXPECT_TRUE(registry.isKindOf(QStringLiteral("KRChildGauge"), QStringLiteral("KRPlugin")));
    EXPECT_EQ(registry.idBase(QStringLiteral("KRSampleGauge")), QStringLiteral("gauge"));
    EXPECT_EQ(registry.idBase(QStringLiteral("KRSampleBadge")), QStringLiteral("control"));
    std::map<QString, std::uint32_t> options;
    for (const KRPropertyDescriptor &d : data->propertyDescriptors)
        options[d.propertyName()] = d.adapterOptions();
    EXPECT_EQ(options[QStringLiteral("caption")], 0x40040u);
    EXPECT_EQ(options[QStringLiteral("needleColor")], 0x40040u);
    EXPECT_EQ(options[QStringLiteral("value")], 0x40080u);
    EXPECT_EQ(options[QStringLiteral("showTicks")], 0x40100u);
    EXPECT_EQ(options[QStringLiteral("gaugeStyle")], 0x40000u);
    EXPECT_EQ(options[QStringLiteral("onLimit")], 0x40000u);
}

TEST(KRPluginLoader, ManifestFilesMustBeTheBundlesOwnAndNeverTakeABuiltFilesName)
{
    loadSampleWithBrokenNeighbours(); // the plug-in base class and the catalogue
    const QString folder = KRTest::makeTempDir(QStringLiteral("plugin-paths"));
    KRTest::writeFile(folder + QStringLiteral("/outside.js"), "steal();\n");
    const auto bundle = [&](const char *name, const QByteArray &classes, const QStringList &files = {}) {
        writeBundle(folder, QLatin1String(name), "{\"classes\":[" + classes + "]}");
        for (const QString &file : files)
            KRTest::writeFile(folder + QLatin1Char('/') + QLatin1String(name) + QLatin1Char('/') + file, "x();\n");
    };
    bundle("A.krplugin",
           R"({"className":"KRPathsFirst","superClass":"KRPlugin","runtimeSource":"shared.js"},
              {"className":"KRPathsFirstToo","superClass":"KRPlugin","runtimeSource":["shared.js"],"designModeSource":"d.js"})",
           {QStringLiteral("shared.js"), QStringLiteral("d.js")});
    bundle("B.krplugin", R"({"className":"KRPathsSecond","superClass":"KRPlugin","runtimeSource":"lib/shared.js"})",
           {QStringLiteral("lib/shared.js")});
    bundle("C.krplugin",
           R"({"className":"KRPathsUp","superClass":"KRPlugin","runtimeSource":"../outside.js"},
              {"className":"KRPathsLinked","superClass":"KRPlugin","runtimeSource":"link.js"},
              {"className":"KRPathsAbsolute","superClass":"KRPlugin","designModeSource":"/etc/passwd"},
              {"className":"KRPathsMissing","superClass":"KRPlugin","runtimeSource":"missing.js"},
              {"className":"KRPathsBuilt","superClass":"KRPlugin","runtimeSource":["ok.js","KRObjects-min.js"]},
              {"className":"KRPathsIdBase","superClass":"KRPlugin","idBase":"x\"+alert(1)+\""})",
           {QStringLiteral("ok.js"), QStringLiteral("KRObjects-min.js")});
    ASSERT_TRUE(QFile::link(folder + QStringLiteral("/outside.js"), folder + QStringLiteral("/C.krplugin/link.js")));

    KRPluginLoader loader;
    loader.loadPluginsInDirectory(folder);
    EXPECT_EQ(loader.loadedClasses(), (QStringList{QStringLiteral("KRPathsFirst"), QStringLiteral("KRPathsFirstToo")}));
    const QString report = loader.problems().join(QLatin1Char('\n'));
    for (const char *expected :
         {"B.krplugin (KRPathsSecond): the run-time script 'shared.js' has the name of a run-time script of A.krplugin (KRPathsFirst)",
          "(KRPathsUp): the run-time script '../outside.js' is not a file inside the plug-in",
          "(KRPathsLinked): the run-time script 'link.js' is not a file inside the plug-in",
          "(KRPathsAbsolute): the design script '/etc/passwd' is not a file inside the plug-in",
          "(KRPathsMissing): the run-time script 'missing.js' is not a file inside the plug-in",
          "(KRPathsBuilt): the run-time script 'KRObjects-min.js' has the name of a file the build writes",
          "(KRPathsIdBase): the id base 'x\"+alert(1)+\"' is not a plain name"})
        EXPECT_TRUE(report.contains(QLatin1String(expected))) << expected << "\n" << report.toStdString();
    for (const char *refused : {"KRPathsSecond", "KRPathsUp", "KRPathsLinked", "KRPathsAbsolute", "KRPathsBuilt", "KRPathsIdBase"}) {
        EXPECT_FALSE(KRClassRegistry::sharedInstance().classNamed(QLatin1String(refused))) << refused;
        EXPECT_FALSE(KRPlugin::subclassData(QLatin1String(refused))) << refused;
    }
}

TEST(KRPluginLoader, SampleClassIsInTheCatalogue)
{
    loadSampleWithBrokenNeighbours();
    KRObjectInfo &catalogue = KRObjectInfo::sharedInstance();
    const QString className = QStringLiteral("KRSampleGauge");
    ASSERT_TRUE(catalogue.hasClass(className));
    EXPECT_TRUE(catalogue.pluginObjects().contains(className));
    EXPECT_EQ(catalogue.objectDescription(className), QStringLiteral("A round gauge with a needle."));
    EXPECT_FALSE(catalogue.objectIcon(className).isNull());
    EXPECT_TRUE(catalogue.objectHelpHTML(className).contains(KRPluginLoader::pluginsDirectory() + QStringLiteral("/Gauge.krplugin")));
    EXPECT_TRUE(catalogue.isVisualObject(className));
    const KRPropertyInfo *value = catalogue.propertyInfoForProperty(QStringLiteral("value"), className);
    ASSERT_TRUE(value);
    EXPECT_EQ(value->defaultValue, QStringLiteral("12"));
    EXPECT_TRUE(catalogue.hasEnumOptions(QStringLiteral("KRSampleGauge_gaugeStyles")));
    // The inherited control rows come with it.
    EXPECT_TRUE(catalogue.propertyInfoForProperty(QStringLiteral("top"), className));
}

TEST(KRPlugin, ObjectsRenderTakeInitialisersAndDrawInTheDesignView)
{
    loadSampleWithBrokenNeighbours();
    const QString xml = QStringLiteral("<KRSampleGauge id=\"gauge1\" top=\"5\" left=\"6\" width=\"100\" height=\"50\" caption=\"Fuel &quot;now&quot;\""
                                       " value=\"12\" showTicks=\"true\" gaugeStyle=\"flat\" onLimit=\"warn\"/>");
    auto output = krOpenPageProject(xml, false);
    ASSERT_TRUE(output);
    const auto built = output->krPages().first()->objectForID(QStringLiteral("gauge1"));
    ASSERT_TRUE(built);
    krExpectGolden(QStringLiteral("plugin-output.html"), built->domElement()->outerHTML() + QLatin1Char('\n'));
    krExpectGolden(QStringLiteral("plugin-initializers.txt"), krInitializerLines(built));

    auto design = krOpenPageProject(xml, true);
    const auto page = design->krPages().first();
    const auto gauge = std::dynamic_pointer_cast<KRPlugin>(page->objectForID(QStringLiteral("gauge1")));
    ASSERT_TRUE(gauge);
    EXPECT_EQ(gauge->domElement()->parentNode(), page->pageDivElement());
    const QStringList scripts = krRunDesignScripts(page);
    ASSERT_EQ(scripts.size() >= 2, true);
    const QString designSource = QString::fromUtf8(KRTest::readFile(kSample + QStringLiteral("/gauge-design.js")));
    EXPECT_EQ(scripts.count(designSource), 1);
    EXPECT_TRUE(gauge->hasDesignModeScript());
    EXPECT_EQ(scripts.last(), gauge->designModeDrawScript());
    krExpectGolden(QStringLiteral("plugin-draw.js"),
                   gauge->designModeDrawScript().replace(KRPluginLoader::pluginsDirectory(), QStringLiteral("<plug-ins>")) +
                       QLatin1Char('\n'));
    QString errors;
    EXPECT_TRUE(krNodeAccepts(gauge->designModeDrawScript(), &errors)) << errors.toStdString();

    // Every change draws once.
    gauge->setValue(QStringLiteral("kr_caption"), QStringLiteral("Oil"));
    QStringList after = krRunDesignScripts(page);
    ASSERT_EQ(after.size(), 1);
    EXPECT_TRUE(after.first().contains(QStringLiteral("\"caption\":\"Oil\"")));
    EXPECT_TRUE(after.first().contains(QStringLiteral("\"_pluginPath\":")));
    EXPECT_EQ(gauge->xmlElement().attribute(QStringLiteral("caption")), QStringLiteral("Oil"));

    // A new object of a class without id base numbers from "control".
    const auto badge = page->createNewObject(QStringLiteral("KRSampleBadge"), QString());
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->kr_id(), QStringLiteral("control1"));
    EXPECT_EQ(page->createNewObject(QStringLiteral("KRSampleGauge"), QString())->kr_id(), QStringLiteral("gauge2"));
    // The page's design document got the sample's design script once.
    EXPECT_EQ(krRunDesignScripts(page).count(designSource), 0);

    // A new view of the page gets the design script once more, before the gauge's drawing.
    DOMRecordingScriptHost next;
    page->setScriptHost(&next);
    const QStringList again = krRunDesignScripts(page);
    EXPECT_EQ(again.count(designSource), 1);
    EXPECT_EQ(again.count(gauge->designModeDrawScript()), 1);
    EXPECT_LT(again.indexOf(designSource), again.indexOf(gauge->designModeDrawScript()));
    page->setScriptHost(nullptr);
}

namespace {

// The text in UTF-16 (unit 2) or UCS-4 (unit 4), big- or little-endian, with or without a
// byte-order mark, its declaration (if any) saying so.
QByteArray inUnicode(const QByteArray &utf8, int unit, bool bigEndian, bool mark)
{
    QByteArray text = utf8;
    text.replace("encoding=\"UTF-8\"", unit == 2 ? "encoding=\"UTF-16\"" : "encoding=\"UCS-4\"");
    QList<uint> units;
    if (mark)
        units.append(0xFEFF);
    if (unit == 2) {
        for (const QChar c : QString::fromUtf8(text))
            units.append(c.unicode());
    } else {
        units += QString::fromUtf8(text).toUcs4();
    }
    QByteArray out;
    for (const uint u : units) {
        for (int b = 0; b < unit; ++b)
            out += char(u >> 8 * (bigEndian ? unit - 1 - b : b) & 0xFF);
    }
    return out;
}

QByteArray inUTF16(const QByteArray &utf8, bool bigEndian, bool mark)
{
    return inUnicode(utf8, 2, bigEndian, mark);
}

// The text in another encoding, by the C library's converter.
QByteArray inEncoding(const QByteArray &utf8, const char *encoding)
{
    iconv_t converter = iconv_open(encoding, "UTF-8");
    if (converter == iconv_t(-1))
        return {};
    QByteArray in = utf8;
    QByteArray out(utf8.size() * 4, '\0');
    char *from = in.data();
    char *to = out.data();
    std::size_t left = std::size_t(in.size());
    std::size_t room = std::size_t(out.size());
    const std::size_t done = iconv(converter, &from, &left, &to, &room);
    iconv_close(converter);
    if (done == std::size_t(-1))
        return {};
    out.truncate(out.size() - qsizetype(room));
    return out;
}

// The process's resident memory, and the most it has held since resetPeakMemory, in KiB.
qint64 memoryLine(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qsizetype(std::strlen(name))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

qint64 resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1;
    clear.close();
    return memoryLine("VmRSS:");
}

} // namespace

// What the application writes it reads again, in every encoding it reads: an object of every
// class of the palette and one of a plug-in class at the most attributes a plug-in's objects
// may carry are saved and read back, in UTF-8 and UTF-16; text at each bound of the reader is
// read, and one past it refused with the same message whatever its encoding; text beyond ASCII
// reads back exactly in UTF-16, UCS-4 and EBCDIC, and what is not read is refused naming its
// encoding and line, or, past the bound once in UTF-8, its size, before it is converted; a
// plug-in class past its bound is refused as it loads, naming it; a save that would not be read
// again is refused, and the file saved last is kept.
TEST(KRPluginLoader, WhatIsSavedIsReadAgainInEveryEncoding)
{
    loadSampleWithBrokenNeighbours();
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    const QString base = QStringLiteral("KRPlugin");
    int inherited = 0;
    for (const QByteArray &name : *registry.attributeNames(base, registry.lastingDescriptorTable(base)))
        inherited += name.isEmpty() ? 0 : 1;
    const int room = KRPluginLoader::MaximumAttributes - inherited;
    const auto wideClass = [](const char *name, int properties) {
        QByteArray json = QByteArray("{\"className\":\"") + name + "\",\"superClass\":\"KRPlugin\",\"properties\":[";
        for (int n = 1; n <= properties; ++n)
            json += (n > 1 ? ",{\"propertyName\":\"p" : "{\"propertyName\":\"p") + QByteArray::number(n)
                + "\",\"propertyType\":\"string\"}";
        return json + "]}";
    };
    const QString folder = KRTest::makeTempDir(QStringLiteral("wide-plugins"));
    writeBundle(folder, QStringLiteral("Wide.krplugin"),
                "{\"classes\":[" + wideClass("KRWideAtLimit", room) + ',' + wideClass("KRWidePastLimit", room + 1)
                    + "]}");
    KRPluginLoader loader;
    loader.loadPluginsInDirectory(folder);
    EXPECT_EQ(loader.loadedClasses(), QStringList{QStringLiteral("KRWideAtLimit")});
    EXPECT_EQ(loader.problems(),
              QStringList{QStringLiteral("Wide.krplugin (KRWidePastLimit): its objects would carry %1 attributes (one "
                                         "for each property, its own %2 and those of KRPlugin), and an object of a "
                                         "plug-in may carry at most %3")
                              .arg(KRPluginLoader::MaximumAttributes + 1)
                              .arg(room + 1)
                              .arg(KRPluginLoader::MaximumAttributes)});
    EXPECT_FALSE(registry.classNamed(QStringLiteral("KRWidePastLimit")));

    // An object of each class of the palette, saved, opens again in either encoding.
    QString contents;
    QStringList classes;
    for (const QString &className : KRObjectInfo::sharedInstance().classNames()) {
        if (registry.isInstantiable(className) && registry.isKindOf(className, QStringLiteral("KRControl")))
            classes.append(className);
    }
    ASSERT_TRUE(classes.contains(QStringLiteral("KRWideAtLimit")));
    ASSERT_GT(classes.size(), 15);
    for (const QString &className : classes)
        contents += QStringLiteral("<%1 id=\"o%2\"/>").arg(className).arg(contents.size());
    std::shared_ptr<KRDocument> document;
    ASSERT_TRUE(krOpenPageProject(contents, false, &document));
    const QByteArray written = document->xmlDocument().xmlData();
    const KRResult<KRXMLDocument> read = KRXMLDocument::fromData(written);
    ASSERT_TRUE(read.ok()) << read.error().message().toStdString();
    const QList<KRXMLNode> wide = read.value().nodesForXPath(QStringLiteral("//KRWideAtLimit"));
    ASSERT_EQ(wide.size(), 1);
    EXPECT_EQ(wide.first().attributeNames().size(), KRPluginLoader::MaximumAttributes);
    for (const bool bigEndian : {false, true}) {
        const KRResult<KRXMLDocument> again = KRXMLDocument::fromData(inUTF16(written, bigEndian, !bigEndian));
        ASSERT_TRUE(again.ok()) << again.error().message().toStdString();
        EXPECT_EQ(again.value().xmlData(), written);
    }
    const QString saved = KRTest::makeTempDir(QStringLiteral("wide-saved")) + QStringLiteral("/Wide.krproj");
    ASSERT_TRUE(document->saveToPackage(saved).ok());
    EXPECT_TRUE(KRDocument::openPackage(saved).ok());

    // Text at each bound of the reader, and one past it, in every encoding.
    const auto attributes = [](int count, const char *prefix = " a", const char *value = "=\"1\"") {
        QByteArray text;
        for (int n = 1; n <= count; ++n)
            text += prefix + QByteArray::number(n) + value;
        return text;
    };
    const auto namespaces = [](int from, int count) {
        QByteArray text;
        for (int n = from; n < from + count; ++n)
            text += " xmlns:p" + QByteArray::number(n) + "=\"u\"";
        return text;
    };
    const auto nested = [](int depth) {
        return QByteArray("<e>").repeated(depth - 1) + "<deepest/>" + QByteArray("</e>").repeated(depth - 1);
    };
    const auto names = [](int count) {
        QByteArray text = "<r>";
        for (int n = 1; n < count; ++n)
            text += "<n" + QByteArray::number(n) + "/>";
        return text + "</r>";
    };
    const int bound = KRXMLDocument::MaximumAttributes;
    const int half = KRXMLDocument::MaximumNamespaces / 2;
    const struct
    {
        const char *what;
        QByteArray text;
        QString refusal; // empty: read
    } shapes[] = {
        {"a thousand attributes", "<e" + attributes(1000) + "/>", {}},
        {"attributes at the bound", "<e" + attributes(bound) + "/>", {}},
        {"attributes past the bound", "<e" + attributes(bound + 1) + "/>",
         QStringLiteral("line 2: the element \u201Ce\u201D carries %1 attributes, and an element may carry at most %2.")
             .arg(bound + 1)
             .arg(bound)},
        {"namespaces at the bound", "<r" + namespaces(1, half) + "><e" + namespaces(half + 1, half) + "/></r>", {}},
        {"namespaces past the bound", "<r" + namespaces(1, half) + "><e" + namespaces(half + 1, half + 1) + "/></r>",
         QStringLiteral("line 2: the element \u201Ce\u201D has %1 namespace declarations in scope, and an element may "
                        "have at most %2.")
             .arg(2 * half + 1)
             .arg(2 * half)},
        {"depth at the bound", nested(KRXMLDocument::MaximumDepth), {}},
        {"depth past the bound", nested(KRXMLDocument::MaximumDepth + 1),
         QStringLiteral("line 2: the element \u201Cdeepest\u201D is nested %1 levels deep, and a document may nest "
                        "elements at most %2 levels deep.")
             .arg(KRXMLDocument::MaximumDepth + 1)
             .arg(KRXMLDocument::MaximumDepth)},
        {"names at the bound", names(KRXMLDocument::MaximumNames), {}},
        {"names past the bound", names(KRXMLDocument::MaximumNames + 1),
         QStringLiteral("line 2: the element \u201Cn%1\u201D takes the names of elements and attributes past %1 "
                        "different ones, the most a document may use.")
             .arg(KRXMLDocument::MaximumNames)},
        {"declared attributes", "<!DOCTYPE r [<!ATTLIST r" + attributes(3, " d", " CDATA \"1\"") + ">]><r/>",
         QStringLiteral("line 2: it declares attributes of the element \u201Cr\u201D, and documents that declare "
                        "attributes are not read.")},
    };
    for (const auto &shape : shapes) {
        SCOPED_TRACE(shape.what);
        const QByteArray text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + shape.text + '\n';
        int encoding = 0;
        for (const QByteArray &encoded : {text, inUTF16(text, false, true), inUTF16(text, true, false)}) {
            SCOPED_TRACE(encoding++);
            const KRResult<KRXMLDocument> result = KRXMLDocument::fromData(encoded);
            // What the writer is about to write is checked the same way.
            const KRResult<void> checked = KRXMLDocument::checkShape(encoded);
            if (shape.refusal.isEmpty()) {
                EXPECT_TRUE(result.ok()) << result.error().message().toStdString();
                EXPECT_TRUE(checked.ok()) << checked.error().message().toStdString();
                continue;
            }
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().message(), QStringLiteral("The XML text is refused: ") + shape.refusal);
            ASSERT_FALSE(checked.ok());
            EXPECT_EQ(checked.error().message(), result.error().message());
        }
    }

    // Text in another encoding its declaration names is read in that one; one the library
    // does not know is refused, naming it.
    const KRResult<KRXMLDocument> latin1 =
        KRXMLDocument::fromData("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r a=\"caf\xE9\"/>\n");
    ASSERT_TRUE(latin1.ok()) << latin1.error().message().toStdString();
    EXPECT_EQ(latin1.value().rootElement().attribute(QStringLiteral("a")), QStringLiteral("caf\u00E9"));
    const KRResult<KRXMLDocument> unknown = KRXMLDocument::fromData("<?xml version=\"1.0\" encoding=\"X-NONE\"?>\n<r/>");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.error().message(),
              QStringLiteral("The XML text is not well-formed: line 1: its encoding \u201CX-NONE\u201D is not supported."));

    // Text beyond ASCII and beyond the Basic Multilingual Plane reads back exactly in UTF-16
    // and UCS-4 of either order, with a byte-order mark or without, with a declaration or
    // without; in EBCDIC, in the code page its declaration names, which is read in EBCDIC.
    const QString words = QStringLiteral("caf\u00E9 \u6F22 \U0001F600");
    const QByteArray element = "<r a=\"" + words.toUtf8() + "\">\n" + words.toUtf8() + "\n</r>\n";
    const QByteArray declared = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + element;
    const KRResult<KRXMLDocument> original = KRXMLDocument::fromData(declared);
    ASSERT_TRUE(original.ok()) << original.error().message().toStdString();
    const auto expectWords = [&](const KRResult<KRXMLDocument> &read) {
        ASSERT_TRUE(read.ok()) << read.error().message().toStdString();
        EXPECT_EQ(read.value().rootElement().attribute(QStringLiteral("a")), words);
        EXPECT_EQ(read.value().rootElement().stringValue(), QLatin1Char('\n') + words + QLatin1Char('\n'));
        EXPECT_EQ(read.value().xmlData(), original.value().xmlData());
    };
    for (const int unit : {2, 4}) {
        for (const bool bigEndian : {false, true}) {
            for (const bool mark : {false, true}) {
                for (const QByteArray &text : {declared, element}) {
                    SCOPED_TRACE(QStringLiteral("%1 bytes a unit, %2, %3 mark, %4 declaration")
                                     .arg(unit)
                                     .arg(bigEndian ? "big-endian" : "little-endian", mark ? "with" : "without",
                                          text == declared ? "with" : "without")
                                     .toStdString());
                    expectWords(KRXMLDocument::fromData(inUnicode(text, unit, bigEndian, mark)));
                }
            }
        }
    }
    for (const char *codePage : {"IBM037", "IBM500", "IBM1047"}) {
        SCOPED_TRACE(codePage);
        const QByteArray referred = "<r a=\"caf\xC3\xA9 &#x6F22; &#x1F600;\">\ncaf\xC3\xA9 &#x6F22; &#x1F600;\n</r>\n";
        const QByteArray ebcdic =
            inEncoding(QByteArray("<?xml version=\"1.0\" encoding=\"") + codePage + "\"?>\n" + referred, codePage);
        ASSERT_TRUE(ebcdic.startsWith("\x4C\x6F\xA7\x94"));
        expectWords(KRXMLDocument::fromData(ebcdic));
    }
    // Naming no code page, its characters common to all are read.
    EXPECT_TRUE(KRXMLDocument::fromData(inEncoding("<?xml version=\"1.0\"?>\n<r a=\"1\"/>\n", "IBM037")).ok());

    // What is not read is refused, naming its encoding rightly, and the line where its text
    // stops being proper text in it.
    const QString unreadable = QStringLiteral("The XML text is not well-formed: line %1: %2.");
    const struct
    {
        const char *what;
        QByteArray text;
        QString message;
    } unread[] = {
        {"UCS-4 in the order 2143, with a mark", QByteArray("\0\0\xFF\xFE\0\0<\0\0\0r\0\0\0/\0\0\0>\0", 20),
         unreadable.arg(1).arg("it is in UCS-4 with its bytes in the unusual order 2143, which is not read")},
        {"UCS-4 in the order 3412", QByteArray("\0<\0\0\0r\0\0\0/\0\0\0>\0\0", 16),
         unreadable.arg(1).arg("it is in UCS-4 with its bytes in the unusual order 3412, which is not read")},
        {"EBCDIC naming no EBCDIC code page",
         inEncoding("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r/>\n", "IBM037"),
         unreadable.arg(1).arg("it is in EBCDIC, and the encoding \u201CISO-8859-1\u201D its declaration names is no "
                               "EBCDIC code page")},
        {"a byte past ASCII on the third line", "<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<r>\ncaf\xE9\n</r>\n",
         unreadable.arg(3).arg("it is not proper text in its encoding \u201CUS-ASCII\u201D")},
        {"half a surrogate pair on the fourth line",
         inUnicode("<r>\n\n\n", 2, false, true) + QByteArray("\x3D\xD8\x0A\x00", 4)
             + inUnicode("</r>", 2, false, false),
         unreadable.arg(4).arg("it is not proper text in its encoding \u201CUTF-16LE\u201D")},
    };
    for (const auto &text : unread) {
        SCOPED_TRACE(text.what);
        const KRResult<KRXMLDocument> result = KRXMLDocument::fromData(text.text);
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().message(), text.message);
    }

    // Text whose UTF-8 form would be longer than a document may be is refused before any of it
    // is converted, saying so: 181 MiB of UTF-16 make 271 MiB of UTF-8.
    const QByteArray closing("<\0/\0r\0>\0", 8);
    QByteArray wideText("\xFF\xFE<\0r\0>\0", 8);
    const qsizetype characters = ((qsizetype(181) << 20) - wideText.size() - closing.size()) / 2;
    wideText += QByteArray("\x22\x6F", 2).repeated(characters) + closing;
    ASSERT_EQ(wideText.size(), qsizetype(181) << 20);
    const QString tooLong = QStringLiteral("the text is 181 MiB in UTF-16LE, and longer than 256 MiB as UTF-8, more "
                                           "than a document may be");
    const qint64 resident = resetPeakMemory();
    ASSERT_GT(resident, 0);
    const KRResult<KRXMLDocument> huge = KRXMLDocument::fromData(wideText);
    const qint64 peak = memoryLine("VmHWM:");
    ASSERT_FALSE(huge.ok());
    EXPECT_EQ(huge.error().message(), QStringLiteral("The XML text is refused: ") + tooLong + QLatin1Char('.'));
    EXPECT_LT(peak - resident, 64 << 10) << "KiB held past the text's own";
    const QString hugeFile = KRTest::makeTempDir(QStringLiteral("wide-text")) + QStringLiteral("/wide.xml");
    KRTest::writeFile(hugeFile, wideText);
    wideText.clear();
    const KRResult<KRXMLDocument> hugeRead = KRXMLDocument::fromFile(hugeFile);
    ASSERT_FALSE(hugeRead.ok());
    EXPECT_EQ(hugeRead.error().message(),
              QStringLiteral("The file \"%1\" is too large to open: %2.").arg(hugeFile, tooLong));
    QFile::remove(hugeFile);


    // A project at each bound, with what saving it adds, opens, is edited, saves and opens
    // again; one past a bound that saving would pass is refused as it opens, naming the object
    // and what to do, before the user works on it.
    const auto package = [](const QString &contents) {
        const QString path = KRTest::makeTempDir(QStringLiteral("bounds")) + QStringLiteral("/Bounds.krproj");
        QDir().mkpath(path + QStringLiteral("/kr-web"));
        KRTest::writeFile(path + QStringLiteral("/project.xml"),
                          krProjectXML(QStringLiteral("<KRPage id=\"page1\" title=\"One\"><KRContents>%1</KRContents></KRPage>")
                                           .arg(contents),
                                       QStringLiteral("JQMVersion=\"1.4\"")));
        return path;
    };
    const auto editSaveAndOpen = [](const QString &path) {
        const KRResult<std::shared_ptr<KRDocument>> opened = KRDocument::openPackage(path);
        if (!opened)
            return QStringLiteral("not opened: ") + opened.error().message();
        const KRResult<std::shared_ptr<KRProject>> project = KRProject::create(opened.value(), false);
        if (!project || project.value()->krPages().isEmpty())
            return QStringLiteral("no project");
        const std::shared_ptr<KRPage> page = project.value()->krPages().first();
        page->setValue(QStringLiteral("kr_title"), QStringLiteral("Edited"));
        if (const auto label = page->objectForID(QStringLiteral("label")))
            label->setValue(QStringLiteral("kr_fontSize"), QStringLiteral("18px"));
        if (const KRResult<void> saved = opened.value()->save(); !saved)
            return QStringLiteral("not saved: ") + saved.error().message();
        const KRResult<std::shared_ptr<KRDocument>> again = KRDocument::openPackage(path);
        return again ? QString() : QStringLiteral("not opened again: ") + again.error().message();
    };
    int own = 0;          // the attributes a label is written with
    qint64 ownBytes = 0;  // and the bytes they take, empty
    for (const QByteArray &name : *registry.attributeNames(QStringLiteral("KRLabel"), registry.lastingDescriptorTable(QStringLiteral("KRLabel")))) {
        own += name.isEmpty() ? 0 : 1;
        ownBytes += name.isEmpty() ? 0 : name.size() + 4;
    }
    const int writtenNames = int(KRDocument::adaptersAdditions().names->size());
    const auto foreignNames = [](int from, int count) {
        QString labels;
        for (int n = 0; n < count; n += 900) {
            labels += QStringLiteral("<KRLabel id=\"l%1\"").arg(n);
            for (int m = n; m < std::min(count, n + 900); ++m)
                labels += QStringLiteral(" zz%1=\"\"").arg(from + m);
            labels += QStringLiteral("/>");
        }
        return labels;
    };
    const QString deep = QStringLiteral("<e>").repeated(KRXMLDocument::MaximumDepth - 6) + QStringLiteral("</e>").repeated(KRXMLDocument::MaximumDepth - 6);
    const struct
    {
        const char *what;
        QString contents;
        QString refusal; // empty: opens, saves after an edit, and opens again
    } bounds[] = {
        {"attributes", QStringLiteral("<KRLabel id=\"label\"%1/>").arg(QString::fromLatin1(attributes(bound - own, " x"))), {}},
        {"attributes past", QStringLiteral("<KRLabel id=\"label\"%1/>").arg(QString::fromLatin1(attributes(bound - own + 1, " x"))),
         QStringLiteral("the element \u201CKRLabel\u201D with the id \u201Clabel\u201D carries %1 attributes, %2 with those "
                        "written for it, and an element may carry at most %3. That is the KRLabel \u201Clabel\u201D on the "
                        "page \u201Cpage1\u201D: remove attributes that Korvane does not use from it in a text editor, then "
                        "open the project again.")
             .arg(bound - own + 2)
             .arg(bound + 1)
             .arg(bound)},
        {"names", foreignNames(0, KRXMLDocument::MaximumNames - writtenNames), {}},
        {"names past", foreignNames(0, KRXMLDocument::MaximumNames - writtenNames + 1),
         QStringLiteral("takes the names of elements and attributes past %1 different ones with the %2 written into "
                        "every such document, the most a document may use. Remove names that Korvane does not use from "
                        "the project in a text editor, then open it again.")
             .arg(KRXMLDocument::MaximumNames)
             .arg(writtenNames)},
        {"namespaces", QStringLiteral("<KRLabel id=\"label\"%1/>").arg(QString::fromLatin1(namespaces(0, KRXMLDocument::MaximumNamespaces))), {}},
        {"depth", QStringLiteral("<KRLabel id=\"label\">%1</KRLabel>").arg(deep), {}},
        {"size past", QStringLiteral("<KRLabel/>").repeated(int(KRXMLDocument::MaximumFileSize / ownBytes) + 1000),
         QStringLiteral("written again with what is written for its elements, it would take")},
    };
    for (const auto &shape : bounds) {
        SCOPED_TRACE(shape.what);
        const QString path = package(shape.contents);
        const QString outcome = editSaveAndOpen(path);
        if (shape.refusal.isEmpty()) {
            EXPECT_TRUE(outcome.isEmpty()) << outcome.toStdString();
        } else {
            EXPECT_TRUE(outcome.startsWith(QStringLiteral("not opened: "))) << outcome.toStdString();
            EXPECT_TRUE(outcome.contains(shape.refusal)) << outcome.toStdString();
        }
    }
}

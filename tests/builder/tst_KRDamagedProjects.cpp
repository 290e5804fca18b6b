// Damaged and hostile project files: each is opened, saved to a new package and built (no
// minifying, no runtime server). The cases are the files of tests/data/builder/damaged and the
// shop project, as they are and with seeded damage: truncation, byte flips, elements copied,
// removed or moved, hostile ids, values and parameter lists, a second pages element, entity
// declarations and references; and packages whose web folder, or whose files in it, are links
// to files and folders outside the package. None may crash, throw or hang; a file either gives
// an error with a message or opens, saves, opens again from the saved copy and builds (or says
// why not). Nothing outside the packages is written, not even a mark; no file of a package
// takes in what a link out of it leads to; the build publishes the pages the project holds
// and no parameter list that is more than identifiers. KR_DAMAGED_CASES sets the number of
// damaged variants per file (default 80); KR_DAMAGED_SEED changes the damage (default
// 20261207); KR_DAMAGED_ONLY runs the one case of that name ("shop #12") and writes its files
// to KR_DAMAGED_KEEP when set.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <core/KRXMLDocument.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebFolder.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <random>

#include <sys/xattr.h>

namespace {

// Links a package brings: none, links out of it in place of the files a build writes or
// copies, or a web folder that is itself a link out of the package.
enum class Links { None, Files, WebFolder };

struct Case
{
    std::string name;
    QByteArray xml;
    Links links = Links::None;
};

// What the files outside the packages hold; no package file may hold it.
const QByteArray kOutsideText = "OUTSIDE-SECRET";

const char *const kHostileValues[] = {
    "", " ", "../../x", "/etc/passwd", "a b", "for", "x}", "\"", "'", "$", "1abc", "page1", "home",
    "</script><script>alert(1)</script>", "\xE2\x80\xA8", "-1", "99999999999999999999", "NaN", "{", "[1,2",
    "[{\"label\":1,\"onClick\":\"x y\"}]", "javascript:alert(1)", "&lt;b&gt;", "\\", "url(')", "100%",
};

// Parameter lists that are code, or no list at all.
const char *const kHostileArguments[] = {
    "e = alert(1)", "e) {}; alert(1); (function(x", "a,,b", "for", "event, this", "a,", "a\nb", "\xE2\x80\xA8",
    "x = `${alert(1)}`", "...rest", "a /* */", "e){alert(1)}//",
};

template <typename T, std::size_t N>
const T &pick(std::mt19937 &random, const T (&items)[N])
{
    return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

int below(std::mt19937 &random, int n)
{
    return n <= 0 ? 0 : std::uniform_int_distribution<int>(0, n - 1)(random);
}

// Element-level damage through the XML layer: copy, remove, move or give hostile values.
QByteArray damageElements(std::mt19937 &random, const QByteArray &xml)
{
    KRResult<KRXMLDocument> parsed = KRXMLDocument::fromData(xml);
    if (!parsed)
        return xml;
    KRXMLDocument document = parsed.value();
    const QList<KRXMLNode> elements = document.nodesForXPath(QStringLiteral("//KRProject | //KRPages//*"));
    if (elements.isEmpty())
        return xml;
    for (int step = 0, steps = 1 + below(random, 3); step < steps; ++step) {
        KRXMLNode element = elements.at(below(random, int(elements.size())));
        if (element.isNull() || element.parent().isNull())
            continue;
        switch (below(random, 7)) {
        case 0: { // a copy beside it (the same id twice)
            KRXMLNode parent = element.parent();
            parent.insertChild(document.importNode(element), element.index() + 1);
            break;
        }
        case 1:
            element.detach();
            break;
        case 2: { // into another element
            KRXMLNode target = elements.at(below(random, int(elements.size())));
            if (!target.isNull() && target != element && !target.isDetached())
                target.appendChild(document.importNode(element));
            break;
        }
        case 3:
            element.setAttribute(QStringLiteral("id"), QString::fromUtf8(pick(random, kHostileValues)));
            break;
        case 4: { // a second pages element, holding a copy of a page under a fresh id
            KRXMLNode root = document.rootElement();
            const QList<KRXMLNode> pages = document.nodesForXPath(QStringLiteral("//KRPage"));
            KRXMLNode second = document.createElement(QStringLiteral("KRPages"));
            if (!pages.isEmpty()) {
                KRXMLNode copy = document.importNode(pages.at(below(random, int(pages.size()))));
                copy.setAttribute(QStringLiteral("id"), QStringLiteral("unseen%1").arg(step));
                second.appendChild(copy);
            }
            if (!root.isNull())
                root.appendChild(second);
            break;
        }
        case 5: { // a parameter list that is code
            const QList<KRXMLNode> functions = document.nodesForXPath(QStringLiteral("//KRFunction"));
            KRXMLNode target = functions.isEmpty() ? element : functions.at(below(random, int(functions.size())));
            target.setAttribute(QStringLiteral("arguments"), QString::fromUtf8(pick(random, kHostileArguments)));
            break;
        }
        default: {
            const QStringList names = element.attributeNames();
            const QString name = names.isEmpty() ? QStringLiteral("value") : names.at(below(random, int(names.size())));
            element.setAttribute(name, QString::fromUtf8(pick(random, kHostileValues)));
            break;
        }
        }
    }
    return document.xmlData();
}

// Declarations and references of entities: internal, nested, undefined, external.
QByteArray damageEntities(std::mt19937 &random, QByteArray xml)
{
    static const char *const declarations[] = {
        "<!ENTITY e \"Hello\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;\">",
        "<!ENTITY e SYSTEM \"file:///etc/hostname\"><!ENTITY f \"x\"><!ENTITY g \"&f;\">",
        "<!ENTITY e \"&lt;/script&gt;\"><!ENTITY f \"a&#10;b\"><!ENTITY g \"&f;\">",
    };
    static const char *const references[] = {"&e;", "&f;", "&g;", "&nope;", "&e;&g;&e;"};
    if (xml.contains("<!DOCTYPE"))
        return xml;
    const int root = xml.indexOf("<KRProjectDocument");
    if (root < 0)
        return xml;
    xml.insert(root, QByteArray("<!DOCTYPE KRProjectDocument [") + pick(random, declarations) + "]>\n");
    for (int n = 0, count = 1 + below(random, 4); n < count; ++n) {
        const int quote = xml.indexOf("=\"", below(random, int(xml.size())));
        if (quote >= 0)
            xml.insert(quote + 2, pick(random, references));
        const int text = xml.indexOf(">", below(random, int(xml.size())));
        if (text >= 0)
            xml.insert(text + 1, pick(random, references));
    }
    return xml;
}

QByteArray damage(std::mt19937 &random, const QByteArray &xml)
{
    switch (below(random, 4)) {
    case 0:
        return xml.left(below(random, int(xml.size())));
    case 1: {
        static const char bytes[] = {'<', '>', '&', '"', '\'', '/', '\0', '\xff', '\xc3', '\n', ']', ';', '#', 'x'};
        QByteArray flipped = xml;
        for (int n = 0, count = 1 + below(random, 8); n < count && !flipped.isEmpty(); ++n)
            flipped[below(random, int(flipped.size()))] = pick(random, bytes);
        return flipped;
    }
    case 2:
        return damageElements(random, xml);
    default:
        return damageEntities(random, damageElements(random, xml));
    }
}

std::vector<Case> cases()
{
    std::vector<Case> seeds{{"shop", KRBuildTest::controlProjectXML(), Links::None}};
    QDirIterator files(QStringLiteral(KR_TEST_DATA_DIR "/builder/damaged"), {QStringLiteral("*.xml")}, QDir::Files);
    QStringList paths;
    while (files.hasNext())
        paths.append(files.next());
    paths.sort();
    for (const QString &path : paths)
        seeds.push_back({QFileInfo(path).fileName().toStdString(), KRTest::readFile(path), Links::None});
    const int variants = qEnvironmentVariableIsSet("KR_DAMAGED_CASES") ? qEnvironmentVariableIntValue("KR_DAMAGED_CASES") : 80;
    std::vector<Case> all = seeds;
    all.push_back({"shop+links", KRBuildTest::controlProjectXML(), Links::Files});
    all.push_back({"shop+linked-web", KRBuildTest::controlProjectXML(), Links::WebFolder});
    std::mt19937 random(qEnvironmentVariableIsSet("KR_DAMAGED_SEED") ? qEnvironmentVariableIntValue("KR_DAMAGED_SEED") : 20261207);
    for (const Case &seed : seeds) {
        for (int n = 0; n < variants; ++n) {
            // Half bring no links, a quarter links in place of built files, a quarter a web
            // folder that leads out of the package.
            const int links = below(random, 4);
            all.push_back({seed.name + " #" + std::to_string(n), damage(random, seed.xml),
                           links == 0 ? Links::WebFolder : links == 1 ? Links::Files : Links::None});
        }
    }
    return all;
}

// Every entry below the folder, as paths relative to it (links are listed, not followed).
QStringList entriesBelow(const QString &folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QDir(folder).relativeFilePath(it.next()));
    entries.sort();
    return entries;
}

// The files and folders outside the packages that links lead to: each entry with its bytes
// and its user attributes (the marks a build sets), to be compared after the run.
QStringList outsideState(const QString &outside)
{
    QStringList state;
    for (const QString &entry : entriesBelow(outside)) {
        const QString path = outside + QLatin1Char('/') + entry;
        const QByteArray encoded = QFile::encodeName(path);
        const ssize_t attributes = ::listxattr(encoded.constData(), nullptr, 0);
        state.append(QStringLiteral("%1 %2 %3").arg(entry).arg(attributes).arg(
            QFileInfo(path).isFile() ? QString::fromUtf8(KRTest::readFile(path).toHex()) : QStringLiteral("/")));
    }
    return state;
}

// What a package outside it holds: a folder of library and web files, and files of the user's,
// among them a style sheet that passes for a theme.
QString makeOutside(const QString &folder)
{
    const QString outside = folder + QStringLiteral("/Outside");
    KRTest::writeFile(outside + QStringLiteral("/victim.txt"), kOutsideText);
    KRTest::writeFile(outside + QStringLiteral("/theme.css"),
                      ".ui-btn{} .ui-body-a{} .ui-bar-a{} .ui-shadow{} /* " + kOutsideText + " */");
    KRTest::writeFile(outside + QStringLiteral("/library/photoswipe.css"), kOutsideText);
    KRTest::writeFile(outside + QStringLiteral("/web/victim.txt"), kOutsideText);
    return outside;
}

// Links out of the package in place of every file a build writes or copies at the top of
// the web folder, of a library folder, and of the default theme's style sheet.
void linkBuiltFilesOut(const QString &web, const QString &outside, const KRProject &project)
{
    QStringList names = {QStringLiteral("KR-user-scripts.js"), QStringLiteral("KRObjects-min.js"),
                         QStringLiteral("cache.manifest"),     QStringLiteral("KR-sitemap.xml"),
                         QStringLiteral("robots.txt"),         QStringLiteral(".kr-generated"),
                         QStringLiteral("js-class.js"),        QStringLiteral("gauge-runtime.js")};
    for (const auto &page : project.krPages())
        names << page->kr_id() + QStringLiteral(".html") << page->kr_id() + QStringLiteral(".krml");
    const QString theme = project.defaultTheme();
    if (KRWebFolder::isPlainFileName(theme + QStringLiteral(".css"))) {
        QFile::link(outside + QStringLiteral("/theme.css"), web + QLatin1Char('/') + theme + QStringLiteral(".css"));
        names << QStringLiteral("__") + theme + QStringLiteral(".css");
    }
    for (const QString &name : std::as_const(names)) {
        if (KRWebFolder::isPlainFileName(name))
            QFile::link(QStringLiteral("../../Outside/victim.txt"), web + QLatin1Char('/') + name);
    }
    QFile::link(outside + QStringLiteral("/library"), web + QStringLiteral("/photoswipe-3.0.5"));
}

// Each line of the generated script that defines an event handler: its parameter list must
// be identifiers, and the line must end where the list does.
void expectSoundHandlers(const QString &script)
{
    // A member is ".name" or a quoted ["name"].
    const QString member = QStringLiteral(R"((?:\.[A-Za-z_$][\w$]*|\["(?:[^"\\]|\\.)*"\]))");
    static const QRegularExpression handler(
        QStringLiteral(R"(^application\._pages%1\._events%1 = function\(([^()]*)\) \{$)").arg(member));
    for (const QString &line : script.split(QLatin1Char('\n'))) {
        if (!line.contains(QLatin1String("._events")) || !line.contains(QLatin1String(" = function(")))
            continue;
        const QRegularExpressionMatch match = handler.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        if (match.hasMatch())
            EXPECT_TRUE(KRFunction::isSoundArgumentList(match.captured(1))) << line.toStdString();
    }
}

class KRDamagedProjectTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRBuildTest::setUpRealControls();
        static const QString resources = KRBuildTest::makeResourcesFolder();
        KRResources::setResourcesDirectory(resources);
        m_alerts = std::make_shared<KRScriptedAlertService>();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), false);
    }
    void TearDown() override
    {
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSMinimize"));
        KRAlertService::setCurrent(m_previousAlerts);
        KRResources::setResourcesDirectory(QString());
    }

    enum Outcome { Refused, Opened, Built };
    // Opens, saves, reopens the saved copy and builds; a failure names what went wrong.
    Outcome run(const Case &c)
    {
        SCOPED_TRACE(c.name);
        const QString folder = KRTest::makeTempDir(QStringLiteral("damaged"));
        struct RemoveFolder
        {
            QString path;
            ~RemoveFolder()
            {
                if (!path.isEmpty())
                    QDir(path).removeRecursively();
            }
        } removeFolder{folder};
        const QString package = folder + QStringLiteral("/P.krproj");
        const QString web = package + QStringLiteral("/kr-web");
        const QString outside = makeOutside(folder);
        const QStringList outsideBefore = outsideState(outside);
        // Whatever happens, nothing outside the packages changes.
        struct CheckOutside
        {
            QString folder, outside;
            QStringList before;
            ~CheckOutside()
            {
                if (folder.isEmpty())
                    return;
                EXPECT_EQ(outsideState(outside), before);
                for (const QString &entry : entriesBelow(folder)) {
                    const QString path = folder + QLatin1Char('/') + entry;
                    EXPECT_TRUE(entry.startsWith(QLatin1String("P.krproj")) || entry.startsWith(QLatin1String("Saved.krproj"))
                                || entry.startsWith(QLatin1String("Outside")))
                        << entry.toStdString();
                    const QFileInfo info(path);
                    if (!entry.startsWith(QLatin1String("Outside")) && info.isFile() && !info.isSymLink())
                        EXPECT_FALSE(KRTest::readFile(path).contains(kOutsideText)) << entry.toStdString();
                }
            }
        } checkOutside{folder, outside, outsideBefore};
        QDir().mkpath(package);
        if (c.links == Links::WebFolder)
            EXPECT_TRUE(QFile::link(QStringLiteral("../Outside/web"), web));
        else
            QDir().mkpath(web);
        KRTest::writeFile(package + QStringLiteral("/project.xml"), c.xml);
        auto document = KRDocument::openPackage(package);
        if (!document) {
            EXPECT_FALSE(document.error().message().isEmpty());
            return Refused;
        }
        EXPECT_NE(c.links, Links::WebFolder) << "a web folder that leads out of the package opened";
        auto project = KRProject::create(document.value(), true);
        if (!project) {
            EXPECT_FALSE(project.error().message().isEmpty());
            return Refused;
        }
        // What was changed on the way in is there to be shown.
        EXPECT_EQ(bool(project.value()->loadWarningsError()), !project.value()->loadWarnings().isEmpty());
        if (c.links == Links::Files)
            linkBuiltFilesOut(web, outside, *project.value());

        const QString copy = folder + QStringLiteral("/Saved.krproj");
        const KRResult<void> saved = document.value()->saveToPackage(copy);
        EXPECT_TRUE(saved.ok()) << saved.error().toString().toStdString();
        auto reread = KRDocument::openPackage(copy);
        EXPECT_TRUE(reread.ok()) << reread.error().toString().toStdString();
        if (reread) {
            auto reopened = KRProject::create(reread.value(), false);
            EXPECT_TRUE(reopened.ok()) << reopened.error().toString().toStdString();
        }

        KRProjectBuilder builder(project.value());
        builder.setDeviceInformationJSON(KRObjectInfo::sharedInstance().deviceInformationJSON());
        const KRResult<QString> built = builder.build();
        if (!built)
            EXPECT_FALSE(built.error().message().isEmpty());
        if (built) {
            // The pages written are the project's, and no handler's parameter list is code.
            QStringList pageFiles;
            for (const auto &page : project.value()->krPages())
                pageFiles << page->kr_id() + QStringLiteral(".html") << page->kr_id() + QStringLiteral(".krml");
            for (const QString &entry : entriesBelow(web)) {
                if ((entry.endsWith(QLatin1String(".html")) || entry.endsWith(QLatin1String(".krml")))
                    && !QFileInfo(web + QLatin1Char('/') + entry).isSymLink())
                    EXPECT_TRUE(pageFiles.contains(entry)) << "a page the project does not hold: " << entry.toStdString();
            }
            expectSoundHandlers(QString::fromUtf8(KRTest::readFile(web + QStringLiteral("/KR-user-scripts.js"))));
        }
        if (const QString keep = qEnvironmentVariable("KR_DAMAGED_KEEP"); !keep.isEmpty()) {
            checkOutside.folder.clear();
            QDir(keep).removeRecursively();
            QDir().rename(folder, keep);
            removeFolder.path.clear();
        }
        return built ? Built : Opened;
    }

    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
};

TEST_F(KRDamagedProjectTest, OpenSaveAndBuildNeverCrashThrowOrHang)
{
    if (!KRBuildTest::supportsFileMarks(KRTest::makeTempDir(QStringLiteral("marks"))))
        GTEST_SKIP() << "the test folder's file system keeps no extended attributes";
    QHash<QString, Outcome> outcomes;
    const QString only = qEnvironmentVariable("KR_DAMAGED_ONLY");
    for (const Case &c : cases()) {
        if (!only.isEmpty() && QString::fromStdString(c.name) != only)
            continue;
        QElapsedTimer timer;
        timer.start();
        try {
            outcomes.insert(QString::fromStdString(c.name), run(c));
        } catch (const KRException &exception) {
            ADD_FAILURE() << c.name << ": " << exception.name().toStdString() << ": " << exception.reason().toStdString();
        } catch (const std::exception &exception) {
            ADD_FAILURE() << c.name << ": " << exception.what();
        }
        EXPECT_LT(timer.elapsed(), 10000) << c.name;
    }
    if (!only.isEmpty())
        return;
    // The undamaged files open with what can be kept and build; the broken ones, and one that
    // declares entities, give an error.
    for (const char *name : {"shop", "abstract-and-unknown.xml", "hostile-ids.xml", "second-pages.xml"})
        EXPECT_EQ(outcomes.value(QString::fromLatin1(name)), Built) << name;
    EXPECT_EQ(outcomes.value(QStringLiteral("shop+links")), Built);
    for (const char *name : {"truncated.xml", "no-pages.xml", "entities.xml", "shop+linked-web"})
        EXPECT_EQ(outcomes.value(QString::fromLatin1(name), Built), Refused) << name;
}

// Divs nested one inside the other as deep as a document may hold (an empty div's contents
// beside the innermost label at the bound): the project opens, saves, reopens and builds with
// every walk of its tree within the stack, on the build's threads too; one level more, or
// fifteen thousand, is refused as it is read.
TEST_F(KRDamagedProjectTest, NestingAtTheBoundBuildsAndPastItIsRefused)
{
    if (!KRBuildTest::supportsFileMarks(KRTest::makeTempDir(QStringLiteral("marks"))))
        GTEST_SKIP() << "the test folder's file system keeps no extended attributes";
    // KRProjectDocument, KRPages, KRPage and KRContents lie above the page's objects; a div
    // and its contents take two levels.
    const auto nested = [](int levels, bool spare) {
        QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">"
                         "<KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"page1\"/><KRPages>"
                         "<KRPage id=\"page1\" title=\"Page 1\"><KRContents>\n";
        for (int n = 1; n <= levels; ++n)
            xml += "<KRDiv id=\"div" + QByteArray::number(n) + "\" top=\"0\" left=\"0\" width=\"300\"><KRContents>\n";
        if (spare)
            xml += "<KRDiv id=\"spare\" top=\"40\" left=\"0\"><KRContents/></KRDiv>";
        xml += "<KRLabel id=\"bottom\" top=\"0\" left=\"0\" value=\"Bottom\"/>";
        for (int n = 1; n <= levels; ++n)
            xml += "</KRContents></KRDiv>";
        return xml + "</KRContents></KRPage></KRPages></KRProjectDocument>\n";
    };
    const int levels = (KRXMLDocument::MaximumDepth - 4) / 2 - 1;
    EXPECT_EQ(run({"at the bound", nested(levels, true), Links::None}), Built);
    EXPECT_EQ(run({"past the bound", nested(levels + 1, true), Links::None}), Refused);
    EXPECT_EQ(run({"fifteen thousand", nested(15000, false), Links::None}), Refused);
}

} // namespace

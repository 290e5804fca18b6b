// Every sample project under resources/samples opens with the real model and builds, and
// what it refers to exists: event handlers name functions of their page, page links name pages.

#include <builder/KRProjectBuilder.h>
#include <controls/KRControlLibrary.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>

#include <KRTestSupport.h>
#include <KRCopyTree.h>

#include <gtest/gtest.h>

#include <ostream>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &list, std::ostream *os)
{
    *os << list.join(QStringLiteral("; ")).toStdString();
}

namespace {

QStringList samplePackages()
{
    const QDir samples(QStringLiteral(KR_SOURCE_DIR) + QStringLiteral("/resources/samples"));
    QStringList packages;
    for (const QString &name : samples.entryList({QStringLiteral("*.krproj")}, QDir::Dirs, QDir::Name))
        packages.append(samples.filePath(name));
    return packages;
}

// A copy in a scratch folder: opening may touch the package, the shipped one stays as it is.
QString copyOfPackage(const QString &package)
{
    const QString target = KRTest::makeTempDir() + QLatin1Char('/') + QFileInfo(package).fileName();
    KRTest::copyTree(package, target);
    return target;
}

class SampleProjects : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        KRLocalServerPort::setProvider([] { return qint64(4242); });
        KRPage::registerPageClass();
        registerControlLibrary();
    }
};

} // namespace

TEST_F(SampleProjects, ShowcaseShipsWithImages)
{
    const QStringList packages = samplePackages();
    ASSERT_TRUE(std::any_of(packages.begin(), packages.end(),
                            [](const QString &p) { return p.endsWith(QLatin1String("/Showcase.krproj")); }));
    const QString web = QStringLiteral(KR_SOURCE_DIR) + QStringLiteral("/resources/samples/Showcase.krproj/kr-web/images/");
    for (const char *image : {"logo.png", "beach.png", "hills.png", "sky.png"})
        EXPECT_TRUE(QFile::exists(web + QString::fromLatin1(image))) << image;
}

TEST_F(SampleProjects, EverySampleOpensAndItsReferencesResolve)
{
    for (const QString &shipped : samplePackages()) {
        SCOPED_TRACE(shipped.toStdString());
        const QString package = copyOfPackage(shipped);
        auto document = KRDocument::openPackage(package);
        ASSERT_TRUE(document.ok()) << document.error().message().toStdString();
        auto project = KRProject::create(document.value(), false);
        ASSERT_TRUE(project.ok()) << project.error().message().toStdString();
        const auto pages = project.value()->krPages();
        ASSERT_FALSE(pages.isEmpty());

        QSet<QString> pageIDs;
        for (const auto &page : pages)
            pageIDs.insert(page->kr_id());
        EXPECT_TRUE(pageIDs.contains(project.value()->startPage()));

        const KRXMLNode root = document.value()->xmlDocument().rootElement();
        for (const KRXMLNode &pageElement : root.nodesForXPath(QStringLiteral("//KRPages/KRPage"))) {
            const QString pageID = pageElement.attribute(QStringLiteral("id"));
            SCOPED_TRACE(pageID.toStdString());
            const KRXMLNode contents = pageElement.firstElementForXPath(QStringLiteral("KRContents"));
            QSet<QString> functions, ids;
            for (const KRXMLNode &element : contents.nodesForXPath(QStringLiteral(".//*[@id]"))) {
                EXPECT_FALSE(ids.contains(element.attribute(QStringLiteral("id")))) << "duplicate id";
                ids.insert(element.attribute(QStringLiteral("id")));
                if (element.name() == QLatin1String("KRFunction"))
                    functions.insert(element.attribute(QStringLiteral("id")));
            }
            auto checkReferences = [&](const KRXMLNode &element) {
                for (const QString &name : element.attributeNames()) {
                    const QString value = element.attribute(name);
                    if (value.isEmpty())
                        continue;
                    const bool handler = (name.startsWith(QLatin1String("on")) && name.size() > 2 && name.at(2).isUpper())
                        || name.contains(QLatin1String("OnClick"));
                    if (handler) {
                        EXPECT_TRUE(functions.contains(value)) << element.name().toStdString() << "." << name.toStdString();
                    }
                    if (name.endsWith(QLatin1String("otoPage"))) {
                        EXPECT_TRUE(value == QLatin1String("(back)") || pageIDs.contains(value)) << name.toStdString();
                    }
                }
            };
            checkReferences(pageElement);
            for (const KRXMLNode &element : contents.nodesForXPath(QStringLiteral(".//*"))) {
                checkReferences(element);
                // Item lists: JSON arrays whose page links and handlers must resolve too.
                QString json;
                if (element.name() == QLatin1String("JQMListView"))
                    json = element.stringValue();
                else if (element.hasAttribute(QStringLiteral("navbarItems")))
                    json = element.attribute(QStringLiteral("navbarItems"));
                if (json.isEmpty())
                    continue;
                QJsonParseError error;
                const QJsonDocument items = QJsonDocument::fromJson(json.toUtf8(), &error);
                ASSERT_EQ(error.error, QJsonParseError::NoError) << json.toStdString();
                ASSERT_TRUE(items.isArray());
                for (const QJsonValue &item : items.array()) {
                    const QString target = item.toObject().value(QStringLiteral("gotoPage")).toString();
                    if (!target.isEmpty()) {
                        EXPECT_TRUE(target == QLatin1String("(back)") || pageIDs.contains(target)) << target.toStdString();
                    }
                    const QString handler = item.toObject().value(QStringLiteral("onClick")).toString();
                    if (!handler.isEmpty()) {
                        EXPECT_TRUE(functions.contains(handler)) << handler.toStdString();
                    }
                }
            }
        }

        // Every object is of a known class and loads (a bad one would be skipped with a warning).
        for (const auto &page : pages)
            EXPECT_EQ(page->loadWarnings(), QStringList()) << page->kr_id().toStdString();

        // And the sample builds: one file per page, a server page for the page with server scripts.
        KRProjectBuilder builder(project.value());
        const KRResult<QString> built = builder.build();
        ASSERT_TRUE(built.ok()) << built.error().message().toStdString();
        const QDir web(QFileInfo(built.value()).path());
        EXPECT_EQ(QFileInfo(built.value()).completeBaseName(), project.value()->startPage());
        for (const auto &page : pages) {
            const QString file = page->kr_id() + ((!page->value(QStringLiteral("kr_onGET")).isEmpty() || !page->value(QStringLiteral("kr_onPOST")).isEmpty()) ? QStringLiteral(".krml") : QStringLiteral(".html"));
            EXPECT_TRUE(web.exists(file)) << file.toStdString();
        }
        EXPECT_TRUE(web.exists(QStringLiteral("KR-user-scripts.js")));
    }
}

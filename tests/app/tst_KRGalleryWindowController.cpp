#include "KRAppTestSupport.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryItemViewController.h>
#include <app/KRGalleryThumbnails.h>
#include <app/KRGalleryWindowController.h>
#include <model/KRDocument.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/views/KRCornerBadgeView.h>

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

class KRGalleryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", KRTest::sandboxDir().toUtf8());
        KRAppTest::installTestWindowFactory();
        alerts = KRAppTest::installScriptedAlerts();
        KRAppTest::closeAllDocuments();
        KRGalleryWindowController::setHeldSamples(std::nullopt);
        ASSERT_TRUE(server.start());
        KRAppTest::installGalleryService(server, KRAppTest::sampleArchive(QStringLiteral("Cafe")));
        KRAppTest::pointDefaultsAt(server);
        KRApplicationDelegate::setSavePanel([this](QWidget *, const QString &, const QString &, const QString &, const QString &,
                                                   std::function<void(const QString &)> done) { done(savePanelAnswer); });
    }
    void TearDown() override
    {
        KRApplicationDelegate::setSavePanel(nullptr);
        KRAppTest::closeAllDocuments();
        KRAlertService::setCurrent(nullptr);
    }

    int sampleGalleryCalls() const
    {
        int calls = 0;
        for (const KRTestRequest &request : server.requests())
            calls += request.queryItem("method") == "sampleGallery";
        return calls;
    }
    bool waitForSamples(KRGalleryWindowController &gallery)
    {
        return KRTest::processEventsUntil([&] { return !gallery.samples().isEmpty(); });
    }
    // Selects the first sample and opens it, as a double click does.
    void openFirstSample(KRGalleryWindowController &gallery, const QString &destination)
    {
        savePanelAnswer = destination;
        gallery.samplesTable->setCurrentRow(0);
        gallery.samples().first()->openButton->click();
    }
    QStringList leftoverDownloads() const
    {
        return QDir(KRPaths::temporaryDirectory()).entryList({QStringLiteral("Korvane-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    KRTestHTTPServer server;
    std::shared_ptr<KRScriptedAlertService> alerts;
    QString savePanelAnswer;
};

} // namespace

TEST(KRGalleryLayout, ListHalvesMeetAtHalfTheWidth)
{
    const auto layout = KRGalleryWindowController::layoutForWidth(1000, 1);
    EXPECT_DOUBLE_EQ(layout.dividerX, 499.5);
    EXPECT_DOUBLE_EQ(layout.recentWidth, 499.5);
    EXPECT_DOUBLE_EQ(layout.samplesX, 500.5);
    EXPECT_DOUBLE_EQ(layout.samplesWidth, 499.5);
}

TEST(KRGalleryItem, NamesAndDescriptionsAreShownAsTheyAreNotAsMarkup)
{
    // Both come from the sample service (or a folder's name) and are shown letter for letter.
    KRGalleryItemViewController row;
    const QString name = QStringLiteral("<b>Shop</b>");
    const QString description = QStringLiteral("<img src=\"x.png\" width=1><h1>big</h1>");
    row.setProjectName(name);
    row.setProjectDescription(description);
    EXPECT_GE(row.nameLabel->sizeHint().width(), row.nameLabel->fontMetrics().horizontalAdvance(name));
    EXPECT_LE(row.descriptionLabel->heightForWidth(2000), 2 * row.descriptionLabel->fontMetrics().height());
    row.descriptionLabel->setWordWrap(false);
    EXPECT_GE(row.descriptionLabel->sizeHint().width(), row.descriptionLabel->fontMetrics().horizontalAdvance(description));
}

TEST_F(KRGalleryTest, RecentProjectsListWhatStillExistsAndAFailedOpenKeepsTheGallery)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("recent"));
    const QString good = KRAppTest::makePackage(folder, QStringLiteral("Good"));
    const QString broken = KRAppTest::makePackage(folder, QStringLiteral("Broken"));
    KRTest::writeFile(broken + QStringLiteral("/project.xml"), "<not a project");
    KRTest::writeFile(good + QStringLiteral("/preview.png"), KRAppTest::thumbnailPNG());
    KRRecentDocuments &recent = KRDocumentController::sharedDocumentController().recentDocuments();
    recent.noteDocument(folder + QStringLiteral("/Gone.krproj"));
    recent.noteDocument(broken);
    recent.noteDocument(good);

    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_EQ(gallery.recentProjects().size(), 2) << "a project that is gone is not listed";
    EXPECT_FALSE(gallery.welcomeMode());
    EXPECT_TRUE(gallery.recentProjectsTable->isVisible());
    KRGalleryItemViewController *first = gallery.recentProjects().first();
    EXPECT_EQ(first->projectName(), QStringLiteral("Good"));
    EXPECT_TRUE(first->projectDescription().startsWith(QStringLiteral("~/"))) << first->projectDescription().toStdString();
    EXPECT_TRUE(first->hasThumbnail());
    EXPECT_FALSE(gallery.recentProjects().at(1)->hasThumbnail());

    // Selection shows Open on that row only.
    gallery.recentProjectsTable->setCurrentRow(1);
    EXPECT_TRUE(gallery.recentProjects().at(1)->isSelected());
    EXPECT_FALSE(first->isSelected());
    EXPECT_FALSE(first->openButton->isVisibleTo(first->view()));

    gallery.recentProjects().at(1)->openButton->click();
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(alerts->shownAlerts().first().messageText.contains(QStringLiteral("Broken.krproj")));
    EXPECT_TRUE(gallery.window()->isVisible()) << "the user can pick another project";
    EXPECT_TRUE(KRDocumentController::sharedDocumentController().documents().isEmpty());

    // Moved away since the list was made: said to be gone, and its row goes.
    ASSERT_TRUE(QDir().rename(broken, folder + QStringLiteral("/Elsewhere.krproj")));
    gallery.recentProjectsTable->setCurrentRow(1);
    gallery.recentProjects().at(1)->openButton->click();
    ASSERT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(alerts->shownAlerts().last().informativeText.startsWith(QStringLiteral("“Broken.krproj” is not there any more")))
        << alerts->shownAlerts().last().informativeText.toStdString();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return gallery.recentProjects().size() == 1; }));
    EXPECT_FALSE(recent.paths().contains(QDir::cleanPath(broken)));
    EXPECT_TRUE(gallery.window()->isVisible());

    gallery.recentProjectsTable->setCurrentRow(0);
    gallery.recentProjects().first()->openButton->click();
    ASSERT_EQ(KRDocumentController::sharedDocumentController().documents().size(), 1);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !gallery.window()->isVisible(); }));
}

// The launch decodes the recent projects' pictures on other threads while it waits for the
// gallery; the gallery then shows each project's own picture, as it is on disk when the gallery
// opens, scaled to fit the thumbnail.
TEST_F(KRGalleryTest, PicturesDecodedAheadShowEachProjectsPictureAsItIsWhenTheGalleryOpens)
{
    KRGalleryThumbnails::clear();
    const QString folder = KRTest::makeTempDir(QStringLiteral("thumbnails"));
    KRRecentDocuments &recent = KRDocumentController::sharedDocumentController().recentDocuments();
    recent.clear();
    const QList<QColor> colours{QColor(0xd0, 0x20, 0x20), QColor(0x20, 0xa0, 0x30), QColor(0x20, 0x40, 0xd0),
                                QColor(0xe0, 0xc0, 0x10), QColor(0x90, 0x20, 0xb0)};
    auto writePicture = [](const QString &package, QSize size, const QColor &colour) {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(colour);
        return picture.save(package + QStringLiteral("/preview.png"));
    };
    QStringList packages;
    for (int i = 0; i < int(colours.size()); ++i) {
        packages.append(KRAppTest::makePackage(folder, QStringLiteral("Project %1").arg(i)));
        ASSERT_TRUE(writePicture(packages.last(), QSize(300, 600), colours.at(i))); // a phone's shape
        recent.noteDocument(packages.last());
    }
    const QString damaged = KRAppTest::makePackage(folder, QStringLiteral("Damaged"));
    KRTest::writeFile(damaged + QStringLiteral("/preview.png"), "not a picture");
    recent.noteDocument(damaged);

    KRGalleryThumbnails::prefetchRecentProjects();
    // Changed after it was decoded: a wider picture in another colour.
    const QColor changed(0x10, 0x10, 0x10);
    ASSERT_TRUE(writePicture(packages.at(2), QSize(640, 200), changed));

    KRGalleryWindowController gallery;
    ASSERT_EQ(gallery.recentProjects().size(), colours.size() + 1);
    for (KRGalleryItemViewController *row : gallery.recentProjects()) {
        const QString name = row->projectName();
        SCOPED_TRACE(name.toStdString());
        if (name == QLatin1String("Damaged")) {
            EXPECT_FALSE(row->hasThumbnail()) << "what is no picture keeps the placeholder";
            continue;
        }
        ASSERT_TRUE(row->hasThumbnail());
        const int index = name.mid(QStringLiteral("Project ").size()).toInt();
        const QImage shown = row->imageButton->icon().pixmap(KRGalleryItemViewController::ThumbnailSize).toImage();
        const QSize expected = index == 2 ? QSize(96, 30) : QSize(32, 64);
        EXPECT_EQ(shown.size(), expected);
        EXPECT_EQ(shown.pixelColor(shown.width() / 2, shown.height() / 2), index == 2 ? changed : colours.at(index));
    }
}

TEST_F(KRGalleryTest, SamplesAreFetchedOnceAndADownloadBecomesAnOpenProject)
{
    auto gallery = std::make_unique<KRGalleryWindowController>();
    gallery->showWindow();
    ASSERT_TRUE(waitForSamples(*gallery));
    KRGalleryItemViewController *row = gallery->samples().first();
    EXPECT_EQ(row->projectName(), QStringLiteral("Café menu"));
    EXPECT_TRUE(row->badge->isVisibleTo(row->view()));
    EXPECT_FALSE(row->tutorialButton->isVisibleTo(row->view())) << "the sample has no tutorial";
    EXPECT_EQ(row->url(), server.url(QStringLiteral("/samples/cafe.zip")));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return row->hasThumbnail(); }));
    EXPECT_TRUE(gallery->samplesTable->isVisible());
    KRTest::saveScreenshot(*gallery->window(), QStringLiteral("app"), QStringLiteral("gallery-samples.png"), {1});

    // A second gallery of the process shows the samples without asking again.
    gallery.reset();
    KRGalleryWindowController second;
    EXPECT_EQ(second.samples().size(), 1);
    EXPECT_EQ(sampleGalleryCalls(), 1);

    second.showWindow();
    const QString destination = KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/My Cafe");
    openFirstSample(second, destination);
    ASSERT_TRUE(KRTest::processEventsUntil([] { return !KRDocumentController::sharedDocumentController().documents().isEmpty(); }));
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    const QString package = destination + QStringLiteral(".krproj");
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documents().first()->fileURL(), package);
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/kr-web/index.css")), QByteArray("body { color: red; }\n"));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !second.window()->isVisible(); }));
    EXPECT_TRUE(leftoverDownloads().isEmpty()) << leftoverDownloads().join(u',').toStdString();
}

TEST_F(KRGalleryTest, ASampleOnlyReplacesAClosedProjectPackage)
{
    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_TRUE(waitForSamples(gallery));
    const QString folder = KRTest::makeTempDir(QStringLiteral("dest"));

    // A folder of other things is never emptied.
    const QString documents = folder + QStringLiteral("/Papers.krproj");
    KRTest::writeFile(documents + QStringLiteral("/thesis.txt"), "years of work");
    openFirstSample(gallery, documents);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_FALSE(gallery.isDownloading());
    EXPECT_EQ(KRTest::readFile(documents + QStringLiteral("/thesis.txt")), QByteArray("years of work"));

    // Nor is an open project.
    const QString open = KRAppTest::makePackage(folder, QStringLiteral("Open"));
    ASSERT_TRUE(KRDocumentController::sharedDocumentController().openDocument(open));
    openFirstSample(gallery, open);
    ASSERT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(alerts->shownAlerts().last().informativeText.contains(QStringLiteral("open")));

    // A closed package is emptied first, then filled with the sample.
    const QString old = KRAppTest::makePackage(folder, QStringLiteral("Old"));
    KRTest::writeFile(old + QStringLiteral("/kr-web/stale.js"), "old");
    openFirstSample(gallery, old);
    ASSERT_TRUE(KRTest::processEventsUntil([] { return KRDocumentController::sharedDocumentController().documents().size() == 2; }));
    EXPECT_FALSE(QFileInfo::exists(old + QStringLiteral("/kr-web/stale.js")));
    EXPECT_TRUE(QFileInfo::exists(old + QStringLiteral("/kr-web/index.css")));
}

TEST_F(KRGalleryTest, AnArchiveWithoutAProjectOrAFailedDownloadSaysSoAndLeavesNothingBehind)
{
    server.route("/samples/cafe.zip", [archive = KRAppTest::sampleArchive(QString(), false)](const KRTestRequest &) {
        return KRTestResponse::text(archive, 200, "application/zip");
    });
    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_TRUE(waitForSamples(gallery));
    openFirstSample(gallery, KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/Empty.krproj"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !alerts->shownAlerts().isEmpty(); }));
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("The sample contains no project."));
    EXPECT_FALSE(gallery.isDownloading());
    EXPECT_TRUE(gallery.samplesTable->isVisible());
    EXPECT_TRUE(leftoverDownloads().isEmpty());
    EXPECT_TRUE(KRDocumentController::sharedDocumentController().documents().isEmpty());

    // A download that fails says so too, and the lists come back.
    server.route("/samples/cafe.zip", [](const KRTestRequest &) { return KRTestResponse::text("gone", 404); });
    openFirstSample(gallery, KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/Missing.krproj"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return alerts->shownAlerts().size() == 2; }));
    EXPECT_EQ(alerts->shownAlerts().last().messageText, QStringLiteral("The sample could not be downloaded."));
    EXPECT_FALSE(gallery.isDownloading());
    EXPECT_TRUE(leftoverDownloads().isEmpty());
}

TEST_F(KRGalleryTest, ClosingIsRefusedWhileDownloadingAndCancelReturnsToTheLists)
{
    server.route("/samples/cafe.zip", [](const KRTestRequest &) { return KRTestResponse::stalled(); });
    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_TRUE(waitForSamples(gallery));
    openFirstSample(gallery, KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/Slow.krproj"));
    ASSERT_TRUE(gallery.isDownloading());
    EXPECT_TRUE(gallery.downloadBox->isVisible());
    EXPECT_FALSE(gallery.samplesTable->isVisible());
    KRTest::saveScreenshot(*gallery.window(), QStringLiteral("app"), QStringLiteral("gallery-downloading.png"), {1});

    gallery.window()->close();
    EXPECT_TRUE(gallery.window()->isVisible());

    gallery.cancelButton->click();
    EXPECT_FALSE(gallery.isDownloading());
    EXPECT_TRUE(gallery.samplesTable->isVisible());
    EXPECT_TRUE(gallery.recentProjectsTable->isVisible());
    EXPECT_TRUE(leftoverDownloads().isEmpty());
}

TEST_F(KRGalleryTest, ServiceFailuresOfferTheBundledSamples)
{
    const QList<KRTestResponse> replies{
        KRTestResponse::text("{\"result\":\"ERR\",\"errortext\":\"maintenance\"}", 200, "application/json"),
        KRTestResponse::text("{\"result\":\"OK\"}", 200, "application/json"),
        KRTestResponse::text("{\"result\":\"OK\",\"samples\":[]}", 200, "application/json"),
        KRTestResponse::text("<html>oops</html>", 500, "text/html"),
    };
    const QStringList bundled = KRGalleryWindowController::bundledSamplePaths();
    ASSERT_EQ(bundled.size(), 2);
    for (const KRTestResponse &reply : replies) {
        KRGalleryWindowController::setHeldSamples(std::nullopt);
        server.route("/api.php", [reply](const KRTestRequest &) { return reply; });
        KRGalleryWindowController gallery;
        gallery.showWindow();
        ASSERT_TRUE(waitForSamples(gallery));
        ASSERT_EQ(gallery.samples().size(), 2);
        EXPECT_EQ(gallery.samples().first()->projectName(), QStringLiteral("Showcase"));
        EXPECT_EQ(gallery.samples().first()->url(), QUrl::fromLocalFile(bundled.first()));
        EXPECT_EQ(gallery.samples().last()->projectDescription(), QStringLiteral("1 page: Tip Calculator"));
        EXPECT_TRUE(gallery.samplesTable->isVisible());
    }
    EXPECT_TRUE(!KRGalleryWindowController::heldSamples() || KRGalleryWindowController::heldSamples()->isEmpty())
        << "a failure is asked again by the next gallery";

    // Without bundled samples either, the gallery says so.
    KRGalleryWindowController::setHeldSamples(std::nullopt);
    KRResources::setResourcesDirectory(KRTest::makeTempDir(QStringLiteral("no-resources")));
    KRGalleryWindowController gallery;
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !gallery.samplesLoadingLabel->text().isEmpty(); }));
    KRResources::setResourcesDirectory(QString());
    EXPECT_EQ(gallery.samplesLoadingLabel->text(), QStringLiteral("No samples currently available."));
    EXPECT_TRUE(gallery.samples().isEmpty());
}

// Entries the service sends malformed (not an object, no name or no address as text) are left
// out rather than shown as blank rows with buttons; with none well formed, the samples that come
// with the application are offered.
TEST_F(KRGalleryTest, MalformedSamplesAreLeftOut)
{
    const QByteArray malformed = "42, \"text\", null, [], {}, {\"name\": 7, \"url\": \"samples/a.zip\"}, "
                                 "{\"name\": \" \", \"url\": \"samples/a.zip\"}, {\"name\": \"No Address\"}, "
                                 "{\"name\": \"Odd Address\", \"url\": {\"href\": \"samples/a.zip\"}}";
    const QByteArray good = "{\"name\": \"Good\", \"description\": \"Fine.\", \"url\": \"samples/good.zip\", "
                            "\"tutorial\": \"\", \"image\": \" \", \"imageThumb\": \"\"}";
    server.route("/api.php", [&](const KRTestRequest &) {
        return KRTestResponse::text("{\"result\":\"OK\",\"samples\":[" + malformed + ", " + good + "]}", 200,
                                    "application/json");
    });
    {
        KRGalleryWindowController gallery;
        gallery.showWindow();
        ASSERT_TRUE(waitForSamples(gallery));
        ASSERT_EQ(gallery.samples().size(), 1);
        EXPECT_EQ(gallery.samples().first()->projectName(), QStringLiteral("Good"));
        EXPECT_EQ(gallery.samples().first()->url(), server.url(QStringLiteral("/samples/good.zip")));
        // Empty addresses name no tutorial and no picture, not the site they would resolve to.
        EXPECT_TRUE(gallery.samples().first()->tutorialUrl().isEmpty());
        EXPECT_TRUE(gallery.samples().first()->imageUrl().isEmpty());
        EXPECT_TRUE(gallery.samples().first()->imageThumbUrl().isEmpty());
        EXPECT_EQ(gallery.samplesTable->count(), 1);
    }
    KRGalleryWindowController::setHeldSamples(std::nullopt);
    server.route("/api.php", [&](const KRTestRequest &) {
        return KRTestResponse::text("{\"result\":\"OK\",\"samples\":[" + malformed + "]}", 200, "application/json");
    });
    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_TRUE(waitForSamples(gallery));
    ASSERT_EQ(gallery.samples().size(), 2);
    EXPECT_EQ(gallery.samples().first()->projectName(), QStringLiteral("Showcase"));
}

// With no service address nothing is asked of any service: the gallery lists the samples that
// come with the application, and one opens as the user's own copy.
TEST_F(KRGalleryTest, WithoutAServiceAddressTheBundledSamplesOpenAsCopies)
{
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    defaults.setValue(QStringLiteral("apiURL"), QString());
    defaults.setValue(QStringLiteral("insecureSiteURL"), QString());
    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_EQ(gallery.samples().size(), 2) << "listed at once";
    EXPECT_TRUE(gallery.samplesTable->isVisible());
    EXPECT_EQ(gallery.samples().first()->projectDescription(),
              QStringLiteral("5 pages: Showcase, Forms, Result, Media, Details"));
    KRTest::saveScreenshot(*gallery.window(), QStringLiteral("app"), QStringLiteral("gallery-bundled-samples.png"), {1});

    const QString original = KRGalleryWindowController::bundledSamplePaths().first();
    const QByteArray originalXML = KRTest::readFile(original + QStringLiteral("/project.xml"));
    // Never into the sample itself.
    openFirstSample(gallery, original);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().first().informativeText, QStringLiteral("That is the sample itself. Choose another folder."));
    EXPECT_EQ(KRTest::readFile(original + QStringLiteral("/project.xml")), originalXML);

    const QString destination = KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/My Showcase");
    openFirstSample(gallery, destination);
    ASSERT_TRUE(KRTest::processEventsUntil([] { return !KRDocumentController::sharedDocumentController().documents().isEmpty(); }));
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    const QString package = destination + QStringLiteral(".krproj");
    EXPECT_EQ(KRDocumentController::sharedDocumentController().documents().first()->fileURL(), package);
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/project.xml")), originalXML);
    EXPECT_TRUE(QFileInfo(package + QStringLiteral("/project.xml")).isWritable());
    EXPECT_TRUE(QFileInfo::exists(package + QStringLiteral("/kr-web/images/logo.png")));
    EXPECT_TRUE(QFileInfo::exists(original + QStringLiteral("/kr-web/images/logo.png"))) << "the sample stays as it is";
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !gallery.window()->isVisible(); }));
    EXPECT_EQ(sampleGalleryCalls(), 0);
    EXPECT_TRUE(server.requests().isEmpty()) << "nothing left the machine";
}

// A sample is copied with its links that lead inside it, leading inside the copy; one that
// leads out of it (to any file or folder of the user's) stays behind, so the user's copy
// shares and shows nothing outside itself.
TEST_F(KRGalleryTest, ASampleCopyLeavesLinksOutOfItBehind)
{
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    defaults.setValue(QStringLiteral("apiURL"), QString());
    defaults.setValue(QStringLiteral("insecureSiteURL"), QString());
    // The application's resources, with one sample of links in place of the shipped ones.
    const QString shipped = KRResources::resourcesDirectory();
    const QString resources = KRTest::makeTempDir(QStringLiteral("resources"));
    for (const QString &name : QDir(shipped).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (name != QLatin1String("samples")) {
            ASSERT_TRUE(QFile::link(shipped + QLatin1Char('/') + name, resources + QLatin1Char('/') + name));
        }
    }
    const QString sample = resources + QStringLiteral("/samples/Linked.krproj");
    KRTest::writeFile(sample + QStringLiteral("/project.xml"),
                      KRTest::readFile(shipped + QStringLiteral("/samples/TipCalculator.krproj/project.xml")));
    KRTest::writeFile(sample + QStringLiteral("/kr-web/logo.png"), "PNG");
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(outside + QStringLiteral("/secret.txt"), "secret");
    ASSERT_TRUE(QFile::link(QStringLiteral("logo.png"), sample + QStringLiteral("/kr-web/alias.png")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/secret.txt"), sample + QStringLiteral("/kr-web/secret.txt")));
    ASSERT_TRUE(QFile::link(outside, sample + QStringLiteral("/kr-web/shared")));
    KRResources::setResourcesDirectory(resources);
    struct RestoreResources
    {
        ~RestoreResources() { KRResources::setResourcesDirectory(QString()); }
    } restore;

    KRGalleryWindowController gallery;
    gallery.showWindow();
    ASSERT_EQ(gallery.samples().size(), 1);
    const QString destination = KRTest::makeTempDir(QStringLiteral("dest")) + QStringLiteral("/Mine");
    openFirstSample(gallery, destination);
    ASSERT_TRUE(KRTest::processEventsUntil([] { return !KRDocumentController::sharedDocumentController().documents().isEmpty(); }))
        << (alerts->shownAlerts().isEmpty() ? std::string() : alerts->shownAlerts().first().informativeText.toStdString());
    const QString web = destination + QStringLiteral(".krproj/kr-web");
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/logo.png")), QByteArray("PNG"));
    EXPECT_EQ(QFileInfo(web + QStringLiteral("/alias.png")).symLinkTarget(), web + QStringLiteral("/logo.png"));
    for (const char *name : {"/secret.txt", "/shared"})
        EXPECT_FALSE(QFileInfo(web + QLatin1String(name)).isSymLink() || QFileInfo::exists(web + QLatin1String(name))) << name;
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/secret.txt")), QByteArray("secret"));
}

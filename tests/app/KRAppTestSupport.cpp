#include "KRAppTestSupport.h"

#include <app/KRDocumentController.h>
#include <core/QZZipArchive.h>
#include <ui/KRProjectWindowController.h>
#include <model/KRDocument.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>

namespace {

class KRAppTestWindowController : public KRProjectWindowController
{
public:
    explicit KRAppTestWindowController(KRDocument &document)
    {
        m_window = std::make_unique<QMainWindow>();
        m_window->setObjectName(QStringLiteral("testProjectWindow"));
        m_window->setWindowTitle(QFileInfo(document.fileURL()).fileName());
        m_window->resize(400, 300);
        setWindow(m_window.get());
    }
    std::shared_ptr<KRProjectBase> project() const override { return nullptr; }
    void editFunction(const std::shared_ptr<KRFunction> &) override {}
    void projectRunAction() override {}
    void createPageAction() override {}

private:
    std::unique_ptr<QMainWindow> m_window;
};

} // namespace

namespace KRAppTest {

void installTestWindowFactory()
{
    KRDocument::setWindowControllerFactory([](KRDocument &document) -> std::unique_ptr<KRDocumentWindowController> {
        return std::make_unique<KRAppTestWindowController>(document);
    });
}

std::shared_ptr<KRScriptedAlertService> installScriptedAlerts()
{
    auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    return alerts;
}

std::shared_ptr<KRRecordingOpenURLService> installURLRecorder()
{
    auto recorder = std::make_shared<KRRecordingOpenURLService>();
    KROpenURLService::setCurrent(recorder);
    return recorder;
}

void closeAllDocuments()
{
    KRDocumentController &controller = KRDocumentController::sharedDocumentController();
    controller.closeAllDocuments();
    controller.recentDocuments().clear();
}

void pointDefaultsAt(const KRTestHTTPServer &server)
{
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    defaults.setValue(QStringLiteral("apiURL"), server.url(QStringLiteral("/api.php")).toString());
    defaults.setValue(QStringLiteral("insecureSiteURL"), server.url(QStringLiteral("/")).toString());
}

QByteArray sampleArchive(const QString &name, bool withProject)
{
    const QString path = KRTest::makeTempDir(QStringLiteral("zip")) + QStringLiteral("/sample.zip");
    {
        QZZipArchive archive(path);
        archive.open();
        if (withProject) {
            archive.writeData(KRTest::readFile(KRResources::pathForResource(QStringLiteral("DefaultProject.xml"))),
                              name + QStringLiteral(".krproj/project.xml"));
            archive.writeData("body { color: red; }\n", name + QStringLiteral(".krproj/kr-web/index.css"));
        } else {
            archive.writeData("nothing here\n", QStringLiteral("README.txt"));
        }
        archive.close();
    }
    return KRTest::readFile(path);
}

QByteArray thumbnailPNG()
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(0x20, 0x80, 0xd0));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void installGalleryService(KRTestHTTPServer &server, const QByteArray &archive)
{
    server.installHostingAPI();
    server.route("/samples/cafe.zip", [archive](const KRTestRequest &) {
        return KRTestResponse::text(archive, 200, "application/zip");
    });
    const QByteArray png = thumbnailPNG();
    for (const QByteArray &path : {QByteArray("/samples/cafe-thumb.png"), QByteArray("/samples/cafe.png")}) {
        server.route(path, [png](const KRTestRequest &) { return KRTestResponse::text(png, 200, "image/png"); });
    }
}

QString makePackage(const QString &folder, const QString &name)
{
    const QString package = folder + QLatin1Char('/') + name + QStringLiteral(".krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"),
                      KRTest::readFile(KRResources::pathForResource(QStringLiteral("DefaultProject.xml"))));
    return package;
}

QStringList zipEntryNames(const QByteArray &archive)
{
    const QString path = KRTest::makeTempDir(QStringLiteral("unzip")) + QStringLiteral("/a.zip");
    KRTest::writeFile(path, archive);
    const auto names = QZZipArchive::contentsOfZipFileAtPath(path, QString());
    return names ? *names : QStringList();
}

QByteArray zipEntry(const QByteArray &archive, const QString &name)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("unzip"));
    KRTest::writeFile(folder + QStringLiteral("/a.zip"), archive);
    QZZipArchive::unzipFileAtPath(folder + QStringLiteral("/a.zip"), folder + QStringLiteral("/out"));
    return KRTest::readFile(folder + QStringLiteral("/out/") + name);
}

} // namespace KRAppTest

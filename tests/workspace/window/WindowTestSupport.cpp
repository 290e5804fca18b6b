#include "WindowTestSupport.h"

#include <controls/KRControlLibrary.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>

#include <QApplication>
#include <QDir>

namespace KRWindowTest {

void prepare(bool fixedLibraryPort)
{
    static bool done = false;
    if (!done) {
        done = true;
        if (fixedLibraryPort)
            KRLocalServerPort::setProvider([] { return qint64(4242); });
        KRPage::registerPageClass();
        registerControlLibrary();
    }
    KRProjectWindows::install();
}

QString writePackage(const QString &name, const QString &pagesXML, const QString &settings)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("window")) + QLatin1Char('/') + name + QStringLiteral(".krproj");
    QDir().mkpath(folder + QStringLiteral("/kr-web"));
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                                       "<KRProject JQMVersion=\"1.4\" %2/><KRPages>%3</KRPages></KRProjectDocument>\n")
                            .arg(KRDocument::applicationShortVersion(), settings, pagesXML);
    KRTest::writeFile(folder + QStringLiteral("/project.xml"), xml.toUtf8());
    return folder;
}

KRWindowController *open(const QString &packagePath)
{
    prepare();
    KRResult<KRWindowController *> opened = KRProjectWindows::openProject(packagePath);
    EXPECT_TRUE(opened.ok()) << (opened.ok() ? std::string() : opened.error().toString().toStdString());
    if (!opened.ok() || !*opened)
        return nullptr;
    KRWindowController *controller = *opened;
    EXPECT_TRUE(controller->krProject()) << "the project did not load";
    return controller;
}

void activate(QWidget *window)
{
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(KRTest::processEventsUntil([window] { return QApplication::activeWindow() == window; }));
}

ScriptedAlerts::ScriptedAlerts() : m_service(std::make_shared<KRScriptedAlertService>())
{
    m_previous = KRAlertService::setCurrent(m_service);
}

ScriptedAlerts::~ScriptedAlerts()
{
    KRAlertService::setCurrent(m_previous);
}

QStringList ScriptedAlerts::messages() const
{
    QStringList texts;
    for (const KRAlert &alert : m_service->shownAlerts())
        texts << alert.messageText;
    return texts;
}

} // namespace KRWindowTest

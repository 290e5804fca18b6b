#pragma once

// Helpers for the control-library tests: a project package with one page, opened in design
// mode or for output, with the real control classes registered.

#include "KRTestSupport.h"

#include <controls/KRControlLibrary.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMElement.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace KRControlTest {

inline void registerClasses()
{
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRPage::registerPageClass();
    registerControlLibrary();
}

// The page "page1" holding the given objects (the inside of its KRContents element).
inline std::shared_ptr<KRPage> openPage(const QString &contents, bool designMode,
                                        std::shared_ptr<KRDocument> *documentOut = nullptr)
{
    registerClasses();
    const QByteArray xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                                          "<KRProject/><KRPages><KRPage id=\"page1\" title=\"Page 1\"><KRContents>%2"
                                          "</KRContents></KRPage></KRPages></KRProjectDocument>\n")
                               .arg(KRDocument::applicationShortVersion(), contents)
                               .toUtf8();
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Test.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(package);
    if (!document)
        return nullptr;
    if (documentOut)
        *documentOut = document.value();
    // The project holds its document weakly (the window owns it); the tests keep it.
    static QList<std::shared_ptr<KRDocument>> keptDocuments;
    keptDocuments.append(document.value());
    static QList<std::shared_ptr<KRProject>> keptProjects;
    KRResult<std::shared_ptr<KRProject>> project = KRProject::create(document.value(), designMode);
    if (!project || project.value()->krPages().isEmpty())
        return nullptr;
    keptProjects.append(project.value());
    return project.value()->krPages().first();
}

// Compares with tests/data/controls/golden/<name>; KR_UPDATE_GOLDEN=1 rewrites the file, and a
// mismatch leaves "<name>.FAILED" beside it.
inline void expectGolden(const QString &name, const QString &actual)
{
    const QString path = QStringLiteral(KR_TEST_DATA_DIR) + QStringLiteral("/controls/golden/") + name;
    if (qEnvironmentVariableIntValue("KR_UPDATE_GOLDEN") == 1) {
        KRTest::writeFile(path, actual.toUtf8());
        return;
    }
    const QString expected = QString::fromUtf8(KRTest::readFile(path));
    if (expected != actual) {
        KRTest::writeFile(path + QStringLiteral(".FAILED"), actual.toUtf8());
        ADD_FAILURE() << "golden mismatch: " << path.toStdString() << " (see .FAILED)";
    } else {
        QFile::remove(path + QStringLiteral(".FAILED"));
    }
}

template <typename T>
std::shared_ptr<T> as(const std::shared_ptr<KRObject> &object)
{
    return std::dynamic_pointer_cast<T>(object);
}

} // namespace KRControlTest

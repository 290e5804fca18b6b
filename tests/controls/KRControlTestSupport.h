#pragma once

// Helpers for the control-library tests: a project package with one page, opened in design
// mode or for output, with the real control classes registered.

#include "KRTestSupport.h"
#include "../model/KRPageTestSupport.h"

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
    // The projects stay open for the whole test program, as their pages are used freely.
    static QList<std::shared_ptr<KRProject>> keptProjects;
    const auto project = krOpenRegisteredProject(xml, designMode, documentOut);
    if (!project || project->krPages().isEmpty())
        return nullptr;
    keptProjects.append(project);
    return project->krPages().first();
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
    krExpectGoldenFile(path, actual);
}

template <typename T>
std::shared_ptr<T> as(const std::shared_ptr<KRObject> &object)
{
    return std::dynamic_pointer_cast<T>(object);
}

} // namespace KRControlTest

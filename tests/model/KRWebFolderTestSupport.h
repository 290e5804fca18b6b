#pragma once

// What the web-folder and project-resource tests share: a theme stylesheet, the probe for
// user extended attributes, and an owner that records what the folder stores and announces.

#include <core/KRFileManagerAdditions.h>
#include <model/KRWebFolderOwner.h>

#include "../support/KRTestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

namespace KRWebFolderTest {

// The four selectors that make a stylesheet a theme.
inline const QByteArray themeCSS = ".ui-btn{} .ui-body-a{} .ui-bar-a{} .ui-shadow{}";

// User attributes are refused by some file systems (older tmpfs, some overlays).
inline bool marksWork(const QString &folder)
{
    const QString probe = folder + QStringLiteral("/.mark-probe");
    KRTest::writeFile(probe, "x");
    KRFileManager::setExtendedAttributeOfItemAtPath(probe, QStringLiteral("com.korvane.probe"), QStringLiteral("1"));
    const bool works = KRFileManager::extendedAttributeOfItemAtPath(probe, QStringLiteral("com.korvane.probe"))
        == QLatin1String("1");
    QFile::remove(probe);
    return works;
}

class Owner : public KRWebFolderOwner
{
public:
    QString packagePath() const override { return package; }
    QStringList javascriptIncludes() const override { return js; }
    void setJavascriptIncludes(const QStringList &includes) override
    {
        js = includes;
        ++jsStores;
    }
    QStringList cssIncludes() const override { return css; }
    void setCssIncludes(const QStringList &includes) override
    {
        css = includes;
        ++cssStores;
    }
    QString defaultTheme() const override { return theme; }
    void setDefaultTheme(const QString &name) override { theme = name; }
    void resourcesWillChange() override { events << QStringLiteral("will"); }
    void resourcesDidChange() override { events << QStringLiteral("did"); }

    QString package;
    QStringList js, css;
    QString theme;
    int jsStores = 0, cssStores = 0;
    QStringList events;
};

} // namespace KRWebFolderTest

#define SKIP_WITHOUT_MARKS(folder) \
    if (!KRWebFolderTest::marksWork(folder)) \
    GTEST_SKIP() << "the file system refuses user extended attributes"

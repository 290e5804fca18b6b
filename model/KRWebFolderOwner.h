#pragma once

#include <QString>
#include <QStringList>

// What the web folder needs of its project. The project implements it; the setters are the
// project's undoable setting setters.
class KRWebFolderOwner
{
public:
    virtual ~KRWebFolderOwner() = default;

    // The package folder of the saved document; empty while the project is untitled.
    virtual QString packagePath() const = 0;

    virtual QStringList javascriptIncludes() const = 0;
    virtual void setJavascriptIncludes(const QStringList &includes) = 0;
    virtual QStringList cssIncludes() const = 0;
    virtual void setCssIncludes(const QStringList &includes) = 0;
    virtual QString defaultTheme() const = 0;
    // Also refreshes every page's theme.
    virtual void setDefaultTheme(const QString &theme) = 0;

    // The ids of the project's pages (the build writes a file for each).
    virtual QStringList pageIDs() const { return {}; }

    // Brackets each clearing of the resource list: the project announces a change of its
    // key "resources".
    virtual void resourcesWillChange() {}
    virtual void resourcesDidChange() {}
};

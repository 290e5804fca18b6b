#pragma once

#include <QString>
#include <QUrl>

#include <memory>

// The desktop's file viewer and default applications, as the resource commands use them.
// The GUI installs its implementation at start-up; without one, both calls log and fail.
class KRProjectResourceWorkspace
{
public:
    virtual ~KRProjectResourceWorkspace() = default;

    // Opens the URL with its default application (a folder: in the file viewer).
    virtual bool openURL(const QUrl &url) = 0;
    // Shows the item selected in a file viewer; one that cannot select shows the folder.
    virtual bool selectItem(const QString &path, const QString &rootFolder) = 0;

    // The installed implementation, or null.
    static KRProjectResourceWorkspace *current();
    // Installs an implementation (null: none); returns the previous one.
    static std::shared_ptr<KRProjectResourceWorkspace>
    setCurrent(std::shared_ptr<KRProjectResourceWorkspace> workspace);
};

#pragma once

#include <model/KRProjectResourceWorkspace.h>

// The desktop's side of the outline's resource commands. A file opens with the desktop's
// default application for it (through the "open outside" service); an item is shown in the
// desktop's file manager through its standard D-Bus interface (org.freedesktop.FileManager1),
// or, where no file manager offers that interface or the call fails, its folder is opened.
// The resource commands check what they hand over; this only passes it on.
class KRDesktopResourceWorkspace final : public KRProjectResourceWorkspace
{
public:
    bool openURL(const QUrl &url) override;
    bool selectItem(const QString &path, const QString &rootFolder) override;
};

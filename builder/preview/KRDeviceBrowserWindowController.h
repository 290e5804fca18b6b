#pragma once

#include <core/ui/KRWindowControllerBase.h>

#include <QString>

// The device preview window: runs a built application through a runtime server of its own and
// shows it in the skin of a device ("Device Viewer", mode 0) or in the user's browser with
// only the server's log in the window ("Local Server", any other mode).
class KRDeviceBrowserWindowController : public KRWindowControllerBase
{
    Q_OBJECT

public:
    KRDeviceBrowserWindowController();
    ~KRDeviceBrowserWindowController() override;

    int mode() const { return m_mode; }
    void setMode(int mode);
    QString indexFilePath() const { return m_indexFilePath; }
    void setIndexFilePath(const QString &path);
    QString deviceID() const { return m_deviceID; }
    void setDeviceID(const QString &deviceID);

private:
    int m_mode = 0;
    QString m_indexFilePath;
    QString m_deviceID;
};

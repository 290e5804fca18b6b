#include "KRDeviceBrowserWindowController.h"

#include <QMainWindow>

KRDeviceBrowserWindowController::KRDeviceBrowserWindowController()
{
    setWindow(new QMainWindow);
}

KRDeviceBrowserWindowController::~KRDeviceBrowserWindowController()
{
    delete window();
}

void KRDeviceBrowserWindowController::setMode(int mode)
{
    m_mode = mode;
}

void KRDeviceBrowserWindowController::setIndexFilePath(const QString &path)
{
    m_indexFilePath = path;
}

void KRDeviceBrowserWindowController::setDeviceID(const QString &deviceID)
{
    m_deviceID = deviceID;
}

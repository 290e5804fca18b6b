#pragma once

// Project windows for the tests: packages written into the sandbox, opened through the list of
// open projects, with scripted alerts and without file dialogs.

#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

#include <platform/foundation/KRScriptedAlertService.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QString>

#include <memory>

namespace KRWindowTest {

// Registers the page and control classes (once) and installs the window factory. Pages find
// their libraries on a fixed local-server port unless told otherwise (a live runtime server
// provides the port).
void prepare(bool fixedLibraryPort = true);

// A package "<name>.krproj" in a fresh folder with the given pages (KRPage elements) and
// project settings (attributes of the KRProject element); returns its path.
QString writePackage(const QString &name, const QString &pagesXML, const QString &settings = {});

// Opens the package in a window and waits until it has loaded; fails the test when it cannot.
KRWindowController *open(const QString &packagePath);

// Makes the window active and waits for it.
void activate(QWidget *window);

// Scripted alerts for one test; the previous service comes back at the end.
class ScriptedAlerts
{
public:
    ScriptedAlerts();
    ~ScriptedAlerts();
    KRScriptedAlertService &operator*() { return *m_service; }
    KRScriptedAlertService *operator->() { return m_service.get(); }
    // The message texts shown so far.
    QStringList messages() const;

private:
    std::shared_ptr<KRScriptedAlertService> m_service;
    std::shared_ptr<KRAlertService> m_previous;
};

} // namespace KRWindowTest

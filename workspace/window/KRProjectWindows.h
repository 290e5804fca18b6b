#pragma once

#include <platform/foundation/KRError.h>

#include <QList>
#include <QString>

#include <memory>

class KRDocument;
class KRWindowController;

// The open projects of the application, each a document with its window. install() makes the
// project window the documents' window controller; the application calls it once at start-up
// and opens projects through here. A window that the user closes (after the question about
// unsaved changes) closes its document. Main thread only.
namespace KRProjectWindows {

// Installs the window-controller factory for documents and registers the window's menu
// commands.
void install();

// Opens the package in a new window, or brings its open window to the front.
KRResult<KRWindowController *> openProject(const QString &packagePath);
// A new untitled project in a new window.
KRResult<KRWindowController *> newProject();
// Shows an already made document in a new window and keeps it open.
KRWindowController *showDocument(const std::shared_ptr<KRDocument> &document);
// Closes the window and its document without asking.
void closeProject(KRWindowController *controller);
// Reads the project's package again into a fresh window in place of this one; returns the new
// controller (null when the package could not be read: the old window then stays).
KRWindowController *reopenProject(KRWindowController *controller);

QList<KRWindowController *> openWindows();
// Closes every window without asking (tests, shutdown after the questions were asked).
void closeAll();

} // namespace KRProjectWindows

#pragma once

#include <tests/network/support/KRTestHTTPServer.h>

#include <QByteArray>
#include <QString>

#include <memory>

class KRScriptedAlertService;
class KRRecordingOpenURLService;

namespace KRAppTest {

// Installs a project-window factory that gives each opened document a plain window titled
// after its package, and the scripted alert and recording open-URL services (returned).
void installTestWindowFactory();
std::shared_ptr<KRScriptedAlertService> installScriptedAlerts();
std::shared_ptr<KRRecordingOpenURLService> installURLRecorder();

// Closes every open document of the shared document controller and forgets the recent list.
void closeAllDocuments();

// Points "apiURL" and "insecureSiteURL" of the shared defaults at the stand-in.
void pointDefaultsAt(const KRTestHTTPServer &server);

// A zip archive holding one project package, "<name>.krproj" (project.xml from the default
// project, kr-web/index.css), or no package at all.
QByteArray sampleArchive(const QString &name, bool withProject = true);
// A small PNG picture.
QByteArray thumbnailPNG();
// The hosting stand-in of the gallery: the hosting API plus the sample archive and thumbnail
// at the addresses its sample list names.
void installGalleryService(KRTestHTTPServer &server, const QByteArray &archive);

// A project package made from the default project.
QString makePackage(const QString &folder, const QString &name);

// The names of a zip archive's entries, in order, and one entry's bytes.
QStringList zipEntryNames(const QByteArray &archive);
QByteArray zipEntry(const QByteArray &archive, const QString &name);

} // namespace KRAppTest

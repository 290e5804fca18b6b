#pragma once

#include <QString>

// The folder of the application's shipped data (catalogue, default project, templates,
// local server, runtime script, web libraries). Looked up once: an explicit override (tests),
// the KR_RESOURCES_DIR environment variable, "../share/korvane/resources" beside the
// executable, and last the source tree's "resources" folder of a developer build.
namespace KRResources {

QString resourcesDirectory();
// Path of a file or folder inside the resources folder ("KRObjectInfo.xml",
// "local-server/kr-local-runtime.js"); the item need not exist.
QString pathForResource(const QString &relativePath);
// Overrides the folder for the rest of the process (empty: back to the lookup).
void setResourcesDirectory(const QString &path);

} // namespace KRResources

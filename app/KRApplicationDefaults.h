#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

class KRUserDefaults;

// The application-wide user defaults: every key with its default value, in one table, and the
// two registrations made at start-up (the site address follows from the service address).
namespace KRApplicationDefaults {

// Service configuration. No service address is shipped: until the user sets one in the
// preferences, nothing asks a service (no samples, news or reports are fetched or sent) and
// the site links say that no address is set.
inline const QString defaultAPIURL;

// The editor fonts tried in order, with their sizes (pixels).
QList<std::pair<QString, int>> preferredEditorFonts();
// The first preferred font that is installed, else the system's fixed-width font at 13
// pixels; as stored under "TextFont" (QFont::toString()).
QString defaultEditorFont();
// The stored "TextFont" as a font; the system's fixed-width font when it names none.
QFont editorFont(const KRUserDefaults &defaults);

// The first registration, in table order: every key but "insecureSiteURL".
QList<std::pair<QString, QVariant>> firstRegistration();
// The site address for a service address: the service's own scheme, host and port and a
// slash ("http://localhost:8080/" for "http://localhost:8080/api.php"); empty without a
// service address.
QString insecureSiteURL(const QString &apiURL);
// Both registrations into the defaults.
void registerDefaults(KRUserDefaults &defaults);
// Keeps the registered site address derived from the service address while the token lives
// (the service address is edited in the preferences).
[[nodiscard]] KRObservationToken followServiceAddress(KRUserDefaults &defaults);

// Joins an address and a path with exactly one slash between them.
QString joinURL(const QString &base, const QString &path);

} // namespace KRApplicationDefaults

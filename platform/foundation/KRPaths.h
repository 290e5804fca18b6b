#pragma once

#include <QString>

// Per-user folders, all derived from the XDG variables so that tests can point them at a
// temporary folder. Each function creates its folder when missing and returns its absolute
// path (without a trailing slash), or an empty string when it cannot be created.
namespace KRPaths {

// Reverse-domain identifier of the application; names the run log ("<id>.log").
inline constexpr const char *applicationIdentifier = "com.korvane.Korvane";
// Name of the application's folders.
inline constexpr const char *applicationName = "Korvane";

// ~/.local/share/Korvane: plug-ins, local databases, news state.
QString applicationSupportDirectory();
// ~/.local/state/Korvane: the run log.
QString logsDirectory();
// ~/.cache/Korvane: HTTP response cache.
QString cachesDirectory();
// A private folder (mode 0700) for temporary files: $XDG_RUNTIME_DIR/Korvane when the
// session has a runtime folder, else a "tmp" folder in the caches folder. Never a fixed name
// in a shared /tmp.
QString temporaryDirectory();
// The user's documents folder (home when there is none).
QString documentsDirectory();

} // namespace KRPaths

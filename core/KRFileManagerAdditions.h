#pragma once

#include <platform/foundation/KRError.h>

#include <QString>

// File-system helpers: extended-attribute marks on files, temporary path names and the
// per-user standard folders.
//
// Marks live in the Linux "user." attribute namespace: the mark "com.korvane.generatedFile"
// is stored as "user.com.korvane.generatedFile", its value as the text's UTF-8 bytes. Some
// file systems refuse user attributes; the marks are then lost (logged once per process),
// which costs recomputation, never data.
namespace KRFileManager {

// Stores the value as the item's attribute; failures are ignored. Follows a symlink at path.
void setExtendedAttributeOfItemAtPath(const QString &path, const QString &name, const QString &value);
// Marks the item and every item below it at any depth. Symbolic links found below the item
// are neither followed nor marked through, so nothing outside the tree is touched.
void setExtendedAttributesOfAllItemsAtPath(const QString &path, const QString &name,
                                           const QString &value);
// The attribute decoded as UTF-8; the empty string when the item has no such attribute or
// its attributes cannot be read. Callers test for empty, never for null.
QString extendedAttributeOfItemAtPath(const QString &path, const QString &name);

// "<temporary folder>/<prefix>-<UUID>", a fresh UUID on every call; nothing is created.
QString pathForTemporaryFileWithPrefix(const QString &prefix);

// The standard per-user folders that findOrCreateDirectory knows. The values are those the
// error's user info carries under "NSSearchPathDirectory".
enum class SearchPathDirectory {
    Documents = 9,
    Caches = 13,
    ApplicationSupport = 14,
};
// The only domain on this platform, carried as "NSSearchPathDomainMask".
inline constexpr int UserDomainMask = 1;

inline constexpr const char *DirectoryLocationErrorDomain = "DirectoryLocationDomain";
enum DirectoryLocationError {
    DirectoryLocationNoPath = 0, // "No path found for directory in domain."
    DirectoryLocationFileExists = 1, // "File exists at requested directory location."
};

// The folder of that kind, with appendComponent appended when non-empty, created with its
// intermediate folders when missing. Errors: domain "DirectoryLocationDomain" code 0 when
// the platform knows no such folder, code 1 when something other than a folder is in the
// way, or the creation error ("NSPOSIXErrorDomain", errno) when the folder cannot be made.
KRResult<QString> findOrCreateDirectory(SearchPathDirectory directory,
                                        const QString &appendComponent = {});

// The application's own folder in the per-user application-support folder, created when
// needed; empty (and a run-log line) when it cannot be found or created.
QString applicationSupportDirectory();

} // namespace KRFileManager

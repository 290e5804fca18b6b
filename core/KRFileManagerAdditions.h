#pragma once

#include <platform/foundation/KRError.h>

#include <QString>

// File-system helpers: extended-attribute marks on files, atomic writes, copies that keep
// symbolic links inside what is copied, temporary path names and the per-user standard
// folders.
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

// Writes the bytes as the file at path atomically: into a new file beside it (created
// exclusively, never through a link), synced unless sync is false, then renamed over path.
// A symbolic link at path is replaced by the file, never written through; a folder at path
// is refused. An existing file's permissions are kept. On failure the file at path is as it
// was and nothing is left beside it; the error ("NSPOSIXErrorDomain", errno) carries the
// reason as its message, for the caller's sentence.
KRResult<void> writeFileAtomically(const QString &path, const QByteArray &data, bool sync = true);

// The canonical form of a path that may not exist yet: its nearest existing ancestor made
// canonical, the rest appended. A link that leads nowhere counts as missing.
QString canonicalPathAllowingMissing(const QString &path);
// Whether the path is the folder or lies below it (both as written: no resolving).
bool isSameOrInside(const QString &path, const QString &folder);

// How copyLinkWithin ended.
enum class LinkCopy {
    Copied,  // a link to the same item of the copy was made
    LeftOut, // the link leads out of the root or to nothing: not copied (logged)
    Failed,  // the link could not be made
};
// Copies the symbolic link at linkPath to target as a link, when what it leads to lies in
// root (a canonical folder path) or is root: the copy then leads to the same item of the
// copied tree, relative to its own place, so a tree copied with its root leads only inside
// itself. A link that leads out of root, or to nothing, is left out. Never follows the link
// to copy what it leads to. *reason is set on failure.
LinkCopy copyLinkWithin(const QString &linkPath, const QString &target, const QString &root,
                        QString *reason = nullptr);
// Copies a file, or a folder with everything below it, to target (which must not exist).
// Symbolic links are copied by copyLinkWithin against root (a canonical folder path holding
// source); pipes, sockets and devices are left out, since reading one could block for ever.
// False with *reason set at the first failure.
bool copyItemWithin(const QString &source, const QString &target, const QString &root,
                    QString *reason = nullptr);

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

#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

#include <sys/stat.h>
#include <sys/types.h>

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
// The same for the file open as fd, whatever its path is now; path names it in the run log.
void setExtendedAttributeOfOpenFile(int fd, const QString &path, const QString &name, const QString &value);
// Marks the item and every item below it at any depth. Symbolic links found below the item
// are neither followed nor marked through, so nothing outside the tree is touched.
void setExtendedAttributesOfAllItemsAtPath(const QString &path, const QString &name,
                                           const QString &value);
// The attribute decoded as UTF-8; the empty string when the item has no such attribute or
// its attributes cannot be read. Callers test for empty, never for null.
QString extendedAttributeOfItemAtPath(const QString &path, const QString &name);

// A mark (an extended attribute, as above) given to a file by the write that makes it.
struct FileMark
{
    QString name;
    QString value;
};

// Writes the bytes as the file at path atomically: into a new file beside it (created
// exclusively, never through a link), synced unless sync is false, then renamed over path.
// A symbolic link at path is replaced by the file, never written through; a folder at path
// is refused. An existing file's permissions are kept. On failure the file at path is as it
// was and nothing is left beside it; the error ("NSPOSIXErrorDomain", errno) carries the
// reason as its message, for the caller's sentence.
// The folder at path is opened once; the file is then made, replaced and renamed relative to
// it, so no later change of the path's links moves the write elsewhere.
// What the replaced file had is kept where permitted: its owner and group, its mode with the
// setgid bit, its extended attributes. A file the user may not write (no write permission
// for the user, or none at all) is refused with EACCES and left as it was.
// The marks are set on the new file before it takes its name, so the file never shows
// under its name without them, whenever the process is stopped.
KRResult<void> writeFileAtomically(const QString &path, const QByteArray &data, bool sync = true,
                                   const QList<FileMark> &marks = {});
// The same for the file relativePath ("a/b/name") below the folder root. root is opened
// once, as named; every folder below it is opened relative to the one before without
// following a link, so a folder of the tree replaced by a link, before or during the write,
// fails the write (ELOOP or ENOTDIR) instead of leading it out of the tree. Empty, "." and
// ".." components are refused (EINVAL).
KRResult<void> writeFileAtomicallyBelow(const QString &root, const QString &relativePath, const QByteArray &data,
                                        bool sync = true, const QList<FileMark> &marks = {});

// A temporary file made ahead, empty, in an open folder, for a write that comes later
// (writeFileAtomicallyIn): making a file can take long on a busy file system. It carries the
// temporary-write mark, so one a killed process leaves is removed as any other.
struct TemporaryFile
{
    QByteArray name; // empty: none was made
    dev_t device = 0;
    ino_t inode = 0;
};
TemporaryFile makeTemporaryFileIn(int folder);
void removeTemporaryFileIn(int folder, const TemporaryFile &file);
// The atomic write of the file named name in the open folder, the parts one after the other;
// path names it in errors. The file made ahead is written when it is still that empty file;
// otherwise a new one is made. *written, when given, receives the written file's status.
KRResult<void> writeFileAtomicallyIn(int folder, const QByteArray &name, const QString &path,
                                     std::initializer_list<QByteArrayView> parts, bool sync,
                                     const QList<FileMark> &marks, const TemporaryFile *ahead = nullptr,
                                     struct stat *written = nullptr);

// Copies the file at source (a regular file; a link to one is followed) as the file
// relativePath below root, written as writeFileAtomicallyBelow writes it, the missing folders
// on the way made. With keepDate the copy takes the source's modification date.
KRResult<void> copyFileBelow(const QString &source, const QString &root, const QString &relativePath,
                             bool keepDate);

// The temporary files of the atomic writes are named ".kr-write-", a random number and a check
// of it; one is left behind only when the process writing it was killed.
bool isTemporaryWriteName(const QString &name);
// The mark a temporary file of an atomic write carries until it is renamed into place: what
// tells the application's own temporary files from a file that merely has such a name.
inline constexpr const char *TemporaryWriteMark = "com.korvane.temporaryWrite";
// Whether the item at path is a temporary file of an atomic write: the name, a regular file
// (not through a link) and the mark. The mark is the check in the name, which holds on any
// file system, or the attribute, where the file system keeps one (and on the files of earlier
// versions, whose names had no check).
bool isOwnTemporaryWrite(const QString &path);
// Removes the temporary files of atomic writes in the folder and, without following links,
// in every folder below it, that were abandoned: named and marked as such, older than this
// process (a write of this process is never removed) and not being written (the writer
// holds a lock on the file while it carries the mark). A file of the user's that merely has
// such a name stays. Returns how many were removed.
int removeStaleTemporaryWrites(const QString &folder);

// A path for people to read: its bytes as UTF-8, with each byte that is no part of a UTF-8
// character shown as "\xE9". File names on Linux are bytes, and old archives carry names
// in other encodings; QFile::decodeName would turn those bytes into U+FFFD.
QString displayPath(const QByteArray &path);
// Whether the name (bytes) is also the name QFile::decodeName gives back: only then can the
// item be reached through a QString path.
bool isDecodableName(const QByteArray &name);
// The items below the folder (at any depth, links not followed) whose names are not UTF-8,
// by relative path as displayPath shows it, sorted.
QStringList undecodableNamesBelow(const QString &folder);

// What a copy of a folder's contents (copyFolderContents) leaves out and how it copies links.
struct FolderCopy
{
    // The canonical folder the copy's links are judged by: a link that leads inside it is
    // copied as a link to the same item of the copy, one that leads out of it or to nothing
    // is left out (logged). Empty: every link is left out.
    QString linkRoot;
    // Names at the top of the source that stay behind.
    QStringList skip;
    // Whether the items' "user." marks travel with them (a package's own copy), or not (a copy
    // that becomes something new, as an import).
    bool keepMarks = true;
};
// Copies everything in the folder source into the existing folder destination: files with
// their bytes (sparse files keep their holes), permissions and "user." marks, folders with
// everything below them, links as FolderCopy says. Names are carried as the bytes they are,
// whatever their encoding, and no path is ever longer than one name: each folder is opened
// relative to the one above it, and the tree is walked without recursion, so depth is limited
// only by the open files allowed (two a level). Pipes, sockets and devices are left out
// (reading one could block for ever), and so are the application's own temporary files of
// unfinished writes. Nothing is followed out of either tree. On failure the error
// ("NSPOSIXErrorDomain", errno) says which item failed, where, and the reason.
// The copy is of one tree: source as it was opened. An item that is gone, replaced or written
// to while it is copied, a folder moved, replaced or removed before it is done, and source no
// longer naming the folder copied all fail the copy (code ESTALE, "it changed while it was
// copied"), so a copy never passes for whole with less than the source held.
KRResult<void> copyFolderContents(const QString &source, const QString &destination, const FolderCopy &options = {});
// Tests only: called on the copying thread after each item copyFolderContents copied (its
// source path), to change the source under a copy. Empty: nothing is called.
void setCopyObserverForTesting(std::function<void(const QByteArray &path)> observer);
// Removes the item at path and, for a folder, everything below it, links never followed,
// whatever the names' encoding or the depth; a folder on which something is mounted (another
// file system, or a bind mount of the same one) is never entered, and stops the removal. The
// error names the item that stayed and why.
KRResult<void> removeItemRecursively(const QString &path);
// Whether the item of that name in the open folder (never through a link) is the root of another
// mount than the folder's: a file system mounted there, or a bind mount of the same one.
bool isMountedOn(int folder, const QByteArray &name);

// The canonical form of a path that may not exist yet: its nearest existing ancestor made
// canonical, the rest appended. A link that leads nowhere counts as missing.
QString canonicalPathAllowingMissing(const QString &path);
// Whether the path is the folder or lies below it (both as written: no resolving).
bool isSameOrInside(const QString &path, const QString &folder);
// Whether the item at the path, or a folder it lies in, is the same item as the folder (device
// and inode), whichever links or other mounts either path goes through. False for an empty
// folder or one that does not exist.
bool isSameItemOrInside(const QString &path, const QString &folder);

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
// Copies a file, or a folder with everything below it, to target (which must not exist),
// as copyFolderContents copies (names as bytes, holes kept, any depth) but without the marks.
// Symbolic links are copied by copyLinkWithin against root (a canonical folder path holding
// source); pipes, sockets and devices are left out, since reading one could block for ever.
// False with *reason set at the first failure, naming the item and the system's reason.
bool copyItemWithin(const QString &source, const QString &target, const QString &root,
                    QString *reason = nullptr);

// A project can come from anyone, and a file of its package may be a pipe, a device or a link
// to one (git, tar and zip all carry links): reading such a thing blocks, or never ends. Every
// read of a package's file goes through these, which open the file without waiting (links
// followed), look at what was opened, and read only a regular file no larger than the limit.
inline constexpr const char *PackageFileErrorDomain = "KRPackageFile";
enum PackageFileError {
    PackageFileUnreadable = 1, // it could not be opened or read (the message says why)
    PackageFileNotRegular = 2, // a folder, pipe, device or socket, or a link to one
    PackageFileTooLarge = 3,   // larger than the limit
};
// The limit for a text the application reads whole: a style sheet, a script, a list.
inline constexpr qint64 PackageTextFileLimit = qint64(64) << 20;
// The limit for a file copied as it is (an imported resource, a file of the build).
inline constexpr qint64 PackageCopyFileLimit = qint64(1) << 30;
// The bytes of the file, or an error of PackageFileErrorDomain whose message names the file
// and says why it is not read.
KRResult<QByteArray> readPackageFile(const QString &path, qint64 limit = PackageTextFileLimit);
// Copies the file to target, which must not exist yet (it is created, never written
// through a link), with the same permissions; a sparse file keeps its holes. The same
// refusals as readPackageFile; on failure nothing is left at target.
KRResult<void> copyPackageFile(const QString &source, const QString &target,
                               qint64 limit = PackageCopyFileLimit);
// What the item at path is when it is no regular file or folder and so is never read: "a
// pipe", "a device", "a socket", or the same after "a link to "; empty otherwise (also for
// an item that does not exist or a link that leads nowhere).
QString specialFileKind(const QString &path);

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

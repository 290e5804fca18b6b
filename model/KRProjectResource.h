#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class KRError;
class KRWebFolder;
struct KREditableResourceType;

// One file or folder below a project's web folder.
class KRProjectResource
{
public:
    // File marks (extended attributes) that the builder and the theme test set.
    static constexpr const char *GeneratedFileMark = "com.korvane.generatedFile";
    static constexpr const char *StagedFileMark = "com.korvane.stagedFile";
    static constexpr const char *IsThemeMark = "com.korvane.isTheme";

    KRProjectResource() = default;
    KRProjectResource(const KRProjectResource &) = delete;
    KRProjectResource &operator=(const KRProjectResource &) = delete;

    const QString &name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    // Absolute path: the parent folder's path and the name joined by "/".
    const QString &fullPath() const { return m_fullPath; }
    void setFullPath(const QString &path) { m_fullPath = path; }
    // Path below the web folder ("css/blue.css"; the name alone at top level).
    const QString &relativePath() const { return m_relativePath; }
    void setRelativePath(const QString &path) { m_relativePath = path; }
    // Children of a folder; empty for a file.
    QList<std::shared_ptr<KRProjectResource>> &contents() { return m_contents; }
    const QList<std::shared_ptr<KRProjectResource>> &contents() const { return m_contents; }
    // Size in bytes of a file; unset for a folder.
    std::optional<qint64> fileSize() const { return m_fileSize; }
    void setFileSize(std::optional<qint64> size) { m_fileSize = size; }
    // The web folder that listed the record (the project's resource side).
    std::shared_ptr<KRWebFolder> project() const { return m_project.lock(); }
    void setProject(const std::weak_ptr<KRWebFolder> &project) { m_project = project; }
    bool isDirectory() const { return m_isDirectory; }
    void setIsDirectory(bool value) { m_isDirectory = value; }
    bool isGenerated() const { return m_isGenerated; }
    void setIsGenerated(bool value) { m_isGenerated = value; }
    bool isStaged() const { return m_isStaged; }
    void setIsStaged(bool value) { m_isStaged = value; }

    // The editable-resource type of the file's extension; cached once found.
    const KREditableResourceType *resourceTypeInfo();
    bool isEditable() { return resourceTypeInfo() != nullptr; }
    // Cached theme verdict: never for a generated file, else the theme test of the file.
    bool isTheme();
    // A theme whose name without extension is the project's default theme.
    bool isSelectedTheme();
    // The name of the processed copy of a theme stylesheet: css/blue.css -> css/__blue.css.
    QString themeRelativePath() const;
    // The edited text from the project's cache, decoded with its stored encoding, or else
    // the file read as UTF-8; nullopt when neither can be had.
    std::optional<QString> stringContents() const;
    // MD5 of the file's bytes, 32 lower-case hexadecimal digits; of no bytes when unreadable.
    QString md5Sum() const;

    // Removes the file or folder; a failure is shown. Drops the resource's edited bytes.
    bool deleteResource();
    // Moves the item to the new name in the same folder and reloads the project's list;
    // a failure is shown. Drops the edited bytes kept under the old path. Include lists and
    // page references are not changed.
    bool renameResource(const QString &newName);
    // Shows the item in the desktop's file manager. Only an item inside the project's web
    // folder (links followed) is shown; anything else is refused with an error shown.
    bool revealResourceInFinder() const;
    // Opens the file with its default application (a folder: in the file manager). Only an
    // item inside the project's web folder is opened, and never a program or a desktop
    // launcher; those are refused with an error shown.
    bool openResourceWithFinder() const;

    // Theme test of a stylesheet; the verdict is cached in the file's "com.korvane.isTheme"
    // mark.
    static bool fileIsJQMTheme(const QString &path);
    // The theme entry of a zip archive ("themes/blue.css" next to "themes/blue.min.css");
    // empty when there is none or the archive cannot be read (then *error, when given, says
    // why: TooLarge of QZZipArchive for an archive of too many entries). Linear in the
    // number of entries.
    static QString zipFileJQMTheme(const QString &path, KRError *error = nullptr);

    // Whether a build writes a file of this name at the top of the web folder, replacing
    // whatever is there: the generated scripts, site files and list of generated files, and
    // "<id>.html" and "<id>.krml" for each of the page ids. The builder and the resource
    // operations ask the same question.
    static bool isGeneratedFileName(const QString &name, const QStringList &pageIDs = {});
    // The name of the list of generated files the builder keeps in its output folder.
    static constexpr const char *GeneratedFileListName = ".kr-generated";

    // The last extension of a name or path, without the dot; empty when there is none.
    static QString pathExtension(const QString &name);
    // The name or path without its last extension.
    static QString deletingPathExtension(const QString &name);

private:
    QString m_name;
    QString m_fullPath;
    QString m_relativePath;
    QList<std::shared_ptr<KRProjectResource>> m_contents;
    std::optional<qint64> m_fileSize;
    std::weak_ptr<KRWebFolder> m_project; // the folder owns the list of records
    bool m_isDirectory = false;
    bool m_isGenerated = false;
    bool m_isStaged = false;
    const KREditableResourceType *m_resourceType = nullptr; // not owned: the process-wide table
    std::optional<bool> m_isTheme;
};

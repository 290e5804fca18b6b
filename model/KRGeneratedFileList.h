#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>

// The list a build keeps in its output folder (".kr-generated") of what it wrote there: the
// files it generated at the top of the folder, each with its size, date and SHA-256 digest,
// and the names of the items it copied from the application's libraries (staged).
//
// The builder also marks each item it writes (an extended attribute), but marks and dates are
// both lost when a project is copied by a tool that keeps neither (cp -r): the digest still
// tells a file the build wrote from one the user put in its place since. The list comes with
// the project, so it is never trusted further than that: a listed file counts as generated
// only while its bytes are the ones listed, and only plain names directly in the folder are
// read.
//
// Each line is "<size> <date> <digest> <name>" for a generated file (lists of earlier builds
// have no digest: "<size> <date> <name>"), or "staged <name>".
class KRGeneratedFileList
{
public:
    struct File
    {
        QString name;
        qint64 size = 0;
        qint64 modified = 0; // milliseconds since the epoch
        QByteArray digest;   // lower-case hexadecimal SHA-256; empty in a list of an earlier build
    };

    QList<File> files;
    QStringList staged; // names directly in the folder, each once

    // The list in the folder; empty when there is none or it is no list a build could have
    // written (a link, not a plain file, or larger than any build's list).
    static KRGeneratedFileList read(const QString &folder);
    // Replaces the list in the folder (a link in its place is replaced, never written through).
    KRResult<void> write(const QString &folder) const;

    // The entry of a generated file of that name; null when there is none.
    const File *file(const QString &name) const;
    bool isStaged(const QString &name) const { return staged.contains(name); }
    // Adds a staged name once.
    void addStaged(const QString &name);
    // Whether the file at the path is still the one listed: a plain file (not a link) of the
    // listed size, and of the listed date or else of the listed digest.
    static bool isStillListedFile(const File &file, const QString &path);
    // Whether the item `name` directly in the folder is one the list names: a generated file
    // that is still as listed, or a staged item.
    bool lists(const QString &folder, const QString &name) const;

    // The SHA-256 of the bytes, in lower-case hexadecimal.
    static QByteArray digest(std::initializer_list<QByteArrayView> parts);
    static QByteArray digestOfFile(const QString &path);
    // The file's date as listed: its modification time in milliseconds; -1 when unreadable.
    static qint64 modifiedMSecs(const QString &path);

    // No build writes a longer list.
    static constexpr qint64 MaximumSize = qint64(16) << 20;
};

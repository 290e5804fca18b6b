#include "KRScriptCache.h"

#include <core/KRRunLogger.h>
#include <core/KRNodeRunner.h>
#include <platform/foundation/KRPaths.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#include <vector>

namespace {

// An entry file: "KRSC1 <kind> <payload's SHA-256 in hex>\n" and the payload (a minified text
// in UTF-8, or a finding list as JSON).
constexpr char entryMagic[] = "KRSC1 ";
constexpr char minifiedKind = 'm';
constexpr char findingsKind = 'c';
// No answer is larger than the largest script the server takes, four bytes a character.
constexpr qint64 largestEntryBytes = qint64(64) << 20;

// What a file of `size` bytes takes on disk: whole blocks (a small entry takes one).
qint64 diskBytes(qint64 size)
{
    constexpr qint64 block = 4096;
    return (std::max<qint64>(size, 1) + block - 1) / block * block;
}

QByteArray sha256Hex(QByteArrayView data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

KRScriptCache &KRScriptCache::sharedInstance()
{
    static KRScriptCache *cache = [] {
        auto *made = new KRScriptCache();
        const QString caches = KRPaths::cachesDirectory();
        const QByteArray tools = toolsKey(KRNodeRunner::localServerPath());
        if (!caches.isEmpty() && !tools.isEmpty())
            made->setPersistentFolder(caches + QStringLiteral("/Scripts"), tools);
        return made;
    }();
    return *cache;
}

QByteArray KRScriptCache::toolsKey(const QString &localServerFolder)
{
    if (localServerFolder.isEmpty())
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const char *file : {"node_modules/jshint/package.json", "node_modules/uglify-js/package.json",
                             "kr-server-tools.js"}) {
        QFile input(QDir(localServerFolder).filePath(QString::fromLatin1(file)));
        if (!input.open(QIODevice::ReadOnly))
            return {};
        QByteArray text = input.readAll();
        // Of a package, its version: installing the same version again changes nothing.
        if (QByteArrayView(file).endsWith("package.json")) {
            const QJsonValue version = QJsonDocument::fromJson(text).object().value(QStringLiteral("version"));
            if (!version.isString())
                return {};
            text = version.toString().toUtf8();
        }
        hash.addData(QByteArray(file) + '\0' + QByteArray::number(text.size()) + ':' + text);
    }
    return hash.result().toHex();
}

void KRScriptCache::setPersistentFolder(const QString &folder, const QByteArray &toolsKey, qint64 maximumBytes)
{
    if (folder.isEmpty() || toolsKey.isEmpty() || !QDir().mkpath(folder)) {
        KR_LOG(QStringLiteral("The checked and minified scripts are kept in memory only: no folder at %1").arg(folder));
        return;
    }
    m_folder = QDir(folder).absolutePath();
    m_toolsKey = toolsKey;
    m_maximumBytes = std::max<qint64>(maximumBytes, 1);
}

QByteArray KRScriptCache::keyOf(const QString &prefix, const QString &source)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray head = prefix.toUtf8();
    // The prefix's length first, so that no prefix and text run into another pair's.
    hash.addData(QByteArray::number(head.size()) + ':' + head);
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(source.constData()), source.size() * qsizetype(sizeof(QChar))));
    return hash.result();
}

void KRScriptCache::makeRoom(qint64 characters) const
{
    if (m_characters + characters <= maximumCharacters)
        return;
    m_minified.clear();
    m_findings.clear();
    m_characters = 0;
}

QString KRScriptCache::fileOf(const QByteArray &key) const
{
    if (m_folder.isEmpty())
        return {};
    // The tools' key goes into the name: what older tools answered is never read.
    const QByteArray name = sha256Hex(m_toolsKey + '\0' + key);
    return m_folder + QLatin1Char('/') + QString::fromLatin1(name.left(2)) + QLatin1Char('/')
           + QString::fromLatin1(name.mid(2));
}

std::optional<QByteArray> KRScriptCache::readEntry(const QByteArray &key, char kind) const
{
    const QString path = fileOf(key);
    if (path.isEmpty())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.size() <= largestEntryBytes ? file.read(largestEntryBytes + 1) : QByteArray();
    file.close();
    const QByteArray head = QByteArray(entryMagic) + kind + ' ';
    const qsizetype lineEnd = content.indexOf('\n');
    if (!content.startsWith(head) || lineEnd != head.size() + 64
        || content.mid(head.size(), 64) != sha256Hex(QByteArrayView(content).sliced(lineEnd + 1))) {
        KR_LOG(QStringLiteral("A damaged entry of the script cache was removed: %1").arg(path));
        QFile::remove(path);
        return std::nullopt;
    }
    // Used now: the folder's trimming keeps it longer.
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), nullptr, 0);
    return content.mid(lineEnd + 1);
}

void KRScriptCache::writeEntry(const QByteArray &key, char kind, const QByteArray &payload)
{
    const QString path = fileOf(key);
    if (path.isEmpty())
        return;
    const QByteArray content = QByteArray(entryMagic) + kind + ' ' + sha256Hex(payload) + '\n' + payload;
    QDir().mkpath(QFileInfo(path).path());
    // Written beside its place and renamed into it, so that a reader finds the whole entry or
    // none. Not synced to the disk: an entry lost in a crash is asked for again, and one cut
    // short fails its checksum.
    static std::atomic<quint64> serial{0};
    const QByteArray target = QFile::encodeName(path);
    const QByteArray partial = target + ".part" + QByteArray::number(::getpid()) + '-' + QByteArray::number(++serial);
    const int fd = ::open(partial.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (qsizetype done = 0; written && done < content.size();) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        written = n > 0;
        done += n > 0 ? n : 0;
    }
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    if (!written || ::rename(partial.constData(), target.constData()) != 0) {
        KR_LOG(QStringLiteral("The script cache could not keep an entry at %1: %2")
                   .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        ::unlink(partial.constData());
        return;
    }
    keepFolderBounded(diskBytes(content.size()));
}

void KRScriptCache::keepFolderBounded(qint64 written)
{
    const std::lock_guard lock(m_diskLock);
    if (m_diskBytes >= 0) {
        m_diskBytes += written;
        if (m_diskBytes <= m_maximumBytes)
            return;
    }
    struct Entry
    {
        qint64 used; // nanoseconds
        qint64 size;
        QString path;
    };
    std::vector<Entry> entries;
    qint64 total = 0;
    QDirIterator files(m_folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        struct stat status;
        if (::stat(QFile::encodeName(path).constData(), &status) != 0)
            continue;
        const qint64 taken = std::max(qint64(status.st_blocks) * 512, diskBytes(status.st_size));
        entries.push_back({qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec, taken, path});
        total += taken;
    }
    if (total > m_maximumBytes) {
        std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.used < b.used; });
        for (const Entry &entry : entries) {
            if (total <= m_maximumBytes / 4 * 3)
                break;
            if (QFile::remove(entry.path))
                total -= entry.size;
        }
    }
    m_diskBytes = total;
}

std::optional<QString> KRScriptCache::minified(const QString &source) const
{
    const QByteArray key = keyOf(QString(), source);
    {
        const std::lock_guard lock(m_lock);
        const auto found = m_minified.constFind(key);
        if (found != m_minified.cend())
            return *found;
    }
    const std::optional<QByteArray> kept = readEntry(key, minifiedKind);
    if (!kept)
        return std::nullopt;
    const QString text = QString::fromUtf8(*kept);
    {
        const std::lock_guard lock(m_lock);
        makeRoom(text.size());
        m_characters += text.size();
        m_minified.insert(key, text);
    }
    return text;
}

void KRScriptCache::setMinified(const QString &source, const QString &minified)
{
    const QByteArray key = keyOf(QString(), source);
    {
        const std::lock_guard lock(m_lock);
        makeRoom(minified.size());
        m_characters += minified.size();
        m_minified.insert(key, minified);
    }
    if (!m_folder.isEmpty())
        writeEntry(key, minifiedKind, minified.toUtf8());
}

std::optional<QVariantList> KRScriptCache::findings(const QString &optionsKey, const QString &source) const
{
    const QByteArray key = keyOf(QStringLiteral("check ") + optionsKey, source);
    {
        const std::lock_guard lock(m_lock);
        const auto found = m_findings.constFind(key);
        if (found != m_findings.cend())
            return *found;
    }
    const std::optional<QByteArray> kept = readEntry(key, findingsKind);
    if (!kept)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*kept, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QVariantList list;
    for (const QJsonValue &element : document.array()) {
        if (!element.isObject())
            return std::nullopt;
        list.append(element.toObject().toVariantMap());
    }
    {
        const std::lock_guard lock(m_lock);
        const qint64 characters = 64 + list.size() * 256;
        makeRoom(characters);
        m_characters += characters;
        m_findings.insert(key, list);
    }
    return list;
}

void KRScriptCache::setFindings(const QString &optionsKey, const QString &source, const QVariantList &findings)
{
    const QByteArray key = keyOf(QStringLiteral("check ") + optionsKey, source);
    // A finding list costs about what its text does; a clean one next to nothing.
    const qint64 characters = 64 + findings.size() * 256;
    {
        const std::lock_guard lock(m_lock);
        makeRoom(characters);
        m_characters += characters;
        m_findings.insert(key, findings);
    }
    if (!m_folder.isEmpty())
        writeEntry(key, findingsKind, QJsonDocument(QJsonArray::fromVariantList(findings)).toJson(QJsonDocument::Compact));
}

void KRScriptCache::clear()
{
    const std::lock_guard lock(m_lock);
    m_minified.clear();
    m_findings.clear();
    m_characters = 0;
}

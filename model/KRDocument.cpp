#include "KRDocument.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRModelAdapter.h>
#include <model/KRProject.h>
#include <model/KRProjectBase.h>
#include <model/KRWebFolder.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUuid>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef KR_APP_VERSION
#define KR_APP_VERSION "0.0.0"
#endif

namespace {

// Where in a project the XML reader's refusal is, as a user knows it: "the KRLabel “tip” on
// the page “home”"; empty when it cannot be told. A refusal of an element names the element,
// its id and those around it; another names a line of `text`, which the application writes
// with each object's start tag on a line of its own.
QString krObjectPlace(const KRError &error, const QByteArray &text)
{
    const QVariantMap info = error.userInfo();
    QString element = info.value(QStringLiteral("element")).toString();
    QString id = info.value(QStringLiteral("id")).toString();
    QString page;
    for (const QVariant &outer : info.value(QStringLiteral("within")).toList()) {
        const QVariantMap around = outer.toMap();
        if (around.value(QStringLiteral("name")).toString() == QLatin1String("KRPage"))
            page = around.value(QStringLiteral("id")).toString();
    }
    const int line = info.value(QStringLiteral("line")).toInt();
    if (element.isEmpty() && line > 0 && !text.isEmpty()) {
        // The start tags with an id up to the line, the last one and the page it is on.
        static const QRegularExpression tag(QStringLiteral("^\\s*<([A-Za-z_][\\w.-]*)\\s[^>]*?\\bid=\"([^\"]*)\""));
        const QList<QByteArrayView> lines = [&] {
            QList<QByteArrayView> all;
            qsizetype from = 0;
            for (int n = 0; n < line && from <= text.size(); ++n) {
                const qsizetype end = text.indexOf('\n', from);
                all.append(QByteArrayView(text).sliced(from, (end < 0 ? text.size() : end) - from));
                if (end < 0)
                    break;
                from = end + 1;
            }
            return all;
        }();
        for (auto at = lines.crbegin(); at != lines.crend() && (element.isEmpty() || page.isEmpty()); ++at) {
            const QRegularExpressionMatch match = tag.match(QString::fromUtf8(at->first(std::min<qsizetype>(at->size(), 4096))));
            if (!match.hasMatch())
                continue;
            if (element.isEmpty()) {
                element = match.captured(1);
                id = match.captured(2);
            }
            if (match.captured(1) == QLatin1String("KRPage") && (page.isEmpty() || element == QLatin1String("KRPage")))
                page = match.captured(2);
        }
    }
    if (element.isEmpty())
        return {};
    return KRDocument::objectPlace(element, id, page, true);
}


KRDocument::WindowControllerFactory &factoryStorage()
{
    static KRDocument::WindowControllerFactory factory;
    return factory;
}

const QString kWebFolder = QStringLiteral("kr-web");
const QString kProjectFile = QStringLiteral("project.xml");
const QString kProjectRoot = QStringLiteral("KRProjectDocument");

QString removeAbandonedSaves(const QString &place);

} // namespace

KRDocument::KRDocument() : m_undoManager(std::make_unique<KRUndoManager>()), m_observable(this) {}

KRDocument::~KRDocument()
{
    KR_LOG(QString());
    m_windowController.reset();
}

QString KRDocument::applicationShortVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral(KR_APP_VERSION) : version;
}

int KRDocument::compareVersions(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Compare by value without overflow: skip leading zeros, then length, then digits.
            QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
                x.remove(0, 1);
            while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y))
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
        } else {
            if (a.at(i) != b.at(j))
                return a.at(i) < b.at(j) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

bool KRDocument::isSupportedVersion(const QString &documentVersion)
{
    if (documentVersion.isEmpty())
        return true;
    QStringList parts = documentVersion.split(QLatin1Char('.'));
    if (parts.size() >= 4)
        parts = parts.mid(0, 3);
    return compareVersions(parts.join(QLatin1Char('.')), applicationShortVersion()) <= 0;
}

bool KRDocument::autosavesInPlace()
{
    return KRUserDefaults::sharedInstance().boolValue(QStringLiteral("autosavesInPlace"));
}

KRResult<std::shared_ptr<KRDocument>> KRDocument::makeUntitled()
{
    KR_LOG(QString());
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(KRResources::pathForResource(QStringLiteral("DefaultProject.xml")));
    if (!xml)
        return xml.error();
    std::shared_ptr<KRDocument> document(new KRDocument());
    document->m_xml = xml.value();
    return document;
}

KRResult<std::shared_ptr<KRDocument>> KRDocument::openPackage(const QString &packagePath)
{
    std::shared_ptr<KRDocument> document(new KRDocument());
    const KRResult<void> read = document->readFromPackage(packagePath);
    if (!read)
        return read.error();
    return document;
}

std::shared_ptr<KRDocument> KRDocument::makeCopy(const KRXMLDocument &xml, const QString &packagePath)
{
    std::shared_ptr<KRDocument> copy(new KRDocument());
    copy->m_packagePath = packagePath;
    copy->m_xml = xml;
    return copy;
}

const KRXMLDocument::EmptyAttributeNames &KRDocument::adaptersEmptyAttributes()
{
    static const KRXMLDocument::EmptyAttributeNames names = [](const char *element) -> const std::vector<QByteArray> * {
        const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
        const QString className = QString::fromUtf8(element);
        if (!registry.isInstantiable(className))
            return nullptr;
        const std::vector<KRPropertyDescriptor> *table = registry.lastingDescriptorTable(className);
        return table ? registry.attributeNames(className, table).get() : nullptr;
    };
    return names;
}

KRXMLDocument::Additions KRDocument::adaptersAdditions()
{
    // The names of the classes' objects, with those of a new project's own elements (the
    // project's settings, its page list): made anew when the classes change.
    static std::mutex lock;
    static std::shared_ptr<const QSet<QByteArrayView>> classNames;
    static std::shared_ptr<const QSet<QByteArrayView>> names;
    const std::shared_ptr<const QSet<QByteArrayView>> current = KRClassRegistry::sharedInstance().writtenNames();
    const std::lock_guard locked(lock);
    if (current != classNames || !names) {
        auto written = std::make_shared<KRXMLDocument::NameSet>();
        for (const QByteArrayView name : *current)
            written->insert(name);
        if (const KRResult<KRXMLDocument> defaults =
                KRXMLDocument::fromFile(KRResources::pathForResource(QStringLiteral("DefaultProject.xml")))) {
            for (const KRXMLNode &element : defaults.value().nodesForXPath(QStringLiteral("//*"))) {
                written->insert(element.name().toUtf8());
                for (const QString &attribute : element.attributeNames())
                    written->insert(attribute.toUtf8());
            }
        }
        names = KRXMLDocument::NameSet::share(written);
        classNames = current;
    }
    KRXMLDocument::Additions additions(adaptersEmptyAttributes());
    additions.names = names;
    return additions;
}

QString KRDocument::objectPlace(const QString &element, const QString &id, const QString &page, bool indefinite)
{
    const auto shown = [](const QString &text) { return text.size() > 60 ? text.left(59) + QChar(0x2026) : text; };
    QString place = !id.isEmpty() ? QStringLiteral("the %1 \u201C%2\u201D").arg(element, shown(id))
                    : indefinite  ? QStringLiteral("a %1").arg(element)
                                  : QStringLiteral("the %1").arg(element);
    // A page is on no page but itself.
    if (!page.isEmpty() && !(element == QLatin1String("KRPage") && page == id))
        place += QStringLiteral(" on the page \u201C%1\u201D").arg(shown(page));
    return place;
}

KRResult<void> KRDocument::readFromPackage(const QString &packagePath)
{
    KR_LOG(QString());
    // First what Save As runs killed midway left: one killed between its two renames left the
    // place empty, and the project beside it.
    if (const QString movedAside = removeAbandonedSaves(packagePath); !movedAside.isEmpty())
        return KRError(ProjectErrorDomain, 1, movedAside);
    const QString path = QDir(packagePath).filePath(kProjectFile);
    if (!QFileInfo(path).isFile()) {
        const QFileInfo package(QDir::cleanPath(packagePath));
        if (!package.exists() && !package.isSymLink())
            return KRError(ProjectErrorDomain, NotThereCode,
                           QStringLiteral("“%1” is not there any more: nothing is at %2. It may have been moved, "
                                          "renamed or deleted.")
                               .arg(package.fileName(), QDir::toNativeSeparators(package.absoluteFilePath())));
        const QString why = package.exists() && !package.isDir() ? QStringLiteral("it is a file, not a folder")
                                                                  : QStringLiteral("the folder has no project.xml");
        return KRError(ProjectErrorDomain, 1,
                       QStringLiteral("“%1” is not a Korvane project: %2.").arg(package.fileName(), why));
    }
    if (const KRResult<void> web = KRWebFolder::checkPackageWebFolder(packagePath); !web)
        return web.error();
    // A project the application saved holds an empty attribute for every property an object
    // lacks, which its adapter would add on opening anyway: read, they take a name's room.
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(path, adaptersAdditions());
    if (!xml) {
        // A project refused for what saving it would add says which object, and what to do.
        const KRError &error = xml.error();
        const QVariantMap info = error.userInfo();
        const QString place = krObjectPlace(error, {});
        QString advice;
        if (info.contains(QStringLiteral("attributes")))
            advice = QStringLiteral("remove attributes that Korvane does not use from it in a text editor, then open the project again.");
        else if (info.contains(QStringLiteral("names")))
            advice = QStringLiteral("remove names that Korvane does not use from the project in a text editor, then open it again.");
        else if (info.contains(QStringLiteral("size")) && info.value(QStringLiteral("refused")).toBool())
            advice = QStringLiteral("move some of its pages into another project in a text editor, then open it again.");
        if (advice.isEmpty())
            return error;
        QString message = error.message();
        if (!place.isEmpty() && info.contains(QStringLiteral("attributes")))
            message += QStringLiteral(" That is %1: ").arg(place) + advice;
        else
            message += QLatin1Char(' ') + advice.at(0).toUpper() + advice.mid(1);
        return KRError(error.domain(), error.code(), message, info);
    }
    const KRXMLNode root = xml.value().rootElement();
    // Refused here, before anything (a window, the recent list) takes the package for a project.
    if (root.isNull() || root.name() != kProjectRoot) {
        const QString found = root.isNull() ? QStringLiteral("none") : QStringLiteral("“%1”").arg(root.name());
        KR_LOG(QStringLiteral("%1 is no project file: its root element is %2").arg(path, found));
        return KRError(ProjectErrorDomain, NotAProjectCode,
                       QStringLiteral("The file project.xml holds no Korvane project: its root element is %1, not “%2”.")
                           .arg(found, kProjectRoot));
    }
    if (root.firstElementForXPath(QStringLiteral("//KRProject")).isNull()
        || root.firstElementForXPath(QStringLiteral("//KRPages")).isNull())
        return KRError(ProjectErrorDomain, NotAProjectCode, QStringLiteral("The project file has no project settings or no pages."));
    // So is a value read as a JSON tree (list items) nested deeper than JSON may be, as elements are.
    if (KRResult<void> within = KRModelAdapter::checkJSONValueDepth(root); !within)
        return KRError(ProjectErrorDomain, 1, QStringLiteral("The file \"%1\" is refused: %2.").arg(path, within.error().message()),
                       within.error().userInfo());
    const QString version = root.attribute(QStringLiteral("appVersion"));
    if (!isSupportedVersion(version)) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Unsupported project version.");
        alert.informativeText = QStringLiteral("This document was created by a newer version of Korvane and cannot "
                                               "be opened.  Please update your version of Korvane.");
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
        return KRError(ProjectErrorDomain, NewerVersionCode, alert.messageText, {{QStringLiteral("alertShown"), true}});
    }
    m_xml = xml.value();
    m_packagePath = QFileInfo(packagePath).absoluteFilePath();
    // A save that was killed leaves its temporary file behind; nothing else ever removes it.
    KRFileManager::removeStaleTemporaryWrites(m_packagePath);
    noteProjectFileOnDisk();
    return {};
}

namespace {

struct KRDocumentFileStamp {
    qint64 size = -1;
    qint64 modified = -1;
};

KRDocumentFileStamp krDocumentStamp(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

QByteArray krDocumentHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result();
}

} // namespace

void KRDocument::noteProjectFileOnDisk()
{
    m_diskState = {};
    if (m_packagePath.isEmpty())
        return;
    const QString path = QDir(m_packagePath).filePath(kProjectFile);
    const KRDocumentFileStamp stamp = krDocumentStamp(path);
    m_diskState = {stamp.size, stamp.modified, stamp.size >= 0 ? krDocumentHash(path) : QByteArray()};
}

bool KRDocument::projectFileChangedOnDisk() const
{
    if (m_packagePath.isEmpty() || m_diskState.size < 0)
        return false;
    const QString path = QDir(m_packagePath).filePath(kProjectFile);
    const KRDocumentFileStamp stamp = krDocumentStamp(path);
    if (stamp.size < 0)
        return true; // removed, or something else in its place
    if (stamp.size == m_diskState.size && stamp.modified == m_diskState.modified)
        return false;
    // Touched only (a copy that kept the bytes, a checkout of the same content): no change.
    return stamp.size != m_diskState.size || krDocumentHash(path) != m_diskState.hash;
}

KRSpecialUndoManager &KRDocument::specialUndoManager()
{
    if (!m_specialUndoManager)
        m_specialUndoManager = std::make_unique<KRSpecialUndoManager>(*m_undoManager);
    return *m_specialUndoManager;
}

bool KRDocument::isDocumentEdited() const
{
    return m_undoManager->changeCount() != m_savedChangeCount;
}

namespace {

using KRFileManager::isSameItemOrInside;
using KRFileManager::isSameOrInside;

// A Save As builds the new package beside its place, as ".<name>.kr-save-<id>", and moves
// what was in that place aside, as ".<name>.kr-replaced-<id>", until the new package is in
// it (<name> shortened when the whole would be longer than a name may be). The new package
// holds the save's mark, the file ".kr-save-mark", from its making until the save is done: the
// save's id, the place's name and, before anything is moved aside, the name, device and inode
// it will have, and whether it is a link. Only what a mark names is ever removed or put back: an item that merely has
// such a name is the user's, and so the clean-up holds on any file system, attributes or not.
// The saving process holds a lock (flock) on the new package's folder from the moment it makes
// it until it is done, wherever it is renamed to meanwhile: a process killed midway lets go of
// it, and so what it left is told from a save still going on, in any process.
const QByteArray kSavingInfix = QByteArrayLiteral(".kr-save-");
const QByteArray kReplacedInfix = QByteArrayLiteral(".kr-replaced-");
const QByteArray kSaveMark = QByteArrayLiteral(".kr-save-mark");
const QByteArray kSaveMarkHeading = QByteArrayLiteral("Korvane Save As");
constexpr qsizetype kSaveIDLength = 36; // a UUID

struct SaveMark
{
    QByteArray id;
    QByteArray place;    // the name of the place saved to
    QByteArray replaced; // the name of what was moved aside; empty: nothing was
    dev_t device = 0;
    ino_t inode = 0;
    bool replacedLink = false; // what was moved aside is a link (marks of earlier versions never say so)
};

QByteArray saveMarkText(const SaveMark &mark)
{
    QByteArray text = kSaveMarkHeading + "\nid " + mark.id + "\nplace " + mark.place.toHex() + '\n';
    if (!mark.replaced.isEmpty())
        text += "replaced " + mark.replaced.toHex() + ' ' + QByteArray::number(quint64(mark.device)) + ' '
            + QByteArray::number(quint64(mark.inode)) + '\n';
    if (mark.replacedLink)
        text += "replacedLink yes\n";
    return text;
}

// The hidden name beside the place: "." + name + infix + id, the name shortened (at the start
// of a character) so that the whole fits the folder's limit on names.
QByteArray besideName(const QByteArray &parent, const QByteArray &name, const QByteArray &infix, const QByteArray &id)
{
    long limit = ::pathconf(parent.constData(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = NAME_MAX;
    QByteArray kept = name.left(std::max<qsizetype>(qsizetype(limit) - 1 - infix.size() - id.size(), 0));
    while (!kept.isEmpty() && kept.size() < name.size() && (uchar(name.at(kept.size())) & 0xC0) == 0x80)
        kept.chop(1);
    return '.' + kept + infix + id;
}

// Whether the id is one a save gives itself: a UUID as it writes one (lower case, no braces).
bool isSaveID(const QByteArray &id)
{
    return id.size() == kSaveIDLength
        && QUuid::fromString(QLatin1StringView(id)).toString(QUuid::WithoutBraces).toLatin1() == id;
}

// Whether the name is one a save of the place gives an item it makes beside it, the new
// package (with the saving infix) or what it moved aside (the replaced one): exactly the
// hidden name for the place and the id the name ends with. Never ".", "..", the place or a
// name of the user's.
bool isSaveItemName(const QByteArray &parent, const QByteArray &place, const QByteArray &infix, const QByteArray &name)
{
    const QByteArray id = name.right(kSaveIDLength);
    return isSaveID(id) && name == besideName(parent, place, infix, id);
}

// The mark in the open folder (a regular file, never read through a link), when a save of the
// place could have written it there: the folder is the place itself (folderName) or the new
// package beside it, by the hidden name the mark's id gives it, and what the mark says was
// moved aside has the hidden name a save of the place with that id gives it. A mark is a
// plain file that travels with a package, so nothing else in one is believed: the mark of
// another place, one naming ".", "..", a folder of the user's or a path, or one of an id no
// save makes, is no mark (no id).
SaveMark readSaveMark(int folder, const QByteArray &parent, const QByteArray &place, const QByteArray &folderName)
{
    SaveMark mark;
    const int fd = ::openat(folder, kSaveMark.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return mark;
    char buffer[2048];
    struct stat status{};
    ssize_t size = -1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size < off_t(sizeof buffer))
        size = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (size <= 0)
        return mark;
    const QList<QByteArray> lines = QByteArray(buffer, size).split('\n');
    if (lines.first() != kSaveMarkHeading)
        return mark;
    SaveMark read;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2 && fields.at(0) == "id")
            read.id = fields.at(1);
        else if (fields.size() == 2 && fields.at(0) == "place")
            read.place = QByteArray::fromHex(fields.at(1));
        else if (fields.size() == 4 && fields.at(0) == "replaced") {
            read.replaced = QByteArray::fromHex(fields.at(1));
            read.device = dev_t(fields.at(2).toULongLong());
            read.inode = ino_t(fields.at(3).toULongLong());
        } else if (fields.size() == 2 && fields.at(0) == "replacedLink") {
            read.replacedLink = fields.at(1) == "yes";
        }
    }
    const bool made = isSaveID(read.id) && read.place == place
        && (folderName == place || folderName == besideName(parent, place, kSavingInfix, read.id))
        && (read.replaced.isEmpty() || read.replaced == besideName(parent, place, kReplacedInfix, read.id));
    if (!made) {
        KR_LOG(QStringLiteral("The save mark in %1 is not one a save of %2 made there; it is not followed")
                   .arg(KRFileManager::displayPath(parent + '/' + folderName), KRFileManager::displayPath(place)));
        return mark;
    }
    return read;
}

// The folder opened (never through a link) and locked, or -1 when it is locked already (or
// cannot be opened). With wait, waits for the lock.
int lockFolder(const QByteArray &path, bool wait)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool itemExists(const QByteArray &path)
{
    struct stat status{};
    return ::lstat(path.constData(), &status) == 0;
}

// Whether the item at the path is the one the mark names as moved aside.
bool isMovedAside(const QByteArray &path, const SaveMark &mark)
{
    struct stat status{};
    return !mark.replaced.isEmpty() && ::lstat(path.constData(), &status) == 0 && status.st_dev == mark.device
        && status.st_ino == mark.inode;
}

// Whether what was moved aside may go back into the place: a link only where the mark says the
// place was one (a link put back would stand for the project wherever it leads).
bool mayPutBack(const QByteArray &path, const SaveMark &mark)
{
    struct stat status{};
    return ::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode) == mark.replacedLink;
}

// Whether the item of that name in the parent has something mounted on it (another file system,
// or a bind mount of the same one); true when the parent cannot be opened to tell.
bool isMountedOn(const QByteArray &parent, const QByteArray &name)
{
    const int fd = ::open(parent.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool mounted = KRFileManager::isMountedOn(fd, name);
    ::close(fd);
    return mounted;
}

// Removes an item a save of the place left beside it (its new package, or what it moved
// aside), named as the save named it. Only such a hidden name directly in the parent is ever
// removed: never ".", "..", the parent, the place, nor anything mounted there, another file
// system or a bind mount of the same one (a save's items are renamed, so they never leave the
// parent's mount); anything else is refused and logged. Nothing mounted below it is entered.
void removeLeftover(const QByteArray &parent, const QByteArray &place, const QByteArray &name)
{
    const QByteArray path = parent + '/' + name;
    struct stat item{}, folder{}, placed{};
    const bool placeExists = ::lstat((parent + '/' + place).constData(), &placed) == 0;
    const bool saveItem = isSaveItemName(parent, place, kSavingInfix, name)
        || isSaveItemName(parent, place, kReplacedInfix, name);
    const auto same = [](const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; };
    if (!saveItem || ::lstat(path.constData(), &item) != 0 || ::stat(parent.constData(), &folder) != 0
        || isMountedOn(parent, name) || same(item, folder) || (placeExists && same(item, placed))) {
        KR_LOG(QStringLiteral("%1 is not removed: it is no item a save of %2 left beside it")
                   .arg(KRFileManager::displayPath(path), KRFileManager::displayPath(place)));
        return;
    }
    const KRResult<void> removed = KRFileManager::removeItemRecursively(QFile::decodeName(path));
    KR_LOG(removed ? QStringLiteral("Removed %1, left by a save that did not finish").arg(KRFileManager::displayPath(path))
                   : QStringLiteral("%1, left by a save that did not finish, stays: %2")
                         .arg(KRFileManager::displayPath(path), removed.error().message()));
}

// Clears what Save As runs killed midway left for the place, as their marks name it: a
// half-made new package is removed, and what it moved aside goes back into the place when that
// is empty (and is removed when the place was saved to since); a new package that took the place loses its mark, and what it replaced is removed.
// What a save still going on (in any process) has there is left alone, and so is anything
// without a mark. Returns, when the place is empty and what was moved aside from it could not
// go back, a sentence that says where it is.
QString removeAbandonedSaves(const QString &place)
{
    const QFileInfo info(QDir::cleanPath(QFileInfo(place).absoluteFilePath()));
    const QByteArray parent = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty())
        return {};
    const QByteArray target = parent + '/' + name;
    QList<QByteArray> savings;
    if (DIR *dir = ::opendir(parent.constData())) {
        while (const struct dirent *entry = ::readdir(dir)) {
            // Exactly the new package's name a save of the place gives it (hidden names with the
            // infix only are looked at closely: a folder may hold many items).
            const QByteArray entryName(entry->d_name);
            if (entryName.startsWith('.') && entryName.contains(kSavingInfix)
                && isSaveItemName(parent, name, kSavingInfix, entryName))
                savings.append(entryName);
        }
        ::closedir(dir);
    }
    QString stays;
    for (const QByteArray &saving : std::as_const(savings)) {
        const int fd = lockFolder(parent + '/' + saving, false);
        if (fd < 0)
            continue; // being saved, or no folder
        const SaveMark mark = readSaveMark(fd, parent, name, saving);
        if (!mark.id.isEmpty()) {
            // The old package first: it goes back only while the half-made one still holds the lock.
            const QByteArray aside = parent + '/' + mark.replaced;
            if (isMovedAside(aside, mark)) {
                if (itemExists(target)) {
                    removeLeftover(parent, name, mark.replaced); // the place was saved to since: what it held was to be replaced
                } else if (!mayPutBack(aside, mark)) {
                    KR_LOG(QStringLiteral("%1 is not put back in its place: it is a link, and the mark of the save that "
                                          "moved it aside does not say the place was one")
                               .arg(KRFileManager::displayPath(aside)));
                } else if (::rename(aside.constData(), target.constData()) == 0) {
                    KR_LOG(QStringLiteral("Put %1 back in its place, moved aside by a save that did not finish")
                               .arg(KRFileManager::displayPath(target)));
                } else {
                    const int error = errno;
                    const QString where = KRFileManager::displayPath(aside);
                    KR_LOG(QStringLiteral("%1, moved aside by a save that did not finish, stays there").arg(where));
                    stays = QStringLiteral("The project was moved aside to \u201C%1\u201D by a save that did not finish, "
                                           "and could not be put back: %2.")
                                .arg(where, QString::fromLocal8Bit(std::strerror(error)));
                }
            }
            removeLeftover(parent, name, saving);
        }
        ::close(fd);
    }
    // The new package in the place, still marked: its save was killed before it was done.
    if (const int fd = lockFolder(target, false); fd >= 0) {
        const SaveMark mark = readSaveMark(fd, parent, name, name);
        if (!mark.id.isEmpty()) {
            if (isMovedAside(parent + '/' + mark.replaced, mark))
                removeLeftover(parent, name, mark.replaced);
            ::unlinkat(fd, kSaveMark.constData(), 0);
        }
        ::close(fd);
    }
    return stays;
}

// Whether a Save-As may put a package in place of what is at the path: nothing, a file, an
// empty folder or another package. Any other folder belongs to the user and stays.
bool mayReplace(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isDir() || info.isSymLink())
        return !info.isDir();
    const QDir folder(path);
    return folder.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        || QFileInfo(folder.filePath(kProjectFile)).isFile();
}

} // namespace

KRResult<void> KRDocument::saveToPackage(const QString &packagePath)
{
    const QString target = QDir::cleanPath(QFileInfo(packagePath).absoluteFilePath());
    if (!m_packagePath.isEmpty() && target == QDir::cleanPath(m_packagePath)) {
        if (!QDir().mkpath(QDir(target).filePath(kWebFolder)))
            return KRError(ProjectErrorDomain, 3, QStringLiteral("Could not create the project folder %1.").arg(packagePath));
        return save();
    }
    return saveAs(target);
}

QString KRDocument::currentWebFolderPath() const
{
    if (!m_packagePath.isEmpty())
        return QDir(m_packagePath).filePath(kWebFolder);
    // An untitled project keeps its resources in a temporary folder of its own.
    if (const auto krProject = std::dynamic_pointer_cast<KRProject>(project()))
        if (const auto folder = krProject->webFolder())
            return folder->temporaryWebFolderPath();
    return QString();
}

KRResult<QStringList> KRDocument::writePackageContents(const QString &packagePath)
{
    KRXMLNode root = m_xml.rootElement();
    if (!root.isNull())
        root.setAttribute(QStringLiteral("appVersion"), applicationShortVersion());
    // Nothing is written that would not open again: the text is read as Open reads it, and
    // the last file saved stays as it was otherwise.
    const QByteArray text = m_xml.xmlData();
    if (const KRResult<KRXMLDocument> readable = KRXMLDocument::fromData(text, adaptersAdditions()); !readable) {
        const QString reason = readable.error().userInfo().value(QStringLiteral("reason")).toString();
        const QString name = QFileInfo(m_packagePath.isEmpty() ? packagePath : m_packagePath).completeBaseName();
        const QString place = krObjectPlace(readable.error(), text);
        const QString message = QStringLiteral("The project \u201C%1\u201D was not saved: it could not be opened again, "
                                               "because %2%3. The last saved version is kept.")
                                    .arg(name, place.isEmpty() ? QString() : place + QStringLiteral(": "), reason);
        KR_LOG(message);
        return KRError(ProjectErrorDomain, 10, message, {{QStringLiteral("reason"), reason}, {QStringLiteral("place"), place}});
    }
    // Written relative to the package folder opened once, whatever its path leads to later.
    const KRResult<void> written = KRFileManager::writeFileAtomicallyBelow(packagePath, kProjectFile, text);
    if (!written) {
        const QString path = QDir(packagePath).filePath(kProjectFile);
        return KRError(ProjectErrorDomain, 5,
                       QStringLiteral("The file \u201C%1\u201D could not be written: %2.").arg(path, written.error().message()),
                       {{QStringLiteral("path"), path}});
    }

    const QString web = QDir(packagePath).filePath(kWebFolder);
    const std::shared_ptr<KRProjectBase> proj = project();
    if (proj && proj->hasWebFolder())
        return proj->writeModifiedResources(web);
    if (proj && m_resourceList)
        return writeModifiedResources(m_resourceList(), web, proj->modifiedResourceCache());
    return QStringList();
}

void KRDocument::didSave(const QStringList &writtenResources)
{
    noteProjectFileOnDisk();
    m_savedChangeCount = m_undoManager->changeCount();
    // A change still to come in a group that is open now must make the document dirty again.
    m_undoManager->markSavePoint();
    const std::shared_ptr<KRProjectBase> proj = project();
    if (proj && proj->hasWebFolder()) {
        proj->didSaveModifiedResources(writtenResources);
    } else if (proj) {
        // Written bytes are on disk now; stale entries would overwrite a later file of the
        // same path.
        QVariantMap &cache = proj->modifiedResourceCache();
        for (const QString &relativePath : writtenResources) {
            cache.remove(relativePath);
            cache.remove(relativePath + QStringLiteral("//enc"));
        }
    }
    KRNotificationCenter::defaultCenter().post(KRDidSaveDocumentNotification, identity());
}

KRResult<void> KRDocument::save()
{
    if (m_packagePath.isEmpty())
        return KRError(ProjectErrorDomain, 4, QStringLiteral("The project has not been saved to a package yet."));
    // Whoever changed project.xml since it was read or written (another program, another
    // instance, a version-control update) would lose that change: asked first.
    if (projectFileChangedOnDisk()) {
        KRAlert alert;
        alert.messageText = QStringLiteral("The project “%1” changed on disk since it was opened or last saved.")
                                .arg(QFileInfo(m_packagePath).completeBaseName());
        alert.informativeText = QStringLiteral("Another program has changed its project.xml. Saving replaces those "
                                               "changes with the project as this window shows it.");
        alert.buttonTitles = {QStringLiteral("Save Anyway"), QStringLiteral("Cancel")};
        alert.destructive = true; // Return cancels
        if (KRAlertService::current().runModal(alert) != KRAlertService::FirstButtonReturn)
            return KRError(ProjectErrorDomain, SaveCancelledCode,
                           QStringLiteral("The project was not saved: its project.xml changed on disk."));
    }
    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, identity());
    const KRResult<QStringList> written = writePackageContents(m_packagePath);
    if (!written)
        return written.error();
    didSave(written.value());
    return {};
}

KRResult<void> KRDocument::saveAs(const QString &target)
{
    KR_LOG(target);
    const QString source = m_packagePath.isEmpty() ? QString() : QDir::cleanPath(m_packagePath);
    const QString sourceWeb = currentWebFolderPath();
    const auto refuse = [&](const QString &message) {
        return KRError(ProjectErrorDomain, 6, message.arg(target), {{QStringLiteral("path"), target}});
    };
    if (!source.isEmpty() && isSameItemOrInside(target, source) && !isSameOrInside(target, source)) {
        // Another path to the package itself: replacing it would remove what it holds.
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is the project itself or inside it, "
                                     "reached through another path."));
    }
    if (!source.isEmpty()
        && (isSameOrInside(target, source) || isSameOrInside(source, target) || isSameItemOrInside(source, target)))
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is inside the project or holds it."));
    if (!sourceWeb.isEmpty() && isSameOrInside(target, QDir::cleanPath(sourceWeb)))
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is inside its web folder."));
    // What earlier saves to this place left when they were killed midway, before the place is
    // judged: a package put back into it is replaced as any other.
    removeAbandonedSaves(target);
    if (!mayReplace(target))
        return refuse(QStringLiteral("The project cannot be saved as %1: a folder that is not a project is there."));

    const QFileInfo targetInfo(target);
    const QString parent = targetInfo.absolutePath();
    const QByteArray parentBytes = QFile::encodeName(parent);
    const QByteArray targetName = QFile::encodeName(targetInfo.fileName());
    // The new package is built beside its place and renamed into it when complete, so a
    // failure leaves neither a half-written package nor a changed document behind.
    QString staging;
    int stagingLock = -1;
    const auto failed = [&](const QString &message) {
        if (!staging.isEmpty())
            KRFileManager::removeItemRecursively(staging);
        if (stagingLock >= 0)
            ::close(stagingLock);
        KR_LOG(message);
        return KRError(ProjectErrorDomain, 3, message, {{QStringLiteral("path"), target}});
    };
    const auto because = [](const QString &what, int error) {
        return QStringLiteral("%1: %2.").arg(what, QString::fromLocal8Bit(std::strerror(error)));
    };
    if (!QFileInfo(parent).isDir()) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(parent).toStdString()), error);
        if (error)
            return failed(because(QStringLiteral("Could not create the folder %1").arg(parent), error.value()));
    }
    SaveMark mark;
    mark.place = targetName;
    for (int attempt = 0; attempt < 8 && stagingLock < 0; ++attempt) {
        mark.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toLatin1();
        const QString candidate = QFile::decodeName(parentBytes + '/' + besideName(parentBytes, targetName, kSavingInfix, mark.id));
        if (::mkdir(QFile::encodeName(candidate).constData(), 0777) != 0)
            return failed(because(QStringLiteral("Could not create the project folder %1 in %2").arg(targetInfo.fileName(), parent),
                                  errno));
        staging = candidate;
        stagingLock = lockFolder(QFile::encodeName(staging), true);
        struct stat status{};
        // Taken for abandoned and removed by another process before it was locked: anew.
        if (stagingLock >= 0 && (::fstat(stagingLock, &status) != 0 || status.st_nlink == 0)) {
            ::close(stagingLock);
            stagingLock = -1;
            staging.clear();
        } else if (stagingLock < 0) {
            return failed(QStringLiteral("Could not create the project folder %1.").arg(target));
        }
    }
    if (stagingLock < 0)
        return failed(QStringLiteral("Could not create the project folder %1.").arg(target));
    const auto writeMark = [&] {
        return KRFileManager::writeFileAtomicallyIn(stagingLock, kSaveMark, QDir(staging).filePath(QFile::decodeName(kSaveMark)),
                                                    {saveMarkText(mark)}, false, {});
    };
    if (const KRResult<void> marked = writeMark(); !marked)
        return failed(QStringLiteral("Could not create the project folder %1: %2").arg(target, marked.error().message()));

    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, identity());
    // Everything of the package travels: the web folder with its resources and any other
    // file; project.xml is written afresh.
    KRResult<void> copied;
    if (!source.isEmpty() && QFileInfo(source).isDir()) {
        copied = KRFileManager::copyFolderContents(source, staging, {QFileInfo(source).canonicalFilePath(),
                                                                     {kProjectFile, QFile::decodeName(kSaveMark)}});
    } else if (!sourceWeb.isEmpty() && QFileInfo(sourceWeb).isDir()) {
        const QString stagingWeb = QDir(staging).filePath(kWebFolder);
        if (::mkdir(QFile::encodeName(stagingWeb).constData(), 0777) != 0)
            return failed(because(QStringLiteral("Could not create the folder %1").arg(stagingWeb), errno));
        copied = KRFileManager::copyFolderContents(sourceWeb, stagingWeb, {QFileInfo(sourceWeb).canonicalFilePath(), {}});
    }
    if (!copied)
        return failed(QStringLiteral("Could not copy the project\u2019s files to %1: %2").arg(target, copied.error().message()));
    if (const QString web = QDir(staging).filePath(kWebFolder);
        !QFileInfo(web).isDir() && ::mkdir(QFile::encodeName(web).constData(), 0777) != 0)
        return failed(because(QStringLiteral("Could not create the folder %1").arg(web), errno));

    const KRResult<QStringList> written = writePackageContents(staging);
    if (!written)
        return failed(written.error().message());

    QString replaced;
    if (struct stat status{}; ::lstat(QFile::encodeName(target).constData(), &status) == 0) {
        // Named in the mark before it moves, so that a save killed after the move puts it back.
        mark.replaced = besideName(parentBytes, targetName, kReplacedInfix, mark.id);
        mark.device = status.st_dev;
        mark.inode = status.st_ino;
        mark.replacedLink = S_ISLNK(status.st_mode);
        if (const KRResult<void> marked = writeMark(); !marked)
            return failed(QStringLiteral("Could not replace %1: %2").arg(target, marked.error().message()));
        replaced = QFile::decodeName(parentBytes + '/' + mark.replaced);
        if (::rename(QFile::encodeName(target).constData(), QFile::encodeName(replaced).constData()) != 0)
            return failed(because(QStringLiteral("Could not replace %1").arg(target), errno));
    }
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(target).constData()) != 0) {
        const int error = errno;
        if (!replaced.isEmpty())
            ::rename(QFile::encodeName(replaced).constData(), QFile::encodeName(target).constData());
        return failed(because(QStringLiteral("Could not move the saved project to %1").arg(target), error));
    }
    staging.clear(); // in its place now
    if (!replaced.isEmpty()) {
        if (const KRResult<void> removed = KRFileManager::removeItemRecursively(replaced); !removed)
            KR_LOG(QStringLiteral("The replaced package is left at %1: %2").arg(replaced, removed.error().message()));
    }
    ::unlinkat(stagingLock, kSaveMark.constData(), 0); // done: the package is the user's now
    ::close(stagingLock);

    const QString old = m_packagePath;
    m_packagePath = target;
    m_observable.notifyChange(QStringLiteral("fileURL"), old, m_packagePath);
    didSave(written.value());
    return {};
}

KRResult<QStringList> KRDocument::writeModifiedResources(const QList<KRResourceEntry> &resources,
                                                         const QString &folderPath, const QVariantMap &cache)
{
    KR_LOG(QString());
    QStringList written;
    const QDir folder(folderPath);
    for (const KRResourceEntry &resource : resources) {
        const QString path = folder.filePath(resource.name);
        const QFileInfo info(path);
        const auto edited = cache.constFind(resource.relativePath);
        if (edited != cache.constEnd() && info.exists() && !info.isDir()) {
            // A link in the file's place is replaced by the edited file, never written through;
            // the folder is opened from its parent without following a link.
            const QFileInfo parent(folderPath);
            const KRResult<void> saved = KRFileManager::writeFileAtomicallyBelow(
                parent.absolutePath(), parent.fileName() + QLatin1Char('/') + resource.name, edited->toByteArray());
            if (!saved)
                return KRError(ProjectErrorDomain, 5,
                               QStringLiteral("Could not write %1: %2")
                                   .arg(resource.relativePath, saved.error().message()));
            if (resource.name.endsWith(QLatin1String(".css")))
                KRFileManager::setExtendedAttributeOfItemAtPath(path, QStringLiteral("com.korvane.isTheme"), QString());
            written.append(resource.relativePath);
        }
        if (resource.isDirectory && info.isDir() && !info.isSymLink()) {
            const KRResult<QStringList> inner = writeModifiedResources(resource.children, path, cache);
            if (!inner)
                return inner;
            written += inner.value();
        }
    }
    return written;
}

void KRDocument::close()
{
    KRNotificationCenter::defaultCenter().post(KRWillCloseDocumentNotification, identity());
}

void KRDocument::setWindowControllerFactory(WindowControllerFactory factory)
{
    factoryStorage() = std::move(factory);
}

void KRDocument::makeWindowControllers()
{
    if (!m_windowController && factoryStorage())
        m_windowController = factoryStorage()(*this);
}

std::shared_ptr<KRProjectBase> KRDocument::project() const
{
    if (m_windowController)
        if (auto project = m_windowController->project())
            return project;
    return m_project.lock();
}

void KRDocument::projectRunAction()
{
    if (m_windowController)
        m_windowController->projectRunAction();
}

void KRDocument::createPageAction()
{
    if (m_windowController)
        m_windowController->createPageAction();
}

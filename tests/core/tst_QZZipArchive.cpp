#include <core/QZZipArchive.h>
#include <platform/foundation/KRException.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <minizip/zip.h>
#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

struct RawEntry
{
    QByteArray name; // raw bytes, as stored
    QByteArray data;
    QByteArray password; // empty: not encrypted
    QDateTime date; // invalid: zero date
    bool stored = false; // no compression
};

// Traditional PKWARE encryption, written here because the system's minizip has none that
// other tools can read: the data is deflated and encrypted by the test, stored raw, and the
// entry's encryption flag set afterwards (setEncryptedFlags).
class ZipCrypto
{
public:
    explicit ZipCrypto(const QByteArray &password)
    {
        for (char c : password)
            update(static_cast<unsigned char>(c));
    }
    QByteArray encrypt(const QByteArray &plain)
    {
        QByteArray out = plain;
        for (char &c : out) {
            const unsigned temp = (m_keys[2] & 0xFFFF) | 2;
            const auto p = static_cast<unsigned char>(c);
            c = char(p ^ (((temp * (temp ^ 1)) >> 8) & 0xFF));
            update(p);
        }
        return out;
    }

private:
    void update(unsigned char c)
    {
        const z_crc_t *table = get_crc_table();
        m_keys[0] = table[(m_keys[0] ^ c) & 0xFF] ^ (m_keys[0] >> 8);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
        m_keys[2] = table[(m_keys[2] ^ (m_keys[1] >> 24)) & 0xFF] ^ (m_keys[2] >> 8);
    }
    quint32 m_keys[3] = {305419896u, 591751049u, 878082192u};
};

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// Writes an archive with minizip directly, for names and options the writer never makes.
void writeRawZip(const QString &path, const std::vector<RawEntry> &entries)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const RawEntry &entry : entries) {
        zip_fileinfo info;
        std::memset(&info, 0, sizeof info);
        if (entry.date.isValid()) {
            const QDate d = entry.date.date();
            const QTime t = entry.date.time();
            info.tmz_date = {uInt(t.second()), uInt(t.minute()), uInt(t.hour()),
                             uInt(d.day()), uInt(d.month() - 1), uInt(d.year())};
        }
        const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(entry.data.constData()),
                                uInt(entry.data.size()));
        const bool encrypted = !entry.password.isEmpty();
        ASSERT_EQ(zipOpenNewFileInZip3_64(zip, entry.name.constData(), &info, nullptr, 0, nullptr, 0,
                                          nullptr, entry.stored ? 0 : Z_DEFLATED,
                                          entry.stored ? 0 : Z_DEFAULT_COMPRESSION, encrypted ? 1 : 0,
                                          -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0),
                  ZIP_OK);
        if (encrypted) {
            // Header: ten filler bytes and the CRC's two high bytes, then the data.
            QByteArray plain("0123456789");
            plain.append(char((crc >> 16) & 0xFF)).append(char((crc >> 24) & 0xFF));
            plain += entry.stored ? entry.data : rawDeflate(entry.data);
            const QByteArray sealed = ZipCrypto(entry.password).encrypt(plain);
            ASSERT_EQ(zipWriteInFileInZip(zip, sealed.constData(), unsigned(sealed.size())), ZIP_OK);
            ASSERT_EQ(zipCloseFileInZipRaw64(zip, ZPOS64_T(entry.data.size()), crc), ZIP_OK);
        } else {
            ASSERT_EQ(zipWriteInFileInZip(zip, entry.data.constData(), unsigned(entry.data.size())), ZIP_OK);
            ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
        }
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);

    // Set bit 0 of the general-purpose flags of encrypted entries, in the local header and in
    // the central directory.
    QByteArray bytes = KRTest::readFile(path);
    const auto u16 = [&](qsizetype at) { return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8; };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    const qsizetype end = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
    ASSERT_GE(end, 0);
    qsizetype record = qsizetype(u32(end + 16));
    for (quint32 i = 0; i < u16(end + 10); ++i) {
        const QByteArray name = bytes.mid(record + 46, u16(record + 28));
        for (const RawEntry &entry : entries) {
            if (entry.name == name && !entry.password.isEmpty()) {
                bytes[record + 8] = char(bytes[record + 8] | 1);
                const qsizetype local = qsizetype(u32(record + 42));
                bytes[local + 6] = char(bytes[local + 6] | 1);
            }
        }
        record += 46 + u16(record + 28) + u16(record + 30) + u16(record + 32);
    }
    KRTest::writeFile(path, bytes);
}

QStringList filesBelow(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(folder).relativeFilePath(it.next()));
    found.sort();
    return found;
}

QByteArray lines(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "entry line " + QByteArray::number(i * 7919 % 1000) + "\n";
    return text;
}

// An archive of `count` stored entries of ten bytes each that claim `declared` bytes apiece.
void writeOverstatedZip(const QString &path, int count, qint64 declared)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (int i = 0; i < count; ++i) {
        zip_fileinfo info;
        std::memset(&info, 0, sizeof info);
        const QByteArray name = "part" + QByteArray::number(i);
        ASSERT_EQ(zipOpenNewFileInZip3_64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 1,
                                          -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, "0123456789", 10), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZipRaw64(zip, ZPOS64_T(declared), 0), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

// Makes the entry claim `size` unpacked bytes, in its local header and in the directory.
void understateSize(const QString &path, const QByteArray &entryName, quint32 size)
{
    QByteArray bytes = KRTest::readFile(path);
    const auto u16 = [&](qsizetype at) { return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8; };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    const auto put32 = [&](qsizetype at) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((size >> (8 * i)) & 0xFF);
    };
    const qsizetype end = bytes.lastIndexOf(QByteArray("PK\x05\x06", 4));
    ASSERT_GE(end, 0);
    qsizetype record = qsizetype(u32(end + 16));
    for (quint32 i = 0; i < u16(end + 10); ++i) {
        if (bytes.mid(record + 46, u16(record + 28)) == entryName) {
            put32(record + 24);
            put32(qsizetype(u32(record + 42)) + 22);
        }
        record += 46 + u16(record + 28) + u16(record + 30) + u16(record + 32);
    }
    KRTest::writeFile(path, bytes);
}

} // namespace

TEST(QZZipArchive, WriterRoundTripWithSubFolders)
{
    const QString dir = KRTest::makeTempDir("zip");
    KRTest::writeFile(dir + "/source/report.log", lines(3000));
    const QString archive = dir + "/out.zip";
    {
        QZZipArchive zip(archive);
        ASSERT_TRUE(zip.open());
        EXPECT_TRUE(zip.writeData("top", "a.txt"));
        EXPECT_TRUE(zip.writeData(lines(10), "sub/b.txt"));
        EXPECT_TRUE(zip.writeData(QByteArray(""), "sub/deeper/empty.bin"));
        EXPECT_TRUE(zip.writeData("Grüße", QStringLiteral("sub/naïve.txt")));
        EXPECT_TRUE(zip.writeFile(dir + "/source/report.log"));
        EXPECT_FALSE(zip.writeFile(dir + "/source/missing.log"));
        EXPECT_TRUE(zip.close());
    }
    const KRResult<QStringList> names = QZZipArchive::contentsOfZipFileAtPath(archive, QString());
    ASSERT_TRUE(names.ok()) << names.error().toString().toStdString();
    EXPECT_EQ(*names, QStringList({"a.txt", "sub/b.txt", "sub/deeper/empty.bin",
                                   QStringLiteral("sub/naïve.txt"), "report.log"}));

    KRError error;
    const QString dest = dir + "/dest";
    ASSERT_TRUE(QZZipArchive::unzipFileAtPath(archive, dest, true, QString(), &error))
        << error.toString().toStdString();
    EXPECT_EQ(KRTest::readFile(dest + "/a.txt"), "top");
    EXPECT_EQ(KRTest::readFile(dest + "/sub/b.txt"), lines(10));
    EXPECT_EQ(KRTest::readFile(dest + "/sub/deeper/empty.bin"), "");
    EXPECT_EQ(KRTest::readFile(dest + QStringLiteral("/sub/naïve.txt")), "Grüße");
    EXPECT_EQ(KRTest::readFile(dest + "/report.log"), lines(3000));
    EXPECT_EQ(filesBelow(dest).size(), 7); // five files, two folders: no temporaries left
}

TEST(QZZipArchive, CreateZipFileLeavesOutUnreadableFiles)
{
    const QString dir = KRTest::makeTempDir("zip");
    KRTest::writeFile(dir + "/one.txt", "1");
    KRTest::writeFile(dir + "/two/two.txt", "2");
    ASSERT_TRUE(QZZipArchive::createZipFileAtPath(dir + "/made.zip",
                                                  {dir + "/one.txt", dir + "/nope.txt", dir + "/two/two.txt"}));
    EXPECT_EQ(QZZipArchive::contentsOfZipFileAtPath(dir + "/made.zip", QString()).value(),
              QStringList({"one.txt", "two.txt"}));
    EXPECT_FALSE(QZZipArchive::createZipFileAtPath(dir + "/no/such/folder/x.zip", {dir + "/one.txt"}));
}

TEST(QZZipArchive, WriterStateErrorsRaise)
{
    const QString dir = KRTest::makeTempDir("zip");
    const auto reasonOf = [](const std::function<void()> &call) -> QString {
        try {
            call();
        } catch (const KRException &e) {
            EXPECT_EQ(e.name(), KRExceptionName::InternalInconsistency);
            return e.reason();
        }
        return QStringLiteral("(nothing raised)");
    };
    QZZipArchive zip(dir + "/w.zip");
    EXPECT_EQ(reasonOf([&] { zip.writeData("x", "x"); }),
              "Attempting to write to an archive which was never opened");
    EXPECT_EQ(reasonOf([&] { zip.writeFile(dir + "/x"); }),
              "Attempting to write to an archive which was never opened");
    EXPECT_EQ(reasonOf([&] { zip.close(); }), "Attempting to close an archive which was never opened");
    ASSERT_TRUE(zip.open());
    EXPECT_EQ(reasonOf([&] { zip.open(); }), "Attempting open an archive which is already open");
    EXPECT_EQ(reasonOf([&] { zip.writeData(QByteArray(), "x"); }), "Nil data");
    EXPECT_TRUE(zip.close());
    EXPECT_EQ(reasonOf([&] { zip.close(); }), "Attempting to close an archive which was never opened");
}

TEST(QZZipArchive, BackslashNamesFolderEntriesAndDates)
{
    const QString dir = KRTest::makeTempDir("zip");
    const QDateTime stamp(QDate(2013, 11, 5), QTime(14, 30, 12), Qt::LocalTime);
    writeRawZip(dir + "/raw.zip", {{"folder\\file.txt", "in folder", {}, stamp},
                                   {"made\\", {}, {}, {}},
                                   {"also/", {}, {}, {}},
                                   {"plain.txt", "plain", {}, {}}});
    ASSERT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/raw.zip", dir + "/out"));
    EXPECT_EQ(KRTest::readFile(dir + "/out/folder/file.txt"), "in folder");
    EXPECT_TRUE(QFileInfo(dir + "/out/made").isDir());
    EXPECT_TRUE(QFileInfo(dir + "/out/also").isDir());
    EXPECT_EQ(QFileInfo(dir + "/out/folder/file.txt").lastModified(), stamp);
    EXPECT_EQ(filesBelow(dir + "/out"),
              QStringList({"also", "folder", "folder/file.txt", "made", "plain.txt"}));

    EXPECT_EQ(QZZipArchive::dateFor1980(), QDateTime(QDate(1980, 1, 1), QTime(0, 0), Qt::LocalTime));
}

TEST(QZZipArchive, OverwriteOffKeepsExistingFiles)
{
    const QString dir = KRTest::makeTempDir("zip");
    writeRawZip(dir + "/a.zip", {{"keep.txt", "from archive", {}, {}}, {"new.txt", "new", {}, {}}});
    KRTest::writeFile(dir + "/out/keep.txt", "mine");
    KRError error;
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/a.zip", dir + "/out", false, QString(), &error));
    EXPECT_EQ(KRTest::readFile(dir + "/out/keep.txt"), "mine");
    EXPECT_EQ(KRTest::readFile(dir + "/out/new.txt"), "new");

    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/a.zip", dir + "/out", true, QString(), &error));
    EXPECT_EQ(KRTest::readFile(dir + "/out/keep.txt"), "from archive");
}

TEST(QZZipArchive, SingleEntryMatchesTheRawName)
{
    const QString dir = KRTest::makeTempDir("zip");
    writeRawZip(dir + "/a.zip", {{"one.txt", "1", {}, {}}, {"sub\\two.txt", "2", {}, {}},
                                 {"three.txt", "3", {}, {}}});
    KRError error;
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/a.zip", "sub\\two.txt", dir + "/one", true,
                                              QString(), &error));
    EXPECT_EQ(filesBelow(dir + "/one"), QStringList({"sub", "sub/two.txt"}));

    // The converted name is not the raw name: nothing matches, which is success.
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/a.zip", "sub/two.txt", dir + "/none", true,
                                              QString(), &error));
    EXPECT_EQ(filesBelow(dir + "/none"), QStringList());
}

TEST(QZZipArchive, NotAZipArchive)
{
    const QString dir = KRTest::makeTempDir("zip");
    KRTest::writeFile(dir + "/fake.zip", "this is plain text, not an archive");
    for (const QString &path : {dir + "/fake.zip", dir + "/missing.zip"}) {
        const KRResult<QStringList> names = QZZipArchive::contentsOfZipFileAtPath(path, QString());
        ASSERT_FALSE(names.ok());
        EXPECT_EQ(names.error(), KRError("QZZipArchiveErrorDomain", -1, "failed to open zip file"));
        KRError error;
        EXPECT_FALSE(QZZipArchive::unzipFileAtPath(path, dir + "/out", true, QString(), &error));
        EXPECT_EQ(error, KRError("QZZipArchiveErrorDomain", -1, "failed to open zip file"));
    }
}

TEST(QZZipArchive, PasswordProtectedEntries)
{
    const QString dir = KRTest::makeTempDir("zip");
    writeRawZip(dir + "/locked.zip", {{"secret.txt", lines(200), "open sesame", {}},
                                      {"notes/more.txt", "more", "open sesame", {}, true}});
    for (const QString &password : {QString(), QStringLiteral("open sesame")}) {
        EXPECT_EQ(QZZipArchive::contentsOfZipFileAtPath(dir + "/locked.zip", password).value(),
                  QStringList({"secret.txt", "notes/more.txt"}));
    }

    KRError error;
    ASSERT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/locked.zip", dir + "/right", true, "open sesame", &error))
        << error.toString().toStdString();
    EXPECT_EQ(KRTest::readFile(dir + "/right/secret.txt"), lines(200));
    EXPECT_EQ(KRTest::readFile(dir + "/right/notes/more.txt"), "more");

    // A wrong or missing password is a failure, never a file of garbage.
    for (const QString &password : {QStringLiteral("wrong"), QString()}) {
        const QString dest = dir + "/wrong" + QString::number(password.size());
        EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/locked.zip", dest, true, password, &error));
        EXPECT_EQ(error.domain(), "QZZipArchiveErrorDomain");
        EXPECT_EQ(error.code(), QZZipArchive::FailedToExtractEntry);
        EXPECT_TRUE(error.message().contains("secret.txt")) << error.message().toStdString();
        EXPECT_EQ(filesBelow(dest), QStringList({"notes"}));
    }

    // An empty password counts as none.
    writeRawZip(dir + "/open.zip", {{"free.txt", "free", {}, {}}});
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/open.zip", dir + "/free", true, "", &error));
    EXPECT_EQ(KRTest::readFile(dir + "/free/free.txt"), "free");
}

TEST(QZZipArchive, RefusesEntriesLeavingTheDestination)
{
    const QString dir = KRTest::makeTempDir("zip");
    const QString absoluteTarget = dir + "/absolute-evil.txt";
    writeRawZip(dir + "/slip.zip", {{"good.txt", "good", {}, {}},
                                    {"../evil.txt", "evil", {}, {}},
                                    {QFile::encodeName(absoluteTarget), "evil", {}, {}},
                                    {"sub/../../evil2.txt", "evil", {}, {}},
                                    {"win\\..\\..\\evil3.txt", "evil", {}, {}},
                                    {"sub/fine.txt", "fine", {}, {}}});
    QDir().mkpath(dir + "/dest");
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/slip.zip", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.domain(), "QZZipArchiveErrorDomain");
    EXPECT_EQ(error.code(), QZZipArchive::RefusedEntry);
    EXPECT_TRUE(error.message().contains("../evil.txt")) << error.message().toStdString();
    EXPECT_EQ(error.userInfo().value("failedEntries").toStringList().size(), 4);

    EXPECT_EQ(filesBelow(dir + "/dest"), QStringList({"good.txt", "sub", "sub/fine.txt"}));
    EXPECT_FALSE(QFileInfo::exists(dir + "/evil.txt"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/evil2.txt"));
    EXPECT_FALSE(QFileInfo::exists(dir + "/evil3.txt"));
    EXPECT_FALSE(QFileInfo::exists(absoluteTarget));
}

TEST(QZZipArchive, NeverWritesThroughSymbolicLinks)
{
    const QString dir = KRTest::makeTempDir("zip");
    const QString outside = KRTest::makeTempDir("outside");
    KRTest::writeFile(outside + "/precious.txt", "precious");
    QDir().mkpath(dir + "/dest");
    ASSERT_TRUE(QFile::link(outside, dir + "/dest/linkdir"));
    ASSERT_TRUE(QFile::link(outside + "/precious.txt", dir + "/dest/linkfile.txt"));
    writeRawZip(dir + "/links.zip", {{"linkdir/planted.txt", "planted", {}, {}},
                                     {"linkfile.txt", "replaced", {}, {}},
                                     {"ok.txt", "ok", {}, {}}});
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/links.zip", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.code(), QZZipArchive::RefusedEntry);
    EXPECT_TRUE(error.message().contains("linkdir/planted.txt"));
    EXPECT_FALSE(QFileInfo::exists(outside + "/planted.txt"));
    // The link at the target is replaced by the entry's file; its target is untouched.
    EXPECT_EQ(KRTest::readFile(outside + "/precious.txt"), "precious");
    EXPECT_FALSE(QFileInfo(dir + "/dest/linkfile.txt").isSymLink());
    EXPECT_EQ(KRTest::readFile(dir + "/dest/linkfile.txt"), "replaced");
    EXPECT_EQ(KRTest::readFile(dir + "/dest/ok.txt"), "ok");
}

TEST(QZZipArchive, DamagedEntryFailsWithoutPartialFile)
{
    const QString dir = KRTest::makeTempDir("zip");
    const QByteArray big = lines(20000);
    const QString archive = dir + "/damaged.zip";
    writeRawZip(archive, {{"damaged.txt", big, {}, {}}, {"fine.txt", "fine", {}, {}}});

    // The first entry's data starts after its local header (30 bytes, name, extra field).
    QByteArray bytes = KRTest::readFile(archive);
    ASSERT_EQ(bytes.left(4), QByteArray("PK\x03\x04"));
    const auto u16 = [&](int at) { return int(quint8(bytes[at])) | int(quint8(bytes[at + 1])) << 8; };
    const int dataStart = 30 + u16(26) + u16(28);
    for (int i = 0; i < 64; ++i)
        bytes[dataStart + 200 + i] = char(bytes[dataStart + 200 + i] ^ 0x5A);
    KRTest::writeFile(archive, bytes);

    KRTest::writeFile(dir + "/dest/damaged.txt", "older version");
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(archive, dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.domain(), "QZZipArchiveErrorDomain");
    EXPECT_EQ(error.code(), QZZipArchive::FailedToExtractEntry);
    EXPECT_TRUE(error.message().contains("damaged.txt")) << error.message().toStdString();
    // The file being overwritten survives; the other entry is extracted; no temporaries.
    EXPECT_EQ(KRTest::readFile(dir + "/dest/damaged.txt"), "older version");
    EXPECT_EQ(KRTest::readFile(dir + "/dest/fine.txt"), "fine");
    EXPECT_EQ(filesBelow(dir + "/dest"), QStringList({"damaged.txt", "fine.txt"}));

    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(archive, dir + "/fresh", true, QString(), &error));
    EXPECT_EQ(filesBelow(dir + "/fresh"), QStringList({"fine.txt"}));
}

TEST(QZZipArchive, UnwritableTargetIsAFailure)
{
    const QString dir = KRTest::makeTempDir("zip");
    writeRawZip(dir + "/a.zip", {{"blocker/inside.txt", "x", {}, {}}, {"other.txt", "o", {}, {}}});
    KRTest::writeFile(dir + "/dest/blocker", "a file where a folder should be");
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/a.zip", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.code(), QZZipArchive::FailedToExtractEntry);
    EXPECT_TRUE(error.message().contains("blocker/inside.txt"));
    EXPECT_EQ(KRTest::readFile(dir + "/dest/other.txt"), "o");
}

TEST(QZZipArchive, ReadsEncryptedArchiveOfAnotherTool)
{
    // Made by Info-ZIP "zip -P 'open sesame' -r - a.txt sub" writing to a pipe, so sizes and
    // CRC follow the data and the password check byte comes from the entry's time.
    const QString archive = QStringLiteral(KR_TEST_DATA_DIR "/core/infozip-streamed-encrypted.zip");
    const QString dir = KRTest::makeTempDir("zip");
    KRError error;
    ASSERT_TRUE(QZZipArchive::unzipFileAtPath(archive, dir + "/out", true, "open sesame", &error))
        << error.toString().toStdString();
    QByteArray expected;
    for (int i = 0; i < 500; ++i)
        expected += "line " + QByteArray::number(i) + "\n";
    EXPECT_EQ(KRTest::readFile(dir + "/out/a.txt"), "alpha\n");
    EXPECT_EQ(KRTest::readFile(dir + "/out/sub/b.txt"), expected);

    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(archive, dir + "/bad", true, "open sesamE", &error));
    EXPECT_EQ(filesBelow(dir + "/bad"), QStringList({"sub"}));
}

// A small archive must not fill the disk: over the limits nothing is extracted, or what was
// extracted before a lie came out is removed again.
TEST(QZZipArchive, ArchivesThatUnpackTooFarAreRefusedWhole)
{
    const QString dir = KRTest::makeTempDir("zip");
    const QByteArray zeros(8 << 20, '\0'); // deflates to a few kilobytes
    writeRawZip(dir + "/bomb.zip", {{"ok.txt", "fine", {}, {}}, {"sub/zeros.bin", zeros, {}, {}}});
    KRTest::writeFile(dir + "/dest/keep.txt", "mine");
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/bomb.zip", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.code(), QZZipArchive::TooLarge);
    EXPECT_TRUE(error.message().contains("zeros.bin")) << error.message().toStdString();
    EXPECT_EQ(filesBelow(dir + "/dest"), QStringList({"keep.txt"}));
    // Only the entries to extract count.
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/bomb.zip", "ok.txt", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(filesBelow(dir + "/dest"), QStringList({"keep.txt", "ok.txt"}));

    // Highly compressed but not past the threshold: an ordinary file.
    writeRawZip(dir + "/plain.zip", {{"blank.bin", QByteArray(QZZipArchive::RatioCheckThreshold, '\0'), {}, {}}});
    EXPECT_TRUE(QZZipArchive::unzipFileAtPath(dir + "/plain.zip", dir + "/plain", true, QString(), &error));
    EXPECT_EQ(QFileInfo(dir + "/plain/blank.bin").size(), QZZipArchive::RatioCheckThreshold);

    // Many entries, each too small for the ratio check, together past the total.
    const qint64 each = QZZipArchive::RatioCheckThreshold;
    writeOverstatedZip(dir + "/many.zip", int(QZZipArchive::MaximumUnpackedSize / each) + 1, each);
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/many.zip", dir + "/many", true, QString(), &error));
    EXPECT_EQ(error.code(), QZZipArchive::TooLarge);
    EXPECT_TRUE(error.message().contains("512")) << error.message().toStdString();
    EXPECT_EQ(filesBelow(dir + "/many"), QStringList());

    // An entry that unpacks to more than it declares stops the extraction; the entries and
    // folders extracted before it go.
    writeRawZip(dir + "/lie.zip", {{"a/first.txt", "first", {}, {}}, {"second.txt", lines(2000), "pw", {}}});
    understateSize(dir + "/lie.zip", "second.txt", 100);
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/lie.zip", dir + "/lie", true, "pw", &error));
    EXPECT_EQ(error.code(), QZZipArchive::TooLarge);
    EXPECT_TRUE(error.message().contains("second.txt")) << error.message().toStdString();
    EXPECT_EQ(filesBelow(dir + "/lie"), QStringList());
}

// Listing and extraction stop at the entry limit with TooLarge, however the archive counts
// its entries (past 65,535 the 16-bit count only says "many"); at the limit all is read.
TEST(QZZipArchive, ArchivesOfTooManyEntriesAreRefused)
{
    const QString dir = KRTest::makeTempDir("zip");
    QStringList names;
    for (qint64 i = 0; i < QZZipArchive::MaximumEntryCount; ++i)
        names.append(QStringLiteral("themes/t%1.css").arg(i));
    KRTest::writeFile(dir + "/full.zip", KRTest::zipOfEmptyFiles(names));
    const KRResult<QStringList> full = QZZipArchive::contentsOfZipFileAtPath(dir + "/full.zip", QString());
    ASSERT_TRUE(full.ok()) << full.error().toString().toStdString();
    EXPECT_EQ(full.value().size(), QZZipArchive::MaximumEntryCount);
    EXPECT_EQ(full.value().last(), names.last());

    names.append(QStringLiteral("one-more.css"));
    KRTest::writeFile(dir + "/over.zip", KRTest::zipOfEmptyFiles(names));
    const KRResult<QStringList> over = QZZipArchive::contentsOfZipFileAtPath(dir + "/over.zip", QString());
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().code(), QZZipArchive::TooLarge);
    EXPECT_TRUE(over.error().message().contains("more than 65535 entries")) << over.error().message().toStdString();
    KRError error;
    EXPECT_FALSE(QZZipArchive::unzipFileAtPath(dir + "/over.zip", "one-more.css", dir + "/dest", true, QString(), &error));
    EXPECT_EQ(error.code(), QZZipArchive::TooLarge);
    EXPECT_EQ(filesBelow(dir + "/dest"), QStringList());
}

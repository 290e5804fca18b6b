#include "support/KRTestHTTPServer.h"

#include <network/NetDataCompressor.h>
#include <network/NetDataDecompressor.h>
#include <KRTestSupport.h>

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <zlib.h>

namespace {

QByteArray randomBytes(int n)
{
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(QRandomGenerator::global()->bounded(256));
    return b;
}

TEST(NetCompression, TinyAndLargeBodiesRoundTrip)
{
    for (const QByteArray &input : {QByteArray("x"), QByteArray("ab"), QByteArray("hello ").repeated(5000), randomBytes(70000)}) {
        KRError e;
        const QByteArray gz = NetDataCompressor::compressData(input, &e);
        ASSERT_FALSE(e) << e.toString().toStdString();
        EXPECT_EQ(KRTestHTTPServer::gunzip(gz), input); // a complete gzip stream
        const QByteArray back = NetDataDecompressor::uncompressData(gz, &e);
        ASSERT_FALSE(e);
        EXPECT_EQ(back, input);
    }
}

TEST(NetCompression, InflatesOneByteAtATime)
{
    const QByteArray text = QByteArray("streaming ").repeated(300);
    const QByteArray gz = KRTestHTTPServer::gzip(text);
    auto d = NetDataDecompressor::decompressor();
    QByteArray out;
    for (char c : gz) {
        KRError e;
        out += d->uncompressBytes(&c, 1, &e);
        ASSERT_FALSE(e) << e.toString().toStdString();
    }
    EXPECT_EQ(out, text);
}

TEST(NetCompression, ZlibAndGzipBothInflate)
{
    const QByteArray text = "zlib or gzip";
    QByteArray zlibbed(128, Qt::Uninitialized);
    uLongf len = uLongf(zlibbed.size());
    compress(reinterpret_cast<Bytef *>(zlibbed.data()), &len, reinterpret_cast<const Bytef *>(text.constData()), uLong(text.size()));
    zlibbed.truncate(qsizetype(len));
    KRError e;
    EXPECT_EQ(NetDataDecompressor::uncompressData(zlibbed, &e), text);
    EXPECT_EQ(NetDataDecompressor::uncompressData(KRTestHTTPServer::gzip(text), &e), text);
}

TEST(NetCompression, CorruptDataGivesCode11)
{
    KRError e;
    const QByteArray out = NetDataDecompressor::uncompressData("definitely not compressed data", &e);
    EXPECT_TRUE(out.isNull());
    EXPECT_EQ(e.code(), 11);
    EXPECT_EQ(e.domain(), QStringLiteral("NetHTTPRequestErrorDomain"));
}

TEST(NetCompression, FilesOfExactlyOneChunkEndWithTheTrailer)
{
    const QString dir = KRTest::makeTempDir();
    const QByteArray input = randomBytes(262144);
    KRTest::writeFile(dir + "/in", input);
    KRError e;
    ASSERT_TRUE(NetDataCompressor::compressDataFromFile(dir + "/in", dir + "/in.gz", &e)) << e.toString().toStdString();
    EXPECT_EQ(KRTestHTTPServer::gunzip(KRTest::readFile(dir + "/in.gz")), input);
    ASSERT_TRUE(NetDataDecompressor::uncompressDataFromFile(dir + "/in.gz", dir + "/out", &e));
    EXPECT_EQ(KRTest::readFile(dir + "/out"), input);
    EXPECT_FALSE(NetDataCompressor::compressDataFromFile(dir + "/missing", dir + "/x.gz", &e));
    EXPECT_EQ(e.message(), QStringLiteral("Compression of %1 failed the file does not exist").arg(dir + "/missing"));
}

} // namespace

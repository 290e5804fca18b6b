#include <core/KRDataExtensions.h>

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>

using namespace KRData;

namespace {

QByteArray zlibCompress(const QByteArray &input)
{
    uLongf size = compressBound(uLong(input.size()));
    QByteArray out(qsizetype(size), '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef *>(out.data()), &size,
                       reinterpret_cast<const Bytef *>(input.constData()), uLong(input.size())),
              Z_OK);
    out.truncate(qsizetype(size));
    return out;
}

QByteArray sampleText()
{
    QByteArray text;
    for (int i = 0; i < 5000; ++i)
        text += "line " + QByteArray::number(i) + " of some repetitive text\n";
    return text;
}

} // namespace

TEST(KRDataGzip, EmptyBlocksComeBackUnchanged)
{
    EXPECT_EQ(gzipInflate(QByteArray()), QByteArray());
    EXPECT_EQ(gzipDeflate(QByteArray()), QByteArray());
}

TEST(KRDataGzip, DeflateWritesGzipThatInflatesBack)
{
    const QByteArray text = sampleText();
    const std::optional<QByteArray> packed = gzipDeflate(text);
    ASSERT_TRUE(packed.has_value());
    ASSERT_GE(packed->size(), 2);
    EXPECT_EQ(quint8(packed->at(0)), 31);
    EXPECT_EQ(quint8(packed->at(1)), 139);
    EXPECT_LT(packed->size(), text.size() / 4);
    EXPECT_EQ(gzipInflate(*packed), text);

    // Output that grows past the first 16 KiB step, from incompressible input.
    QByteArray noise(100000, '\0');
    quint32 x = 12345;
    for (char &c : noise) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    EXPECT_EQ(gzipInflate(gzipDeflate(noise).value()), noise);
}

TEST(KRDataGzip, InflateReadsZlibAndIgnoresTrailingData)
{
    const QByteArray text = sampleText();
    EXPECT_EQ(gzipInflate(zlibCompress(text)), text);
    // A tiny stream that expands a lot (the output outgrows n + n/2 many times).
    const QByteArray zeros(1 << 20, '\0');
    EXPECT_EQ(gzipInflate(zlibCompress(zeros)), zeros);
    EXPECT_EQ(gzipInflate(gzipDeflate(text).value() + "trailing garbage"), text);
}

TEST(KRDataGzip, DamagedOrTruncatedStreamGivesNull)
{
    EXPECT_EQ(gzipInflate(QByteArray(1, 'x')), std::nullopt);
    const QByteArray packed = gzipDeflate(sampleText()).value();
    EXPECT_EQ(gzipInflate(packed.left(packed.size() / 2)), std::nullopt);
    EXPECT_EQ(gzipInflate(QByteArray("definitely not compressed")), std::nullopt);
}

TEST(KRDataBase64, EncodesPaddedGroups)
{
    EXPECT_EQ(base64StringValue("abc"), "YWJj");
    EXPECT_EQ(base64StringValue("ab"), "YWI=");
    EXPECT_EQ(base64StringValue("a"), "YQ==");
    EXPECT_EQ(base64StringValue(QByteArray()), "");
    EXPECT_EQ(base64StringValue(QByteArray("\xFB\xFF\x00", 3)), "+/8A");
}

TEST(KRDataBase64, LineBreaksOnlyBetweenLines)
{
    const QByteArray bytes48(48, 'x');
    std::size_t length = 0;
    QByteArray out = base64EncodeBuffer(bytes48.constData(), 48, true, &length);
    EXPECT_EQ(length, 64u);
    EXPECT_FALSE(out.contains('\r'));
    EXPECT_EQ(out.constData()[length], '\0');

    const QByteArray bytes49(49, 'x');
    out = base64EncodeBuffer(bytes49.constData(), 49, true, &length);
    ASSERT_EQ(length, 70u);
    EXPECT_EQ(out.mid(64, 2), "\r\n");
    EXPECT_EQ(out.mid(66), "eA==");
    EXPECT_EQ(base64DecodeBuffer(out.constData(), length), bytes49);

    // Without the flag: one run of characters.
    out = base64EncodeBuffer(bytes49.constData(), 49, false, &length);
    EXPECT_EQ(length, 68u);
    EXPECT_FALSE(out.contains('\n'));

    // 96 bytes: exactly two lines, no break at the end.
    const QByteArray bytes96(96, 'y');
    out = base64EncodeBuffer(bytes96.constData(), 96, true, &length);
    EXPECT_EQ(length, 130u);
    EXPECT_EQ(out.count("\r\n"), 1);
}

TEST(KRDataBase64, RoundTripsEveryLength)
{
    quint32 x = 7;
    QByteArray bytes;
    for (int n = 0; n <= 200; ++n) {
        const std::size_t groups = (std::size_t(n) + 2) / 3;
        const std::size_t breaks = groups ? (groups - 1) / 16 : 0;
        for (bool separate : {false, true}) {
            std::size_t length = 0;
            const QByteArray text = base64EncodeBuffer(bytes.constData(), std::size_t(n), separate, &length);
            ASSERT_EQ(length, 4 * groups + (separate ? 2 * breaks : 0)) << n;
            ASSERT_EQ(base64DecodeBuffer(text.constData(), length), bytes) << n;
        }
        x = x * 1103515245u + 12345u;
        bytes.append(char(x >> 24));
    }
}

TEST(KRDataBase64, DecodingSkipsForeignCharactersAndDropsLeftoverBits)
{
    EXPECT_EQ(dataByBase64DecodingString("YWJj"), "abc");
    EXPECT_EQ(dataByBase64DecodingString("YW Jj"), "abc");
    EXPECT_EQ(dataByBase64DecodingString("YWJj\n"), "abc");
    EXPECT_EQ(dataByBase64DecodingString("YWI="), "ab");
    EXPECT_EQ(dataByBase64DecodingString("YQ"), "a");
    EXPECT_EQ(dataByBase64DecodingString("Y"), "");
    EXPECT_EQ(dataByBase64DecodingString(QStringLiteral("YWJj\u00e9")), "");

    // Length "all ones": the input is NUL-terminated.
    std::size_t length = 0;
    EXPECT_EQ(base64DecodeBuffer("YWJj\r\nYWI=", NulTerminated, &length), "abcab");
    EXPECT_EQ(length, 5u);
    const char withHighBytes[] = "Y\xC3WJ\x80j";
    EXPECT_EQ(base64DecodeBuffer(withHighBytes, std::strlen(withHighBytes)), "abc");
}

TEST(KRDataDigests, KnownAnswers)
{
    EXPECT_EQ(MD5String(QByteArray()), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5String("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(SHA1String(QByteArray()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(SHA1String("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(SHA256String(QByteArray()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(SHA256String("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(KRDataAES, SizesFollowPadding)
{
    for (const auto &[in, out] : {std::pair{0, 16}, {15, 16}, {16, 32}, {17, 32}, {32, 48}}) {
        QByteArray block(in, 'p');
        ASSERT_TRUE(encryptWithKey(block, "key")) << in;
        EXPECT_EQ(block.size(), out) << in;
        ASSERT_TRUE(decryptWithKey(block, "key")) << in;
        EXPECT_EQ(block, QByteArray(in, 'p'));
    }
}

TEST(KRDataAES, KnownAnswerAndKeyMaterial)
{
    // openssl enc -aes-256-cbc -K <"secret" zero-padded to 32 bytes> -iv 0
    QByteArray block("Korvane test!");
    ASSERT_TRUE(encryptWithKey(block, "secret"));
    EXPECT_EQ(stringWithHexBytes(block), "C45813BD670EE6A687D000AAF098C0F3");
    block.clear();
    ASSERT_TRUE(encryptWithKey(block, "secret"));
    EXPECT_EQ(stringWithHexBytes(block), "7EE6A37B9DEEDBDC15DBD8D2B3C8E239");

    // Only the first 32 bytes of the key text count, however long it is.
    const QString key32(32, QLatin1Char('k'));
    for (const QString &longKey : {key32 + "tail", QString(300, QLatin1Char('k'))}) {
        QByteArray data("payload");
        ASSERT_TRUE(encryptWithKey(data, longKey));
        ASSERT_TRUE(decryptWithKey(data, key32));
        EXPECT_EQ(data, "payload");
    }
}

TEST(KRDataAES, WrongKeyOrBadLengthDoesNotGiveThePlaintext)
{
    const QByteArray plain("a secret password");
    QByteArray block = plain;
    ASSERT_TRUE(encryptWithKey(block, "right"));
    const QByteArray cipher = block;
    if (decryptWithKey(block, "wrong"))
        EXPECT_NE(block, plain);
    else
        EXPECT_EQ(block, cipher); // unchanged on failure

    QByteArray odd = cipher.left(20);
    EXPECT_FALSE(decryptWithKey(odd, "right"));
    EXPECT_EQ(odd, cipher.left(20));
    QByteArray empty;
    EXPECT_FALSE(decryptWithKey(empty, "right"));
}

TEST(KRDataHex, BothDirections)
{
    EXPECT_EQ(stringWithHexBytes(QByteArray("\x00\xAB\xFF", 3)), "00ABFF");
    EXPECT_EQ(stringWithHexBytes(QByteArray()), "");
    EXPECT_EQ(dataWithHexString("00abFF"), QByteArray("\x00\xAB\xFF", 3));
    EXPECT_EQ(dataWithHexString("abc"), QByteArray("\xAB", 1));
    EXPECT_EQ(dataWithHexString("zz"), QByteArray(1, '\0'));
    // Pairs read like strtol: blank then digit, digit then junk, sign.
    EXPECT_EQ(dataWithHexString(" f8g-1"), QByteArray("\x0F\x08\xFF", 3));
    EXPECT_EQ(dataWithHexString(QStringLiteral("\u00e9A")), QByteArray(1, '\0'));
}

#include "KRDataExtensions.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace KRData {

// zlib counts in 32-bit unsigned ints; larger blocks are fed and drained in slices.
static uInt sliceSize(qsizetype n)
{
    return uInt(std::min<qsizetype>(n, qsizetype(UINT_MAX)));
}

// Feeds data through the stream in slices while the step (one inflate or deflate call, told
// whether input is still to come) answers Z_OK, growing out by growth whenever it fills. Returns
// the last status; out is cut to what was produced.
template <typename Step>
static int pump(z_stream &stream, const QByteArray &data, QByteArray &out, qsizetype growth, Step step)
{
    const qsizetype n = data.size();
    const auto *input = reinterpret_cast<const Bytef *>(data.constData());
    qsizetype consumed = 0;
    qsizetype produced = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        if (produced >= out.size())
            out.resize(out.size() + growth);
        if (stream.avail_in == 0 && consumed < n) {
            stream.next_in = const_cast<Bytef *>(input + consumed);
            stream.avail_in = sliceSize(n - consumed);
            consumed += stream.avail_in;
        }
        stream.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        stream.avail_out = sliceSize(out.size() - produced);
        const uInt before = stream.avail_out;
        status = step(stream, consumed < n);
        produced += before - stream.avail_out;
    }
    out.truncate(produced);
    return status;
}

std::optional<QByteArray> gzipInflate(const QByteArray &data)
{
    if (data.isEmpty())
        return data;
    const qsizetype n = data.size();
    // Grows by half the input each time it fills (at least 1 KiB so that tiny inputs that
    // expand a lot do not crawl).
    const qsizetype growth = std::max<qsizetype>(n / 2, 1024);
    QByteArray out(n + n / 2, Qt::Uninitialized);

    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, 47) != Z_OK)
        return std::nullopt;
    const int status = pump(stream, data, out, growth,
                            [](z_stream &z, bool) { return inflate(&z, Z_SYNC_FLUSH); });
    const bool closed = inflateEnd(&stream) == Z_OK;
    if (status != Z_STREAM_END || !closed)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> gzipDeflate(const QByteArray &data)
{
    if (data.isEmpty())
        return data;
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    constexpr qsizetype step = 16384;
    QByteArray out(step, Qt::Uninitialized);
    const int status = pump(stream, data, out, step, [](z_stream &z, bool moreInput) {
        return deflate(&z, moreInput ? Z_NO_FLUSH : Z_FINISH);
    });
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        return std::nullopt;
    return out;
}

static const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

QByteArray base64EncodeBuffer(const void *bytes, std::size_t length, bool separateLines,
                              std::size_t *outLength)
{
    const auto *in = static_cast<const unsigned char *>(bytes);
    const std::size_t groups = (length + 2) / 3;
    QByteArray out;
    out.reserve(qsizetype(4 * groups + 2 * (groups / 16)));
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t i = g * 3;
        const std::size_t left = length - i;
        const unsigned b0 = in[i];
        const unsigned b1 = left > 1 ? in[i + 1] : 0;
        const unsigned b2 = left > 2 ? in[i + 2] : 0;
        out.append(base64Alphabet[b0 >> 2]);
        out.append(base64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)]);
        out.append(left > 1 ? base64Alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=');
        out.append(left > 2 ? base64Alphabet[b2 & 0x3F] : '=');
        if (separateLines && (g + 1) % 16 == 0 && g + 1 < groups)
            out.append("\r\n", 2);
    }
    if (outLength)
        *outLength = std::size_t(out.size());
    return out;
}

static int base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

QByteArray base64DecodeBuffer(const void *bytes, std::size_t length, std::size_t *outLength)
{
    const auto *in = static_cast<const unsigned char *>(bytes);
    if (length == NulTerminated)
        length = std::strlen(static_cast<const char *>(bytes));
    QByteArray out;
    out.reserve(qsizetype((length + 3) / 4 * 3));
    int group[4];
    int count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int value = base64Value(in[i]);
        if (value < 0)
            continue;
        group[count++] = value;
        if (count == 4) {
            out.append(char((group[0] << 2) | (group[1] >> 4)));
            out.append(char((group[1] << 4) | (group[2] >> 2)));
            out.append(char((group[2] << 6) | group[3]));
            count = 0;
        }
    }
    if (count >= 2)
        out.append(char((group[0] << 2) | (group[1] >> 4)));
    if (count == 3)
        out.append(char((group[1] << 4) | (group[2] >> 2)));
    if (outLength)
        *outLength = std::size_t(out.size());
    return out;
}

QString base64StringValue(const QByteArray &data)
{
    return QString::fromLatin1(base64EncodeBuffer(data.constData(), std::size_t(data.size()), false));
}

QByteArray dataByBase64DecodingString(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0x7F)
            return QByteArray();
    }
    const QByteArray ascii = text.toLatin1();
    return base64DecodeBuffer(ascii.constData(), std::size_t(ascii.size()));
}

static QString digest(const QByteArray &data, const EVP_MD *md)
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.constData(), std::size_t(data.size()), value, &size, md, nullptr) != 1)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(value), int(size)).toHex());
}

QString MD5String(const QByteArray &data)
{
    return digest(data, EVP_md5());
}

QString SHA1String(const QByteArray &data)
{
    return digest(data, EVP_sha1());
}

QString SHA256String(const QByteArray &data)
{
    return digest(data, EVP_sha256());
}

// The key text's UTF-8 bytes, NUL-terminated, in a zero-filled 264-byte buffer (texts longer
// than 263 bytes are cut); the cipher reads its first 32 bytes.
struct KeyMaterial
{
    unsigned char bytes[264];
    explicit KeyMaterial(const QString &key)
    {
        std::memset(bytes, 0, sizeof bytes);
        const QByteArray utf8 = key.toUtf8();
        std::memcpy(bytes, utf8.constData(), std::min<std::size_t>(std::size_t(utf8.size()), sizeof bytes - 1));
    }
};

static bool aes256(QByteArray &data, const QString &key, bool encrypt)
{
    const KeyMaterial material(key);
    static const unsigned char iv[16] = {};
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                         &EVP_CIPHER_CTX_free);
    if (!ctx || data.size() > INT_MAX - 32
        || EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, material.bytes, iv, encrypt ? 1 : 0) != 1) {
        return false;
    }
    QByteArray out(data.size() + 16, Qt::Uninitialized);
    int written = 0;
    int final = 0;
    auto *outBytes = reinterpret_cast<unsigned char *>(out.data());
    if (EVP_CipherUpdate(ctx.get(), outBytes, &written,
                         reinterpret_cast<const unsigned char *>(data.constData()), int(data.size())) != 1
        || EVP_CipherFinal_ex(ctx.get(), outBytes + written, &final) != 1) {
        return false;
    }
    out.truncate(written + final);
    data = out;
    return true;
}

bool encryptWithKey(QByteArray &data, const QString &key)
{
    return aes256(data, key, true);
}

bool decryptWithKey(QByteArray &data, const QString &key)
{
    return aes256(data, key, false);
}

QString stringWithHexBytes(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex().toUpper());
}

QByteArray dataWithHexString(const QString &text)
{
    const qsizetype count = text.size() / 2;
    QByteArray out(count, '\0');
    for (qsizetype i = 0; i < count; ++i) {
        char pair[3];
        for (int k = 0; k < 2; ++k) {
            const char16_t c = text.at(2 * i + k).unicode();
            pair[k] = c < 0x80 && c != 0 ? char(c) : '?'; // anything else stops the reading
        }
        pair[2] = '\0';
        out[i] = char(std::strtol(pair, nullptr, 16) & 0xFF);
    }
    return out;
}

} // namespace KRData

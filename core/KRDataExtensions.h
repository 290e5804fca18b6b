#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <optional>

// Byte-block operations: gzip, Base64, digests, AES-256 and hexadecimal text.
//
// Null results: operations that can fail return std::optional (std::nullopt is the failure);
// the others always give a block or text, possibly empty.
namespace KRData {

// Decompresses a zlib or gzip stream (detected from its header). Data after the end of the
// first stream is ignored. nullopt for a damaged or truncated stream. An empty block comes
// back unchanged.
std::optional<QByteArray> gzipInflate(const QByteArray &data);
// Compresses into a gzip stream at zlib's default level. An empty block comes back unchanged.
std::optional<QByteArray> gzipDeflate(const QByteArray &data);

// Standard Base64 (RFC 4648 alphabet, "=" padding), no line breaks.
QString base64StringValue(const QByteArray &data);
// The bytes of Base64 text; characters outside the alphabet are skipped. A text with any
// character outside ASCII gives an empty block.
QByteArray dataByBase64DecodingString(const QString &text);

// Base64 characters of length bytes. With separateLines a CR LF follows every 64 characters
// when more follow (never at the end). The returned block owns the characters (its data()
// is NUL-terminated); *outLength, when given, receives the count without the NUL.
QByteArray base64EncodeBuffer(const void *bytes, std::size_t length, bool separateLines,
                              std::size_t *outLength = nullptr);
// Pass as length to base64DecodeBuffer for NUL-terminated input.
inline constexpr std::size_t NulTerminated = static_cast<std::size_t>(-1);
// Decoded bytes of Base64 characters; every character outside the alphabet (padding, white
// space, line ends, ...) is skipped and bits left over in a final group are dropped. The
// returned block owns the bytes; *outLength, when given, receives their count.
QByteArray base64DecodeBuffer(const void *bytes, std::size_t length, std::size_t *outLength = nullptr);

// Digests as lower-case hexadecimal text (32, 40 and 64 characters).
QString MD5String(const QByteArray &data);
QString SHA1String(const QByteArray &data);
QString SHA256String(const QByteArray &data);

// AES-256 in CBC mode, all-zero initialisation vector, PKCS#7 padding, in place. The key is
// the key text's UTF-8 bytes zero-padded or cut to 32 bytes. On failure the block is left
// unchanged and the result is false. n bytes encrypt to 16 * (n / 16 + 1) bytes.
bool encryptWithKey(QByteArray &data, const QString &key);
bool decryptWithKey(QByteArray &data, const QString &key);

// Upper-case hexadecimal text, two digits per byte; empty for no bytes.
QString stringWithHexBytes(const QByteArray &data);
// One byte per pair of characters, each pair read as strtol reads base 16 (leading white
// space, optional sign and "0x", stops at the first other character, no digits give 0), its
// low 8 bits kept. A final odd character is ignored: "abc" gives 0xAB, "zz" gives 0.
QByteArray dataWithHexString(const QString &text);

} // namespace KRData

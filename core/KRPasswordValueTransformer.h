#pragma once

#include <QString>

// Turns the hosting password between the text the user types and its stored form in the
// user default "hostingPassword": the upper-case hexadecimal text of the password's UTF-8
// bytes encrypted with AES-256-CBC (zero vector, PKCS#7) under passwordKey(). n UTF-8 bytes
// are stored as 32 * (n / 16 + 1) characters.
//
// A null QString stands for a missing value. Null and empty texts pass through unchanged;
// a failure in either direction gives a null QString, never a half-transformed value.
class KRPasswordValueTransformer
{
public:
    static bool allowsReverseTransformation() { return true; }

    // Stored form to plain text; null when the text does not decrypt under the key or the
    // result is not valid UTF-8 (written under another key, or not a stored password).
    QString transformedValue(const QString &stored) const;
    // Plain text to stored form; null when the encryption fails.
    QString reverseTransformedValue(const QString &plain) const;

    // The key text. Elsewhere it would be the machine's user-visible model name, but this
    // platform has no such query, so it is always the fixed text "QmarTvel\n". Passwords
    // stored under it read back on any machine running this build.
    static QString passwordKey();
};

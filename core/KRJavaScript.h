#pragma once

#include <QString>

// Helpers for text that is placed into generated JavaScript. Every string literal of
// generated code goes through quotedString; every identifier through isValidIdentifier.
namespace KRJavaScript {

// A double-quoted JavaScript string literal of the text: backslash, double quote, line breaks,
// tab, the other C0 controls, DEL, U+2028 and U+2029 are escaped, and "</" becomes "<\/" so the
// literal can stand inside an HTML script element. Text without such characters comes back
// unchanged between the quotes.
QString quotedString(const QString &text);

// The id rule of page objects: "^[$A-Za-z_][0-9A-Za-z_]*$" (so "$" only first).
bool isValidIdentifier(const QString &text);

// A numeric literal for a property value such as "12", "12px", "-5", "1.5", "50%": the run
// from the first digit (with a directly preceding "-", "." or "-.") to the last digit, when
// that run is a plain decimal number; leading zeros of the integer part are dropped so the
// literal is valid in strict code. An empty string when the value holds no such number
// ("abc", "1,5", "1.2.3").
QString numberLiteral(const QString &value);

} // namespace KRJavaScript

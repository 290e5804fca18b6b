#pragma once

#include <QByteArray>
#include <QString>

// Texts that live as long as the process: names read once into the tables every thread asks
// (class properties, style properties). A copy of a lasting text counts no references, so
// threads that copy the same name many times over do not fight over the line that holds its
// count. Equal texts share their characters; a null text stays null.
//
// The characters are never freed: only a bounded set of names belongs here, never values that
// come and go. Such a text is not terminated in place: its utf16() makes a terminated copy in
// the string it is called on, so call it on a copy of your own, never on a shared one (or use
// constData() with the size).
namespace KRLastingString {

QString of(const QString &text);
QByteArray of(const QByteArray &bytes);

} // namespace KRLastingString

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace KRTest {

// The private folder that the test program's per-user folders (XDG data, config, state,
// cache and runtime) point at. Made before the application object; removed at exit.
QString sandboxDir();

// A fresh, empty folder inside the sandbox.
QString makeTempDir(const QString &prefix = QStringLiteral("t"));

// How long a test waits for something that is bound to happen: long enough for a loaded
// machine with two cores. A wait that holds returns as soon as it does.
inline constexpr std::chrono::milliseconds WaitTimeout = std::chrono::seconds(60);

// Runs the event loop until the predicate holds or the time is up; returns the predicate's
// last value. The predicate is asked whenever the events that were ready have been handled,
// and at least every few milliseconds (for what changes without an event of its own); in
// between the thread sleeps until an event comes, leaving the processors to the engines
// under test.
bool processEventsUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = WaitTimeout);

// Registers a function that the test program's main runs before it makes the application
// object (things Qt accepts only then, like URL schemes of the web engine). Meant for a
// static initializer: `static const bool r = KRTest::addBeforeApplicationHook(f);`.
bool addBeforeApplicationHook(void (*hook)());
void runBeforeApplicationHooks();

// Where a component's test pictures go: <build folder>/test-artifacts/<component>, made when
// missing.
QString artifactsDir(const QString &component);

// Writes bytes to a file, creating parent folders. Fails the current test on error.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// A zip archive of empty stored files of those names, made byte by byte (fast for many
// entries). Past 65,535 names the archive declares the 16-bit field's "many" (0xFFFF), as
// archives without the 64-bit extension do.
QByteArray zipOfEmptyFiles(const QStringList &names);

} // namespace KRTest

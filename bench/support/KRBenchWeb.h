#pragma once

// What the benchmarks of built applications in the web engine share: a sample project copied
// and built by the project builder, the runtime servers made ready, and a script's yes-or-no
// answer from a page.

#include <QString>

#include <memory>

class KRDocument;

namespace KRBench {

struct BuiltSample
{
    std::shared_ptr<KRDocument> document;
    QString startPage; // the built start page's file; empty when the copy, opening or build failed
};

// Copies the sample "<name>.krproj" shipped with the application into the folder and builds it.
BuiltSample buildSample(const QString &name, const QString &folder);

// What a program that starts runtime servers does first: a closed connection costs no signal,
// and the network layer's server support is installed.
void prepareRuntimeServers();

} // namespace KRBench

#pragma once

// What the benchmarks of built applications in the web engine share: a sample project copied
// and built by the project builder.

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

} // namespace KRBench

#include "KRBenchWeb.h"

#include "KRBenchSupport.h"

#include <builder/KRProjectBuilder.h>
#include <controls/KRControlLibrary.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <network/NetRuntimeServerSupport.h>
#include <platform/foundation/KRResources.h>

#include <tests/support/KRCopyTree.h>


#include <csignal>

namespace KRBench {

BuiltSample buildSample(const QString &name, const QString &folder)
{
    BuiltSample sample;
    registerControlLibrary();
    const QString package = folder + QLatin1Char('/') + name + QStringLiteral(".krproj");
    if (!KRTest::copyTree(KRResources::resourcesDirectory() + QStringLiteral("/samples/") + name + QStringLiteral(".krproj"),
                          package))
        return sample;
    auto document = KRDocument::openPackage(package);
    if (!document)
        return sample;
    sample.document = document.value();
    auto project = KRProject::create(sample.document, false);
    if (!project)
        return sample;
    const KRResult<QString> built = KRProjectBuilder(project.value()).build();
    if (built)
        sample.startPage = built.value();
    return sample;
}

void prepareRuntimeServers()
{
    std::signal(SIGPIPE, SIG_IGN);
    NetRuntimeServerSupport::install();
}

} // namespace KRBench

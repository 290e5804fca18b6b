#include "KRBenchWeb.h"

#include "KRBenchSupport.h"

#include <builder/KRProjectBuilder.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>

#include <tests/support/KRCopyTree.h>


namespace KRBench {

BuiltSample buildSample(const QString &name, const QString &folder)
{
    BuiltSample sample;
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


} // namespace KRBench

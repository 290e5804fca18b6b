#include "KRBenchSupport.h"
#include "KRBenchTargets.h"

#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QDir>
#include <QFile>

namespace KRBench {

QByteArray generatedProjectXML(int pages, int objectsPerPage, const std::function<QByteArray(int)> &objectXML)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\""
                     + KRDocument::applicationShortVersion().toUtf8() + "\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\"/>\n  <KRPages>\n";
    for (int p = 1; p <= pages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p)
               + "\" color=\"#333\" fontSize=\"14\">\n      <KRContents>\n";
        for (int o = 1; o <= objectsPerPage; ++o)
            xml += "        " + objectXML(o) + "\n";
        xml += "      </KRContents>\n    </KRPage>\n";
    }
    xml += "  </KRPages>\n</KRProjectDocument>\n";
    return xml;
}

std::unique_ptr<KRNodeRunner> startFloorServer(const QString &documentRoot)
{
    if (KRNodeRunner::nodeExecutablePath().isEmpty())
        return nullptr;
    auto server = std::make_unique<KRNodeRunner>();
    server->setDocumentRootPath(documentRoot);
    server->setRequestedPortNumber(0);
    server->start();
    return server;
}

QString writePackage(const QString &folder, const QByteArray &projectXML)
{
    const QString package = folder + QStringLiteral("/Bench.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    QFile file(package + QStringLiteral("/project.xml"));
    if (file.open(QIODevice::WriteOnly))
        file.write(projectXML);
    return package;
}

Opened openProject(const QString &package)
{
    auto document = KRDocument::openPackage(package);
    if (!document)
        return {};
    auto project = KRProject::create(document.value(), true);
    if (!project)
        return {};
    return {document.value(), project.value()};
}

void openRepeatedly(benchmark::State &state, const QString &package, int pages, int objectsPerPage,
                    const std::string &figure, double targetMs)
{
    const LoopClock clock;
    for (auto _ : state) {
        Opened opened = openProject(package);
        if (!opened.project || opened.project->krPages().size() != pages ||
            opened.project->krPages().first()->kr_objects().size() != objectsPerPage) {
            state.SkipWithError("the generated project did not open");
            return;
        }
    }
    if (!figure.empty() && state.iterations() > 0)
        reportTarget(state, figure, clock.seconds() * 1e3 / double(state.iterations()), "ms", targetMs, Bound::Below);
}

std::vector<std::shared_ptr<KRObject>> allObjects(const Opened &opened)
{
    std::vector<std::shared_ptr<KRObject>> objects;
    for (const auto &page : opened.project->krPages())
        for (const auto &object : page->kr_objects())
            objects.push_back(object);
    return objects;
}

void changeProperties(benchmark::State &state, const QString &package, const std::vector<const char *> &keys,
                      const std::string &figure, double targetMicroseconds)
{
    const Opened opened = openProject(package);
    if (!opened.project) {
        state.SkipWithError("the generated project did not open");
        return;
    }
    const auto objects = allObjects(opened);
    std::int64_t round = 0;
    const LoopClock clock;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < 10000; ++i) {
            const auto &object = objects[std::size_t(i) % objects.size()];
            const char *key = keys[std::size_t(i) % keys.size()];
            object->setValue(QString::fromLatin1(key), QString::number(round * 10000 + i));
        }
    }
    state.counters["per_change"] =
        benchmark::Counter(double(state.iterations()) * 10000, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (!figure.empty() && state.iterations() > 0)
        reportTarget(state, figure, clock.seconds() * 1e6 / (double(state.iterations()) * 10000), "us",
                     targetMicroseconds, Bound::Below);
}

} // namespace KRBench

// Importing a zip archive into the web folder first looks for a theme among its entries.
// Target: an archive of as many entries as an import takes (QZZipArchive::MaximumEntryCount),
// every one named like a theme style sheet, is looked through in under 1 s; the time grows
// linearly with the entries (compare BM_ZipThemeEntry/16384 with /65535).

#include <core/QZZipArchive.h>
#include <model/KRProjectResource.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <minizip/zip.h>

#include <cstring>

namespace {

// Entries "themes/tN.css", stored and empty, none with its ".min.css" partner: every name is
// looked up and none ends the search.
bool writeThemeLikeArchive(const QString &path, int count)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        zip_fileinfo info;
        std::memset(&info, 0, sizeof info);
        const QByteArray name = "themes/t" + QByteArray::number(i) + ".css";
        ok = zipOpenNewFileInZip64(zip, name.constData(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0) == ZIP_OK
            && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

void BM_ZipThemeEntry(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString archive = folder.path() + QStringLiteral("/themes.zip");
    if (!writeThemeLikeArchive(archive, int(state.range(0)))) {
        state.SkipWithError("the archive could not be written");
        return;
    }
    for (auto _ : state) {
        KRError error;
        const QString entry = KRProjectResource::zipFileJQMTheme(archive, &error);
        if (!entry.isEmpty() || error) {
            state.SkipWithError("the archive was not looked through");
            return;
        }
        benchmark::DoNotOptimize(entry);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ZipThemeEntry)->Arg(16384)->Arg(QZZipArchive::MaximumEntryCount)->Unit(benchmark::kMillisecond)->Complexity();

} // namespace

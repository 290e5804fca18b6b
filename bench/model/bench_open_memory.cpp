// The memory an open project holds. A generated project (the builder benchmark's shape: every
// page a header toolbar and 40 objects, three real controls of the control library and one
// function in every four, plain HTML controls, jQuery Mobile widgets, list views, graphs and
// galleries) is written as a package and opened the way a project window opens it: the
// document read from the package, then its project made in design mode (the pages with their
// design documents), and the event loop run once. The web views and widgets of the window are
// not included; the model, the pages' design documents and the XML document are.
//
// Each shape is opened in a child process of its own, so that one shape's freed memory does
// not count in the next. The floor is the child's resident memory just before the package is
// opened (the catalogue, the controls and Qt already set up, a one-page project opened and
// closed once): it is subtracted from the resident memory once the project is open.
// "MB_per_page" is what is left divided by the pages, "over_file" the same over the size of
// project.xml (the peer: memory for each byte of the file), "total_MB" all of it.
// A second line gives the resident memory once project.xml has been written out (a save, a
// build's copy), the text itself still held, over the open project's; a third what a build's
// copy of the project holds (made on a thread of its own, as Build makes it), over the open
// project's (target <= 1x), and what stays once it is dropped (target <= 0.25x).
// Each shape is measured twice: as generated (only the properties its objects set), and as
// the application saves it (the generated project opened and written out once, in a child of
// its own, so that every object carries the empty attributes of the properties it lacks).
// "--pages=N" measures N pages alone, in this process (for a heap profiler); "--saved=PATH"
// measures the package at PATH in its place.
// Shapes: 50 pages x 40 objects (target <= 0.5 MB a page) and 1,000 x 40 (target < 600 MB).

#include <bench/support/KRBenchMixedProject.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <builder/KRBuilderSetup.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kObjectsPerPage = KRBench::mixedObjectsPerPage;

double residentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

void processPendingEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Opens the generated project of `pages` pages and writes it, as a save does, to a package in
// the folder `path`; false on failure.
bool writeSavedForm(int argc, char **argv, int pages, const QString &path)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    KRObjectInfo::sharedInstance();
    setUpProjectBuilder();
    const QString package = KRBench::writePackage(folder.path() + QStringLiteral("/generated"),
                                                  KRBench::mixedControlsProjectXML(pages));
    KRBench::Opened opened = KRBench::openProject(package);
    if (!opened.project || opened.project->krPages().size() != pages)
        return false;
    processPendingEvents();
    return !KRBench::writePackage(path, opened.document->xmlDocument().xmlData()).isEmpty();
}

// Opens a project of `pages` pages in this process and prints its figures; false on failure.
// `saved`: the folder of the saved form's package, opened in place of the generated project.
bool measure(int argc, char **argv, int pages, const QString &saved = {})
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    KRObjectInfo::sharedInstance(); // the catalogue comes from the application's resources
    setUpProjectBuilder();          // the control classes, as the application registers them
    const QString small = KRBench::writePackage(folder.path() + QStringLiteral("/small"), KRBench::mixedControlsProjectXML(1));
    {
        // Whatever is set up once per process, by the first project opened.
        KRBench::Opened opened = KRBench::openProject(small);
        if (!opened.project)
            return false;
        processPendingEvents();
    }
    processPendingEvents();

    QByteArray xml;
    QString package;
    if (saved.isEmpty()) {
        xml = KRBench::mixedControlsProjectXML(pages);
        package = KRBench::writePackage(folder.path() + QStringLiteral("/large"), xml);
    } else {
        package = saved + QStringLiteral("/Bench.krproj"); // as writePackage names it
        QFile file(package + QStringLiteral("/project.xml"));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        xml = file.readAll();
    }
    const double fileMB = double(xml.size()) / (1024.0 * 1024.0);
    const double floorMB = residentMB();
    KRBench::Opened opened = KRBench::openProject(package);
    if (!opened.project || opened.project->krPages().size() != pages)
        return false;
    processPendingEvents();
    const double openMB = residentMB() - floorMB;

    const std::string shape = std::to_string(pages) + "x" + std::to_string(kObjectsPerPage) + (saved.isEmpty() ? "" : "_saved");
    std::printf("open/%-9s %8.1f MB  %6.3f MB a page  %6.1f KB an object  %5.1fx project.xml (%.1f MB)  floor %.0f MB\n",
                shape.c_str(), openMB, openMB / pages, openMB * 1024.0 / (pages * kObjectsPerPage), openMB / fileMB,
                fileMB, floorMB);
    if (pages == 50)
        KRBench::printFigure("open_MB_per_page_" + shape, openMB / pages, "MB", 0.5);
    else
        KRBench::printFigure("open_total_MB_" + shape, openMB, "MB", 600, KRBench::Bound::Below);
    // Written out once, as a save and a build's copy of the project write it: what stays of
    // that in the process (over what the open project held).
    const QByteArray written = opened.document->xmlDocument().xmlData();
    processPendingEvents();
    const double writtenMB = residentMB() - floorMB;
    std::printf("open/%-9s %8.1f MB  after writing project.xml out once (%.2fx the open project; %.1f MB written)\n",
                shape.c_str(), writtenMB, writtenMB / openMB, double(written.size()) / (1024.0 * 1024.0));
    // A build's copy of the project, made and dropped on a thread of its own as Build does: what
    // it holds while the build reads it, over the open project, and what stays once it is gone.
    const double beforeCopyMB = residentMB();
    double copyMB = -1;
    std::thread build([&] {
        KRResult<std::shared_ptr<KRProject>> copy = KRProject::fromSnapshot(opened.project->snapshot());
        if (copy)
            copyMB = residentMB() - beforeCopyMB;
    });
    build.join();
    if (copyMB < 0)
        return false;
    KRProject::releaseBuildMemory();
    const double afterCopyMB = residentMB() - beforeCopyMB;
    std::printf("open/%-9s %8.1f MB  held by a build's copy (%.2fx the open project); %.1f MB stay once it is dropped\n",
                shape.c_str(), copyMB, copyMB / openMB, afterCopyMB);
    KRBench::printFigure("build_copy_over_open_" + shape, copyMB / openMB, "x", 1.0);
    KRBench::printFigure("build_copy_stays_over_open_" + shape, afterCopyMB / openMB, "x", 0.25);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Private per-user folders: the user's own settings stay out of the measurement.
    QTemporaryDir home;
    KRBench::usePrivateUserFolders(home.path());
    // "--pages=N": that shape alone, in this process (for a heap profiler).
    if (argc > 1 && std::strncmp(argv[1], "--pages=", 8) == 0) {
        const QString saved = argc > 2 && std::strncmp(argv[2], "--saved=", 8) == 0 ? QString::fromLocal8Bit(argv[2] + 8) : QString();
        return measure(argc, argv, std::atoi(argv[1] + 8), saved) ? 0 : 1;
    }
    // Runs `work` in a child process; false when it fails.
    const auto inChild = [](const auto &work) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0)
            std::_Exit(work() ? 0 : 1);
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    QTemporaryDir savedForms;
    int failed = 0;
    for (const int pages : {50, 1000}) {
        if (!inChild([&] { return measure(argc, argv, pages); })) {
            std::fprintf(stderr, "the project of %d pages could not be opened and measured\n", pages);
            ++failed;
        }
        const QString saved = savedForms.path() + QStringLiteral("/saved") + QString::number(pages);
        if (!inChild([&] { return writeSavedForm(argc, argv, pages, saved); })
            || !inChild([&] { return measure(argc, argv, pages, saved); })) {
            std::fprintf(stderr, "the saved project of %d pages could not be opened and measured\n", pages);
            ++failed;
        }
    }
    return failed ? 1 : 0;
}

// Cold start: a fresh korvane process, offscreen, from exec to the start gallery on screen.
// Target: under 1.5 s in a release build (the gallery comes up one second after launch).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

void BM_ColdStartToGallery(benchmark::State &state)
{
    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        environment.insert(QString::fromLatin1(name), home.path() + QLatin1Char('/') + QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    environment.insert(QStringLiteral("KR_QUIT_WHEN_GALLERY_SHOWN"), QStringLiteral("1"));
    // A returning user (no welcome page), and a hosting service that answers at once with
    // nothing: no network in the measurement.
    QDir().mkpath(home.path() + QStringLiteral("/XDG_CONFIG_HOME/Korvane"));
    QFile settings(home.path() + QStringLiteral("/XDG_CONFIG_HOME/Korvane/Korvane.conf"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[General]\nlastExecutedVersion=999\napiURL=http://127.0.0.1:1/api.php\ninsecureSiteURL=http://127.0.0.1:1/\n");
    settings.close();

    for (auto _ : state) {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(KR_KORVANE_PATH), {});
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            state.SkipWithError("korvane did not reach the gallery");
            process.kill();
            process.waitForFinished();
            break;
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_ColdStartToGallery)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

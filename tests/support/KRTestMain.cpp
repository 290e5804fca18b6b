// Entry point of every test program: per-user folders go to a private sandbox so that no
// test reads or writes the real home folder, broken pipes are ignored (tests talk to child
// processes), and the Qt application object exists for timers, queued calls and QProcess.

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QString>

#ifdef KR_TEST_GUI
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <csignal>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace KRTest {
QString g_sandboxDir;
}

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);

    const char *tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kr-test-XXXXXX";
    if (!mkdtemp(templ.data())) {
        perror("mkdtemp");
        return 2;
    }
    KRTest::g_sandboxDir = QString::fromStdString(templ);
    const QByteArray root = templ.c_str();
    for (const char *sub : {"data", "config", "state", "cache", "runtime", "home"})
        QDir().mkpath(QString::fromUtf8(root + "/" + sub));
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_STATE_HOME", root + "/state");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    qputenv("XDG_RUNTIME_DIR", root + "/runtime");
    ::chmod((root + "/runtime").constData(), 0700);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    KRTest::runBeforeApplicationHooks();

#ifdef KR_TEST_GUI
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    QCoreApplication::setOrganizationName(QStringLiteral("Korvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Korvane"));

    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();

    if (qEnvironmentVariableIsEmpty("KR_KEEP_TEST_DIRS"))
        QDir(KRTest::g_sandboxDir).removeRecursively();
    return rc;
}

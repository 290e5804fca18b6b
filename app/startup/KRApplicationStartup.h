#pragma once

#include <app/KRApplicationDelegate.h>

#include <QStringList>

#include <memory>
#include <optional>

// The application as main() makes it, and as the application-level tests start it: the process
// settings QtWebEngine reads before the application object exists, then every service, factory
// and window hook the product needs (alerts, proxy prompt, the project windows, the design
// surface's web views, the runtime server), the application delegate with its launch, and the
// projects named on the command line. Main thread only.
class KRApplicationStartup
{
public:
    // What the command line asks for: the projects to open, or a text to print and the exit
    // status (--help, --version, a bad option).
    struct Arguments {
        QStringList projects; // absolute package paths
        std::optional<QString> answer;
        int exitStatus = 0;
    };
    static Arguments parseArguments(const QStringList &arguments);

    // Before the QApplication exists.
    static void prepareProcess();
    // After the QApplication exists: the services (once per process), then the delegate, whose
    // launch runs on the first pass of the event loop and opens the projects (none: the blank
    // project and the gallery a second later). A caller that makes no web view before the
    // event loop runs (main()) leaves the web engine's start to the launch (see
    // KRApplicationDelegate::WebEngineStart).
    explicit KRApplicationStartup(const QStringList &projects = {},
                                  KRApplicationDelegate::WebEngineStart webEngine = KRApplicationDelegate::WebEngineStart::AtOnce);
    // Windows and documents go while the application object still exists.
    ~KRApplicationStartup();

    KRApplicationDelegate &delegate() const { return *m_delegate; }

    // The whole run: prepareProcess, the application object, the command line, the event loop.
    static int main(int argc, char *argv[]);

private:
    static void installServices(KRApplicationDelegate::WebEngineStart webEngine);

    std::unique_ptr<KRApplicationDelegate> m_delegate;
};

#pragma once

#include <core/KRNodeRunnerDelegate.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringDecoder>
#include <QUrl>

#include <functional>
#include <memory>

class QProcess;

// Launches one local runtime server ("local-server/kr-local-runtime.js" on the machine's
// node) as a child process, learns the port it listens on and the run's token from the first
// JSON object it prints ({"port": N, "token": "..."}), keeps it alive with a line "alive\n"
// on its standard input every second (written by a background thread, so a busy main thread
// does not starve the server), forwards what it prints, and stops it.
//
// The server answers control requests (terminate, syntax check, minify) only with the token,
// sent in the header named by tokenHeaderName; tokenForPort() finds it for the clients.
//
// A server that ends by itself after its hand-shake (a crash, a kill from outside) is logged
// and started again, asking for the same port; the new port and token are reported like the
// first ones. A server that keeps dying is given up after a few quick restarts.
//
// The child's environment holds exactly NODE_PATH (the local-server folder's node_modules)
// and KR_DBDIR (the "Local Databases" folder of the application-support folder). A server
// that cannot be launched, a database folder that cannot be made and a malformed hand-shake
// are logged and leave the runner without a port (-1); callers treat that as the server
// being unavailable. Every server this process started is ended when the application quits
// (or when its runner is destroyed), whatever became of a terminate request.
//
// Main thread only.
class KRNodeRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 defaultRequestedPortNumber = 42069;

    // Sends POST `url` with `token` in the header tokenHeaderName, without blocking, and
    // calls `completion` on the main thread when the request has finished, successfully or
    // not. The HTTP client registers one at start-up.
    using TerminateRequestSender =
        std::function<void(const QUrl &url, const QByteArray &token, std::function<void()> completion)>;

    static constexpr const char *tokenHeaderName = "X-Korvane-Token";
    // Quick restarts allowed within restartWindowMilliseconds before the runner gives up.
    static constexpr int maximumRestarts = 3;
    static constexpr int restartWindowMilliseconds = 60000;

    explicit KRNodeRunner(QObject *parent = nullptr);
    ~KRNodeRunner() override;

    QString documentRootPath() const { return m_documentRootPath; }
    void setDocumentRootPath(const QString &path) { m_documentRootPath = path; }
    qint64 requestedPortNumber() const { return m_requestedPortNumber; }
    void setRequestedPortNumber(qint64 port) { m_requestedPortNumber = port; }
    // The name under "localhost" ("<label>.localhost") under which the server serves its
    // document root, giving the site an origin of its own; empty (the default): 127.0.0.1
    // and localhost. The server refuses to start with anything else. Set before start().
    QString siteHostName() const { return m_siteHostName; }
    void setSiteHostName(const QString &name) { m_siteHostName = name; }
    KRNodeRunnerDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRNodeRunnerDelegate *delegate) { m_delegate = delegate; }

    // Launches the server. A runner is started once.
    void start();
    // The port the server reported. While none has been reported the call waits for up to
    // three seconds, running the event loop (re-entrantly) so the hand-shake can arrive; -1
    // means the server is unavailable. The queries made while a server starts share one such
    // wait: once it is over they answer -1 at once, until the server reports its port (the
    // delegate and handshakeFinished tell when) or is started again.
    qint64 portNumber();
    // Whether the runner has a server process that is starting or running and has not been
    // stopped, given up or refused (a server that died is started again and still counts).
    bool isRunning() const;
    // The token of the running server (after portNumber() gave a port); empty when none.
    QByteArray token() const { return m_token; }
    // The token of the server this process started that listens on `port`, or empty. Any
    // thread.
    static QByteArray tokenForPort(qint64 port);
    // Ends the server politely: with a known port through POST /__kr_terminate (the process is
    // ended when the request completes), otherwise at once. The port value is kept.
    void stop();
    // Forgets the port and ends the process at once.
    void terminate();

    // The seam to the HTTP client for stop(). Without a sender, stop() ends the process at once.
    static void setTerminateRequestSender(TerminateRequestSender sender);
    // Shows the alert titled "Error" with one "OK" button when a server cannot be launched
    // (the application shell registers one; without it the failure is only logged).
    using LaunchFailureAlert = std::function<void(const QString &message)>;
    static void setLaunchFailureAlert(LaunchFailureAlert alert);

    // Ends every server process this process started and that still runs; connected to the
    // application's aboutToQuit.
    static void endAllServers();

    // The absolute path of the node executable, or empty when there is none.
    static QString nodeExecutablePath();
    // The "local-server" resource folder (script, libraries, node_modules).
    static QString localServerPath();

signals:
    void handshakeFinished();

private:
    struct KeepAlive;

    void launch(qint64 requestedPort);
    void restartAfterUnexpectedEnd();
    void forgetToken();
    void readStandardOutput();
    void handleHandshake(QString &text);
    void failHandshake(const QString &message);
    void failLaunch(const QString &message);
    void processFinished();
    void releaseProcess();
    static void scheduleKeepAlive(const std::weak_ptr<KeepAlive> &keepAlive, int delayMilliseconds);

    QString m_documentRootPath;
    qint64 m_requestedPortNumber = defaultRequestedPortNumber;
    QString m_siteHostName;
    qint64 m_portNumber = -1;
    QByteArray m_token;
    QList<qint64> m_restartTimes; // milliseconds since the epoch
    QDeadlineTimer m_portWait{QDeadlineTimer::Forever}; // the queries' shared wait for the hand-shake
    bool m_portWaitStarted = false;
    KRNodeRunnerDelegate *m_delegate = nullptr;

    QPointer<QProcess> m_task; // owned by the process registry, which outlives stop()
    std::shared_ptr<KeepAlive> m_keepAlive;
    QStringDecoder m_stdoutDecoder{QStringDecoder::Utf8};
    QString m_stdoutString;
    bool m_started = false;
    bool m_stopped = false;
    bool m_handshakeFailed = false;
};

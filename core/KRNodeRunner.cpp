#include <core/KRNodeRunner.h>

#include <core/KRChildProcess.h>
#include <core/KRJSONSerialization.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int keepAliveIntervalMilliseconds = 1000;
constexpr int portWaitMilliseconds = 3000;
constexpr int portWaitStepMilliseconds = 250;
// A server still running this long after it was asked to end is killed.
constexpr int endGraceMilliseconds = 3000;
constexpr qsizetype maximumHandshakeLength = 65536;

// Set on a server process this process ends itself: its end is no failure.
constexpr const char *endedOnPurposeProperty = "kr_endedOnPurpose";

// The serial queue on which every runner's keep-alive steps run, one background thread
// shared by all runners ("com.korvane._asyncKeepAliveQueue").
class KeepAliveQueue
{
public:
    using Clock = std::chrono::steady_clock;

    static KeepAliveQueue &shared()
    {
        static KeepAliveQueue queue;
        return queue;
    }

    void schedule(std::function<void()> step, std::chrono::milliseconds delay)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_steps.emplace(Clock::now() + delay, std::move(step));
        }
        m_wake.notify_one();
    }

    ~KeepAliveQueue()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            m_steps.clear();
        }
        m_wake.notify_one();
        m_thread.join();
    }

private:
    KeepAliveQueue()
    {
        // Made first, so the run log outlives this queue's thread at exit.
        KRRunLogger::sharedInstance();
        m_thread = std::thread([this] { run(); });
    }

    void run()
    {
        pthread_setname_np(pthread_self(), "kr-keepalive");
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10); // background priority
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            if (m_steps.empty()) {
                m_wake.wait(lock);
                continue;
            }
            auto first = m_steps.begin();
            const Clock::time_point due = first->first; // a copy: the map may change while waiting
            if (due > Clock::now()) {
                m_wake.wait_until(lock, due);
                continue;
            }
            std::function<void()> step = std::move(first->second);
            m_steps.erase(first);
            lock.unlock();
            step();
            step = nullptr; // release what the step held before taking the lock again
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Clock::time_point, std::function<void()>> m_steps;
    bool m_stopping = false;
    std::thread m_thread;
};

// Every server process started here, until it has ended. Owns the QProcess objects, so a
// process outlives the runner that stopped it while its terminate request is on its way.
class ProcessRegistry : public QObject
{
public:
    static ProcessRegistry &shared()
    {
        static QPointer<ProcessRegistry> registry;
        if (!registry) {
            registry = new ProcessRegistry(QCoreApplication::instance());
            if (QCoreApplication::instance()) {
                QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                                 registry, [] { KRNodeRunner::endAllServers(); });
            }
        }
        return *registry;
    }

    void add(QProcess *process)
    {
        process->setParent(this);
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    }

    // Asks the process to end; kills it, with the script processes it started, when it has
    // not ended after a grace period.
    void end(QProcess *process)
    {
        if (!process || process->state() == QProcess::NotRunning) {
            if (process)
                process->deleteLater();
            return;
        }
        process->setProperty(endedOnPurposeProperty, true);
        process->terminate();
        QPointer<QProcess> guard(process);
        QTimer::singleShot(endGraceMilliseconds, this, [guard] {
            if (guard && guard->state() != QProcess::NotRunning)
                killGroup(guard);
        });
    }

    void endAll()
    {
        const auto processes = findChildren<QProcess *>(Qt::FindDirectChildrenOnly);
        for (QProcess *process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->setProperty(endedOnPurposeProperty, true);
                killGroup(process);
                process->waitForFinished(1000);
            }
        }
    }

    // A server leads a process group of its own (see launch()), which holds the processes
    // that run its page scripts. Only while the server has not been reaped is the group id
    // surely still its own.
    static void killGroup(QProcess *process)
    {
        const qint64 pid = process->processId();
        if (pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
        process->kill();
    }

    ~ProcessRegistry() override { endAll(); }

private:
    using QObject::QObject;
};

KRNodeRunner::TerminateRequestSender &terminateRequestSender()
{
    static KRNodeRunner::TerminateRequestSender sender;
    return sender;
}

KRNodeRunner::LaunchFailureAlert &launchFailureAlert()
{
    static KRNodeRunner::LaunchFailureAlert alert;
    return alert;
}

// The tokens of the running servers this process started, by port.
std::mutex &tokenLock()
{
    static std::mutex lock;
    return lock;
}

std::map<qint64, QByteArray> &tokensByPort()
{
    static std::map<qint64, QByteArray> tokens;
    return tokens;
}

// What a token may hold: it travels in a header.
bool plausibleToken(const QString &token)
{
    if (token.isEmpty() || token.size() > 256)
        return false;
    for (QChar c : token) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'-' && c != u'_')
            return false;
    }
    return true;
}

bool onlyBlanksAndLineBreaks(QStringView text)
{
    for (QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n' && c != u'\r')
            return false;
    }
    return true;
}

} // namespace

// What the keep-alive steps share with their runner: the writing end of the server's standard
// input and whether the process runs. Steps hold it weakly; when the runner lets go of it the
// writing end closes, the server reads end of file and exits.
struct KRNodeRunner::KeepAlive
{
    std::mutex mutex;
    int stdinDescriptor = -1;
    std::atomic<bool> processRunning{false};
    std::atomic<bool> stopping{false}; // ended on purpose: no watchdog report

    void closeInput()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stdinDescriptor >= 0) {
            ::close(stdinDescriptor);
            stdinDescriptor = -1;
        }
    }

    ~KeepAlive() { closeInput(); }
};

KRNodeRunner::KRNodeRunner(QObject *parent)
    : QObject(parent)
    , m_documentRootPath(localServerPath())
{
}

KRNodeRunner::~KRNodeRunner()
{
    forgetToken();
    if (m_task) {
        disconnect(m_task, nullptr, this, nullptr);
        ProcessRegistry::shared().end(m_task);
        m_task = nullptr;
    }
    m_keepAlive.reset();
}

QString KRNodeRunner::nodeExecutablePath()
{
    const QString path = QStandardPaths::findExecutable(QStringLiteral("node"));
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

QString KRNodeRunner::localServerPath()
{
    return KRResources::pathForResource(QStringLiteral("local-server"));
}

void KRNodeRunner::setTerminateRequestSender(TerminateRequestSender sender)
{
    terminateRequestSender() = std::move(sender);
}

void KRNodeRunner::setLaunchFailureAlert(LaunchFailureAlert alert)
{
    launchFailureAlert() = std::move(alert);
}

void KRNodeRunner::failLaunch(const QString &message)
{
    KR_LOG(message);
    if (const LaunchFailureAlert &alert = launchFailureAlert())
        alert(message);
}

void KRNodeRunner::endAllServers()
{
    ProcessRegistry::shared().endAll();
}

QByteArray KRNodeRunner::tokenForPort(qint64 port)
{
    std::lock_guard<std::mutex> lock(tokenLock());
    const auto found = tokensByPort().find(port);
    return found == tokensByPort().end() ? QByteArray() : found->second;
}

void KRNodeRunner::forgetToken()
{
    if (m_token.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(tokenLock());
    const auto found = tokensByPort().find(m_portNumber);
    if (found != tokensByPort().end() && found->second == m_token)
        tokensByPort().erase(found);
}

bool KRNodeRunner::isRunning() const
{
    return m_started && !m_stopped && !m_handshakeFailed && !m_task.isNull();
}

void KRNodeRunner::start()
{
    if (m_started) {
        KR_LOG(QStringLiteral("A local server runner is started only once"));
        return;
    }
    m_started = true;
    KR_LOG(QString());
    std::signal(SIGPIPE, SIG_IGN); // the keep-alive writes to a pipe whose reader may be gone
    launch(m_requestedPortNumber);
}

void KRNodeRunner::launch(qint64 requestedPort)
{
    const QString serverFolder = localServerPath();
    const QString node = nodeExecutablePath();
    if (node.isEmpty()) {
        failLaunch(QStringLiteral("Unable to launch background node process: %1")
                   .arg(QStringLiteral("no node executable found")));
        return;
    }

    QProcessEnvironment environment;
    environment.insert(QStringLiteral("NODE_PATH"), QDir(serverFolder).filePath(QStringLiteral("node_modules")));
    const QString supportFolder = KRPaths::applicationSupportDirectory();
    const QString databaseFolder = QDir(supportFolder).filePath(QStringLiteral("Local Databases"));
    const QFileInfo databaseInfo(databaseFolder);
    if (supportFolder.isEmpty()) {
        failLaunch(QStringLiteral("Error creating directory: %1, %2")
                   .arg(databaseFolder, QStringLiteral("the application-support folder is unavailable")));
        return;
    }
    if (databaseInfo.exists() || databaseInfo.isSymLink()) {
        if (!databaseInfo.isDir()) {
            failLaunch(QStringLiteral("Path %1 exists, but is not a directory").arg(databaseFolder));
            return;
        }
    } else if (!QDir().mkpath(databaseFolder)) {
        failLaunch(QStringLiteral("Error creating directory: %1, %2")
                   .arg(databaseFolder, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    environment.insert(QStringLiteral("KR_DBDIR"), databaseFolder);

    // Standard input is a pipe of our own, not QProcess's, so the background keep-alive
    // thread can write to it. Both ends are close-on-exec; the child gets the reading end
    // as its standard input.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        failLaunch(QStringLiteral("Unable to launch background node process: %1")
                   .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const int readEnd = fds[0];
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);

    auto *process = new QProcess();
    process->setProgram(node);
    QStringList arguments{QDir(serverFolder).filePath(QStringLiteral("kr-local-runtime.js")), m_documentRootPath,
                          QString::number(requestedPort)};
    if (!m_siteHostName.isEmpty())
        arguments << m_siteHostName;
    process->setArguments(arguments);
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(serverFolder);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    // Of this process's descriptors the server gets only its standard input, output and error,
    // and so do the script processes it starts.
    KRChildProcess::setChildProcessModifier(*process, [readEnd] {
        // A process group of its own, so the server is ended together with its script
        // processes.
        ::setpgid(0, 0);
        // (When this process had no standard input, the pipe may already be descriptor 0.)
        if (readEnd == STDIN_FILENO)
            ::fcntl(STDIN_FILENO, F_SETFD, 0);
        else
            ::dup2(readEnd, STDIN_FILENO);
    });
    ProcessRegistry::shared().add(process);

    m_keepAlive = std::make_shared<KeepAlive>();
    m_keepAlive->stdinDescriptor = fds[1];
    m_task = process;

    connect(process, &QProcess::readyReadStandardOutput, this, &KRNodeRunner::readStandardOutput);
    connect(process, &QProcess::readyReadStandardError, this, [process] { process->readAllStandardError(); });
    connect(process, &QProcess::finished, this, &KRNodeRunner::processFinished);
    const std::weak_ptr<KeepAlive> weakKeepAlive = m_keepAlive;
    connect(process, &QProcess::finished, process, [weakKeepAlive] {
        if (const auto keepAlive = weakKeepAlive.lock())
            keepAlive->processRunning = false;
    });

    process->start();
    const bool launched = process->waitForStarted(5000);
    ::close(readEnd);
    if (!launched) {
        failLaunch(QStringLiteral("Unable to launch background node process: %1").arg(process->errorString()));
        releaseProcess();
        m_keepAlive.reset();
        ProcessRegistry::shared().end(process);
        emit handshakeFinished();
        return;
    }
    m_keepAlive->processRunning = true;
    scheduleKeepAlive(m_keepAlive, 0);
}

void KRNodeRunner::scheduleKeepAlive(const std::weak_ptr<KeepAlive> &weakKeepAlive, int delayMilliseconds)
{
    KeepAliveQueue::shared().schedule(
        [weakKeepAlive] {
            const std::shared_ptr<KeepAlive> keepAlive = weakKeepAlive.lock();
            if (!keepAlive)
                return;
            bool processGone = false;
            {
                std::lock_guard<std::mutex> lock(keepAlive->mutex);
                if (keepAlive->stopping || keepAlive->stdinDescriptor < 0)
                    return;
                processGone = !keepAlive->processRunning;
            }
            if (!processGone) {
                std::lock_guard<std::mutex> lock(keepAlive->mutex);
                if (keepAlive->stdinDescriptor < 0)
                    return;
                static const char line[] = "alive\n";
                const ssize_t written = ::write(keepAlive->stdinDescriptor, line, sizeof line - 1);
                if (written < 0 && errno == EPIPE) {
                    processGone = true;
                } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
                    KR_LOG(QStringLiteral("Exception writing keep-alive: %1")
                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
                    return;
                }
            }
            if (processGone)
                return; // the runner reports the end (processFinished)
            scheduleKeepAlive(weakKeepAlive, keepAliveIntervalMilliseconds);
        },
        std::chrono::milliseconds(delayMilliseconds));
}

void KRNodeRunner::readStandardOutput()
{
    if (!m_task)
        return;
    QString text = m_stdoutDecoder.decode(m_task->readAllStandardOutput());
    if (m_portNumber == -1 && !m_handshakeFailed && !m_stopped)
        handleHandshake(text);
    if (m_delegate)
        m_delegate->nodeRunner(this, text);
}

// Gathers output until the first "}" and reads the hand-shake object from it. On success
// `text` becomes what followed the object in this chunk ("" when only line breaks did).
void KRNodeRunner::handleHandshake(QString &text)
{
    m_stdoutString += text;
    const qsizetype open = m_stdoutString.indexOf(u'{');
    const QStringView before = QStringView(m_stdoutString).left(open < 0 ? m_stdoutString.size() : open);
    if (!onlyBlanksAndLineBreaks(before)) {
        failHandshake(QStringLiteral("Error reading port number from local server: %1")
                          .arg(QStringLiteral("unexpected text before the port object")));
        return;
    }
    const qsizetype close = m_stdoutString.indexOf(u'}');
    if (close < 0) {
        if (m_stdoutString.size() > maximumHandshakeLength)
            failHandshake(QStringLiteral("Error reading port number from local server: %1")
                              .arg(QStringLiteral("no end of the port object")));
        return;
    }
    if (open < 0 || open > close) {
        failHandshake(QStringLiteral("Error reading port number from local server: %1")
                          .arg(QStringLiteral("unexpected text before the port object")));
        return;
    }
    const KRResult<QJsonDocument> read = KRJSONSerialization::readDocument(m_stdoutString.left(close + 1).toUtf8());
    if (!read || !read.value().isObject()) {
        failHandshake(QStringLiteral("Error reading port number from local server: %1")
                          .arg(!read ? read.error().message() : QStringLiteral("not an object")));
        return;
    }
    const QJsonDocument &document = read.value();
    const QJsonValue port = document.object().value(QStringLiteral("port"));
    if (!port.isDouble()) {
        failHandshake(QStringLiteral("Error reading port number from local server, no port key"));
        return;
    }
    const QJsonValue token = document.object().value(QStringLiteral("token"));
    if (!token.isUndefined() && !(token.isString() && plausibleToken(token.toString()))) {
        failHandshake(QStringLiteral("Error reading port number from local server: %1")
                          .arg(QStringLiteral("invalid token")));
        return;
    }
    const double value = port.toDouble();
    if (value < 1 || value > 65535 || value != static_cast<double>(static_cast<qint64>(value))) {
        failHandshake(QStringLiteral("Error reading port number from local server: %1")
                          .arg(QStringLiteral("invalid port %1").arg(value)));
        return;
    }
    const QString rest = m_stdoutString.mid(close + 1);
    m_stdoutString.clear();
    m_stdoutString.squeeze();
    m_portNumber = static_cast<qint64>(value);
    m_token = token.toString().toLatin1();
    if (!m_token.isEmpty()) {
        std::lock_guard<std::mutex> lock(tokenLock());
        tokensByPort()[m_portNumber] = m_token;
    }
    emit handshakeFinished();
    if (m_delegate)
        m_delegate->nodeRunner(this, m_portNumber);
    if (onlyBlanksAndLineBreaks(rest)) {
        text.clear();
    } else {
        text = rest;
        if (text.startsWith(u"\r\n"))
            text.remove(0, 2);
        else if (text.startsWith(u'\n'))
            text.remove(0, 1);
    }
}

void KRNodeRunner::failHandshake(const QString &message)
{
    KR_LOG(message);
    m_handshakeFailed = true;
    m_stdoutString.clear();
    emit handshakeFinished();
}

void KRNodeRunner::processFinished()
{
    if (m_keepAlive)
        m_keepAlive->processRunning = false;
    if (m_task)
        readStandardOutput(); // the last chunk
    const bool unexpected = !m_stopped && m_task && !m_task->property(endedOnPurposeProperty).toBool();
    if (unexpected && m_portNumber != -1) {
        restartAfterUnexpectedEnd();
        return;
    }
    if (unexpected)
        KR_LOG(QStringLiteral("node watchdog failure: the local runtime server ended before it reported a port"));
    emit handshakeFinished(); // no port will come any more
}

void KRNodeRunner::restartAfterUnexpectedEnd()
{
    QProcess *ended = m_task;
    const QString how = ended->exitStatus() == QProcess::CrashExit
                            ? QStringLiteral("it crashed or was killed")
                            : QStringLiteral("exit code %1").arg(ended->exitCode());
    const qint64 previousPort = m_portNumber;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    m_restartTimes.removeIf([now](qint64 time) { return now - time > restartWindowMilliseconds; });

    forgetToken();
    releaseProcess();
    m_keepAlive.reset();
    m_portNumber = -1;
    m_token.clear();
    m_stdoutString.clear();
    m_stdoutDecoder.resetState();

    if (m_restartTimes.size() >= maximumRestarts) {
        KR_LOG(QStringLiteral("node watchdog failure: the local runtime server on port %1 ended (%2) "
                              "and has ended %3 times within a minute; it is not started again")
                   .arg(previousPort)
                   .arg(how)
                   .arg(m_restartTimes.size() + 1));
        m_stopped = true;
        emit handshakeFinished();
        return;
    }
    m_restartTimes.append(now);
    m_portWaitStarted = false; // a new server: queries may wait for it again
    KR_LOG(QStringLiteral("node watchdog failure: the local runtime server on port %1 ended (%2); starting it again")
               .arg(previousPort)
               .arg(how));
    launch(previousPort);
}

qint64 KRNodeRunner::portNumber()
{
    if (m_portNumber != -1)
        return m_portNumber;
    // One wait for every query of this start: a slow server holds the application up once,
    // not once per library address of every page.
    if (!m_portWaitStarted) {
        m_portWaitStarted = true;
        m_portWait.setRemainingTime(portWaitMilliseconds);
    }
    while (m_portNumber == -1 && !m_portWait.hasExpired()) {
        // Nothing more can come once the server has ended, refused or was stopped; a runner
        // not yet started may still be started by a queued call, so it is waited for.
        if (m_stopped || m_handshakeFailed || (m_started && !m_task)
            || (m_task && m_task->state() == QProcess::NotRunning && m_started))
            break;
        QEventLoop loop;
        const auto step = int(std::clamp<qint64>(m_portWait.remainingTime(), 1, portWaitStepMilliseconds));
        QTimer::singleShot(step, &loop, &QEventLoop::quit);
        connect(this, &KRNodeRunner::handshakeFinished, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::AllEvents);
    }
    return m_portNumber;
}

void KRNodeRunner::releaseProcess()
{
    if (m_task)
        disconnect(m_task, nullptr, this, nullptr);
    m_task = nullptr;
}

void KRNodeRunner::stop()
{
    m_stopped = true;
    forgetToken();
    QProcess *process = m_task;
    std::shared_ptr<KeepAlive> keepAlive = std::move(m_keepAlive);
    if (keepAlive)
        keepAlive->stopping = true;
    releaseProcess();
    if (!process)
        return;
    const TerminateRequestSender &sender = terminateRequestSender();
    if (m_portNumber != -1 && sender) {
        // The keep-alive goes on until the process ends, so the server answers the request
        // instead of leaving on its own watchdog.
        QPointer<QProcess> guard(process);
        sender(QUrl(QStringLiteral("http://127.0.0.1:%1/__kr_terminate").arg(m_portNumber)), m_token,
               [guard, keepAlive] {
                   if (keepAlive)
                       keepAlive->closeInput();
                   if (guard)
                       ProcessRegistry::shared().end(guard);
               });
        return;
    }
    if (keepAlive)
        keepAlive->closeInput();
    ProcessRegistry::shared().end(process);
}

void KRNodeRunner::terminate()
{
    forgetToken();
    m_token.clear();
    m_portNumber = -1;
    m_stopped = true;
    QProcess *process = m_task;
    releaseProcess();
    if (m_keepAlive) {
        m_keepAlive->stopping = true;
        m_keepAlive->closeInput();
        m_keepAlive.reset();
    }
    if (process)
        ProcessRegistry::shared().end(process);
    emit handshakeFinished();
}

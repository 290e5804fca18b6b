#include "KRNodeTestSupport.h"

#include <KRTestSupport.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>
#include <vector>

namespace KRNodeTest {

Response request(qint64 port, const QByteArray &method, const QByteArray &path,
                 const QByteArray &body, const QByteArray &contentType, const Headers &headers,
                 int timeoutMilliseconds)
{
    Response response;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    if (!socket.waitForConnected(5000))
        return response;
    QByteArray head = method + ' ' + path + " HTTP/1.0\r\nConnection: close\r\n";
    bool host = false;
    for (const auto &[name, value] : headers) {
        head += name + ": " + value + "\r\n";
        host = host || name.compare("host", Qt::CaseInsensitive) == 0;
    }
    if (!host)
        head += "Host: 127.0.0.1\r\n";
    if (!body.isEmpty() || method == "POST")
        head += "Content-Type: " + contentType + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    socket.write(head + "\r\n" + body);
    QByteArray raw;
    QElapsedTimer timer;
    timer.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && timer.elapsed() < timeoutMilliseconds) {
        socket.waitForReadyRead(250);
        raw += socket.readAll();
    }
    raw += socket.readAll();
    const qsizetype split = raw.indexOf("\r\n\r\n");
    if (split < 0)
        return response;
    const QList<QByteArray> lines = raw.left(split).split('\n');
    response.statusLine = lines.value(0).trimmed();
    const QList<QByteArray> status = response.statusLine.split(' ');
    response.status = status.value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    response.body = raw.mid(split + 4);
    return response;
}

qint64 reportedPort(KRNodeRunner &runner)
{
    qint64 port = -1;
    KRTest::processEventsUntil([&] { return (port = runner.portNumber()) > 0 || !runner.isRunning(); },
                               std::chrono::seconds(60));
    return port;
}

static int g_completedTerminateRequests = 0;

int completedTerminateRequests()
{
    return g_completedTerminateRequests;
}

void installSocketTerminateSender(QList<QUrl> *sentURLs)
{
    KRNodeRunner::setTerminateRequestSender([sentURLs](const QUrl &url, const QByteArray &token,
                                                       std::function<void()> completion) {
        if (sentURLs)
            sentURLs->append(url);
        auto *socket = new QTcpSocket();
        auto done = std::make_shared<bool>(false);
        auto finish = [socket, done, completion] {
            if (*done)
                return;
            *done = true;
            ++g_completedTerminateRequests;
            socket->deleteLater();
            completion();
        };
        QObject::connect(socket, &QTcpSocket::connected, socket, [socket, url, token] {
            socket->write("POST " + url.path().toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                          + KRNodeRunner::tokenHeaderName + ": " + token + "\r\nContent-Length: 0\r\n\r\n");
        });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, finish);
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, finish);
        socket->connectToHost(url.host(), static_cast<quint16>(url.port()));
    });
}

QList<QByteArray> processStatFields(qint64 pid)
{
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

bool processAlive(qint64 pid)
{
    if (pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0)
        return false;
    // A zombie is gone for our purposes.
    const QList<QByteArray> fields = processStatFields(pid);
    return !fields.isEmpty() && fields.first() != "Z";
}

bool waitForProcessExit(qint64 pid, int milliseconds)
{
    return KRTest::processEventsUntil([pid] { return !processAlive(pid); }, std::chrono::milliseconds(milliseconds));
}

bool portAcceptsConnections(qint64 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
    return socket.waitForConnected(2000);
}

qint64 serverProcessFor(const QString &root)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toLongLong() <= 0 || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.size() > 2 && arguments[1].endsWith("kr-local-runtime.js") && arguments[2] == QFile::encodeName(root))
            return entry.toLongLong();
    }
    return 0;
}

qint64 peakResidentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qint64 processorMs(qint64 pid)
{
    const QList<QByteArray> fields = processStatFields(pid);
    if (fields.size() < 13)
        return -1;
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 / ::sysconf(_SC_CLK_TCK);
}

std::map<qint64, qint64> processorMsBelow(qint64 pid)
{
    std::map<qint64, qint64> used;
    std::vector<qint64> pending{pid};
    while (!pending.empty()) {
        const qint64 parent = pending.back();
        pending.pop_back();
        const QString tasks = QStringLiteral("/proc/%1/task").arg(parent);
        for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + QLatin1Char('/') + task + QStringLiteral("/children"));
            if (!children.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &child : children.readAll().simplified().split(' ')) {
                const qint64 id = child.toLongLong();
                const qint64 ms = id > 0 && !used.count(id) ? processorMs(id) : -1;
                if (ms < 0)
                    continue;
                used[id] = ms;
                pending.push_back(id);
            }
        }
    }
    return used;
}

QString projectStoreFile(const QString &documentRoot)
{
    const QString databases = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Korvane/Local Databases");
    const QString root = QFileInfo(documentRoot).canonicalFilePath();
    QDirIterator stores(databases, {QStringLiteral("storage.json")}, QDir::Files, QDirIterator::Subdirectories);
    while (stores.hasNext()) {
        const QString file = stores.next();
        QFile store(file);
        if (store.open(QIODevice::ReadOnly)
            && QJsonDocument::fromJson(store.readAll()).object().value(QStringLiteral("root")).toString() == root)
            return file;
    }
    return {};
}

QByteArray runNode(const QByteArray &script)
{
    QProcess node;
    node.setProgram(KRNodeRunner::nodeExecutablePath());
    node.setArguments({QStringLiteral("-e"), QString::fromUtf8(script)});
    node.start();
    // Only a script that hangs is given up: a busy machine may keep one from the processor for
    // many seconds.
    if (!node.waitForFinished(60000)) {
        node.kill();
        node.waitForFinished(2000);
        ADD_FAILURE() << "node did not finish";
    }
    return node.readAllStandardOutput();
}

QJsonObject runHostileClients(const QStringList &arguments, int timeoutMilliseconds)
{
    QProcess node;
    node.setProgram(KRNodeRunner::nodeExecutablePath());
    node.setArguments(QStringList{QStringLiteral(KR_SOURCE_DIR "/resources/local-server/test/hostile-clients.js")}
                      + arguments);
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start();
    QElapsedTimer timer;
    timer.start();
    while (node.state() != QProcess::NotRunning && timer.elapsed() < timeoutMilliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        node.waitForFinished(50);
    }
    if (node.state() != QProcess::NotRunning) {
        node.kill();
        node.waitForFinished(2000);
        ADD_FAILURE() << "the clients did not finish within " << timeoutMilliseconds << " ms";
    }
    const QByteArray output = node.readAllStandardOutput();
    const QJsonObject result = QJsonDocument::fromJson(output).object();
    if (result.isEmpty() || result.contains(QStringLiteral("error")))
        ADD_FAILURE() << "the clients printed: " << output.constData();
    return result;
}

} // namespace KRNodeTest

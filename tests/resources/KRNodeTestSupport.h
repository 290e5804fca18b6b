#pragma once

#include <core/KRNodeRunner.h>

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <map>

namespace KRNodeTest {

// Records what a runner reports.
class RecordingDelegate : public KRNodeRunnerDelegate
{
public:
    void nodeRunner(KRNodeRunner *, qint64 startedOnPort) override { ports.append(startedOnPort); }
    void nodeRunner(KRNodeRunner *, const QString &text) override { messages.append(text); }

    QList<qint64> ports;
    QStringList messages;
};

struct Response
{
    int status = 0; // 0: no answer
    QByteArray statusLine; // "HTTP/1.1 200 OK"
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

// One HTTP/1.0 exchange with 127.0.0.1:port; the path is sent exactly as given, with "Host:
// 127.0.0.1" unless `headers` names a Host. Waits at most `timeoutMilliseconds`.
Response request(qint64 port, const QByteArray &method, const QByteArray &path,
                 const QByteArray &body = {}, const QByteArray &contentType = "application/json",
                 const Headers &headers = {}, int timeoutMilliseconds = 10000);

// The port the runner's server reports once it has started, or -1 when it stops or refuses
// first. Waits as long as a busy machine takes to start node, not the application's bounded
// wait of portNumber().
qint64 reportedPort(KRNodeRunner &runner);

// Registers a terminate-request sender that sends the POST with a plain socket and records
// the addresses it was given.
void installSocketTerminateSender(QList<QUrl> *sentURLs = nullptr);
// How many requests of that sender have completed so far.
int completedTerminateRequests();

// The fields of the process's /proc/<pid>/stat after its name (its state first, then its
// parent's id, ...), or none once it has gone.
QList<QByteArray> processStatFields(qint64 pid);
// Whether a process with this id exists (and is no zombie of ours).
bool processAlive(qint64 pid);
// Waits (bounded) until the process has gone.
bool waitForProcessExit(qint64 pid, int milliseconds = 10000);
// Whether something accepts connections on 127.0.0.1:port.
bool portAcceptsConnections(qint64 port);

// The runtime server process serving `root`, or 0.
qint64 serverProcessFor(const QString &root);
// The most memory the process has held so far (VmHWM), in KiB; -1 when unknown.
qint64 peakResidentKiB(qint64 pid);
// The processor time the process has used so far, all its threads together, in milliseconds;
// -1 once it has gone.
qint64 processorMs(qint64 pid);
// The processor time each process below `pid` (its children, theirs, ...) has used so far, all
// its threads together, in milliseconds, by process id.
std::map<qint64, qint64> processorMsBelow(qint64 pid);

// The file in which the server keeps the stored items of the project at `documentRoot` (found
// by the root it names), or "" when there is none yet.
QString projectStoreFile(const QString &documentRoot);

// Runs `node -e script`; returns its standard output.
QByteArray runNode(const QByteArray &script);

// Runs the server's load clients (resources/local-server/test/hostile-clients.js) with
// `arguments`, processing events meanwhile so that the runner goes on reading its server's
// output; returns the JSON object they print (empty when they printed none in time).
QJsonObject runHostileClients(const QStringList &arguments, int timeoutMilliseconds = 90000);

} // namespace KRNodeTest

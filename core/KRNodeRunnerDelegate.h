#pragma once

#include <QString>
#include <QtGlobal>

class KRNodeRunner;

// Told what a local runtime server reports. Called on the main thread. The runner does not
// own its delegate: the owner clears the delegate before releasing the runner.
class KRNodeRunnerDelegate
{
public:
    virtual ~KRNodeRunnerDelegate() = default;

    // When the server has reported the port it listens on: once per start, so again after the
    // runner has started a server that died.
    virtual void nodeRunner(KRNodeRunner *runner, qint64 startedOnPort) = 0;
    // For each piece of the server's standard output (the text completing the hand-shake
    // is forwarded without the hand-shake itself).
    virtual void nodeRunner(KRNodeRunner *runner, const QString &receivedTextMessage) = 0;
};

#pragma once

#include <QByteArray>
#include <QUrl>

#include <functional>

// Connects the local runtime server runner to the HTTP client: the runner's polite stop sends
// POST /__kr_terminate with the server's token through an asynchronous NetHTTPRequest. The runner's completion runs
// once, on the main thread, whether the request succeeded or failed (refused connection,
// time-out), so a failed terminate request still ends the server process.
class NetRuntimeServerSupport
{
public:
    // Registers the sender with KRNodeRunner (replacing any earlier one). Call once at start-up.
    static void install();

    // The registered sender: POST `url` with `token` asynchronously, then `completion` exactly
    // once on the main thread, on success or failure.
    static void sendTerminateRequest(const QUrl &url, const QByteArray &token, std::function<void()> completion);

    // Seconds a terminate request may take before it counts as failed.
    static constexpr double terminateTimeOutSeconds = 5.0;
};

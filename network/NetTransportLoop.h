#pragma once

#include <curl/curl.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

class NetHTTPRequest;

// One curl multi handle and the requests running on it, driven by whichever thread calls
// runOnce(): the network thread for asynchronous requests, the caller's thread for a
// synchronous one. Commands posted from other threads run between polls. Every 0.25 s each
// attached request gets its status tick (time-outs, throttling, upload progress).
class NetTransportLoop
{
public:
    NetTransportLoop();
    ~NetTransportLoop();
    NetTransportLoop(const NetTransportLoop &) = delete;
    NetTransportLoop &operator=(const NetTransportLoop &) = delete;

    // The loop of the process-wide network thread, started on first use (thread-safe).
    static std::shared_ptr<NetTransportLoop> networkLoop();
    // Stops the network thread (at application exit and in tests); a later use starts a new one.
    static void shutdownNetworkThread();

    void post(std::function<void()> fn);
    void runOnce(int maxWaitMs);
    bool isLoopThread() const;

    CURLM *multi() const { return m_multi; }
    // The loop holds the request while its transfer exists, so a running transfer never
    // loses its owner.
    void addTransfer(CURL *easy, std::shared_ptr<NetHTTPRequest> request);
    void removeTransfer(CURL *easy);
    // Requests that get status ticks, from their start until they are finished.
    void attach(const std::shared_ptr<NetHTTPRequest> &request);
    void detach(const NetHTTPRequest *request);

private:
    void runCommands();
    void tick();

    CURLM *m_multi = nullptr;
    std::mutex m_commandsMutex;
    std::deque<std::function<void()>> m_commands;
    std::map<CURL *, std::shared_ptr<NetHTTPRequest>> m_transfers;
    std::map<const NetHTTPRequest *, std::weak_ptr<NetHTTPRequest>> m_attached;
    std::chrono::steady_clock::time_point m_lastTick;
    std::atomic<Qt::HANDLE> m_thread{nullptr};
};

// The never-ending network thread: runs its loop until the process shuts it down.
class NetNetworkThread : public QThread
{
public:
    explicit NetNetworkThread(std::shared_ptr<NetTransportLoop> loop) : m_loop(std::move(loop)) {}
    void stop() { m_stop = true; m_loop->post([] {}); }

protected:
    void run() override;

private:
    std::shared_ptr<NetTransportLoop> m_loop;
    std::atomic<bool> m_stop{false};
};

#include "NetTransportLoop.h"

#include "NetHTTPRequest.h"

#include <QCoreApplication>

#include <vector>

namespace {
std::mutex networkThreadMutex;
std::shared_ptr<NetTransportLoop> sharedLoop;
NetNetworkThread *sharedThread = nullptr; // owned; deleted by shutdownNetworkThread()
std::once_flag curlInitOnce;
constexpr auto tickInterval = std::chrono::milliseconds(250);
}

NetTransportLoop::NetTransportLoop()
{
    std::call_once(curlInitOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_multi = curl_multi_init();
    m_lastTick = std::chrono::steady_clock::now();
}

NetTransportLoop::~NetTransportLoop()
{
    auto transfers = std::move(m_transfers);
    m_transfers.clear();
    for (auto &[easy, request] : transfers) {
        curl_multi_remove_handle(m_multi, easy);
        request->transferAbandoned(easy);
    }
    curl_multi_cleanup(m_multi);
}

std::shared_ptr<NetTransportLoop> NetTransportLoop::networkLoop()
{
    std::lock_guard<std::mutex> guard(networkThreadMutex);
    if (!sharedLoop) {
        sharedLoop = std::make_shared<NetTransportLoop>();
        sharedThread = new NetNetworkThread(sharedLoop);
        sharedThread->setObjectName(QStringLiteral("NetHTTPRequest network thread"));
        sharedThread->start();
        static std::once_flag postRoutineOnce;
        std::call_once(postRoutineOnce, [] {
            if (QCoreApplication::instance())
                qAddPostRoutine(&NetTransportLoop::shutdownNetworkThread);
        });
    }
    return sharedLoop;
}

void NetTransportLoop::shutdownNetworkThread()
{
    NetNetworkThread *thread = nullptr;
    std::shared_ptr<NetTransportLoop> loop;
    {
        std::lock_guard<std::mutex> guard(networkThreadMutex);
        thread = sharedThread;
        loop = std::move(sharedLoop);
        sharedThread = nullptr;
        sharedLoop.reset();
    }
    if (thread) {
        thread->stop();
        thread->wait();
        delete thread;
    }
}

void NetTransportLoop::post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> guard(m_commandsMutex);
        m_commands.push_back(std::move(fn));
    }
    curl_multi_wakeup(m_multi);
}

bool NetTransportLoop::isLoopThread() const
{
    return m_thread.load() == QThread::currentThreadId();
}

void NetTransportLoop::runCommands()
{
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard<std::mutex> guard(m_commandsMutex);
            if (m_commands.empty())
                return;
            fn = std::move(m_commands.front());
            m_commands.pop_front();
        }
        fn();
    }
}

void NetTransportLoop::addTransfer(CURL *easy, std::shared_ptr<NetHTTPRequest> request)
{
    m_transfers[easy] = std::move(request);
    curl_multi_add_handle(m_multi, easy);
}

void NetTransportLoop::removeTransfer(CURL *easy)
{
    curl_multi_remove_handle(m_multi, easy);
    // The request may drop its last owner here; keep it until this call is over.
    auto it = m_transfers.find(easy);
    if (it != m_transfers.end()) {
        std::shared_ptr<NetHTTPRequest> keep = std::move(it->second);
        m_transfers.erase(it);
        post([keep] {});
    }
}

void NetTransportLoop::attach(const std::shared_ptr<NetHTTPRequest> &request)
{
    m_attached[request.get()] = request;
}

void NetTransportLoop::detach(const NetHTTPRequest *request)
{
    m_attached.erase(request);
}

void NetTransportLoop::tick()
{
    std::vector<std::shared_ptr<NetHTTPRequest>> requests;
    for (auto &[key, weak] : m_attached) {
        if (auto r = weak.lock())
            requests.push_back(std::move(r));
    }
    for (auto &r : requests)
        r->statusTick();
}

void NetTransportLoop::runOnce(int maxWaitMs)
{
    m_thread = QThread::currentThreadId();
    runCommands();

    int running = 0;
    curl_multi_perform(m_multi, &running);
    int queued = 0;
    while (CURLMsg *msg = curl_multi_info_read(m_multi, &queued)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        CURL *easy = msg->easy_handle;
        const CURLcode result = msg->data.result;
        auto it = m_transfers.find(easy);
        if (it == m_transfers.end())
            continue;
        std::shared_ptr<NetHTTPRequest> request = it->second;
        request->transferDone(easy, result);
    }
    runCommands();

    const bool throttled = NetHTTPRequest::isBandwidthThrottled();
    const int wait = throttled ? std::min(maxWaitMs, 50) : maxWaitMs;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastTick >= tickInterval || throttled) {
        if (now - m_lastTick >= tickInterval)
            m_lastTick = now;
        tick();
        runCommands();
    }
    {
        std::lock_guard<std::mutex> guard(m_commandsMutex);
        if (!m_commands.empty())
            return;
    }
    int fds = 0;
    curl_multi_poll(m_multi, nullptr, 0, wait, &fds);
}

void NetNetworkThread::run()
{
    while (!m_stop)
        m_loop->runOnce(250);
}

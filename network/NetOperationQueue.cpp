#include "NetOperationQueue.h"

#include "NetHTTPRequest.h"

#include <algorithm>

NetOperationQueue::NetOperationQueue(int maxConcurrent) : m_max(maxConcurrent) {}

NetOperationQueue::~NetOperationQueue() = default;

void NetOperationQueue::addOperation(const std::shared_ptr<NetHTTPRequest> &request,
                                     const std::shared_ptr<NetHTTPRequest> &dependency, int priority)
{
    request->setOperationQueue(weak_from_this());
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_entries.push_back({request, dependency, priority, false});
    }
    startPending();
}

void NetOperationQueue::buildBody(NetHTTPRequest &request)
{
    std::lock_guard<std::recursive_mutex> guard(request.m_lock);
    if (request.error())
        return;
    if (!request.haveBuiltPostBody()) {
        request.buildPostBody();
        request.setHaveBuiltPostBody(true);
    }
    if (!request.error())
        request.setupPostBody();
}

void NetOperationQueue::setSuspended(bool suspended)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_suspended = suspended;
    }
    if (!suspended)
        startPending();
}

bool NetOperationQueue::isSuspended() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_suspended;
}

void NetOperationQueue::setMaxConcurrentOperationCount(int count)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_max = count;
    }
    startPending();
}

int NetOperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_max;
}

int NetOperationQueue::operationCount() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return int(m_entries.size());
}

QList<std::shared_ptr<NetHTTPRequest>> NetOperationQueue::operations() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    QList<std::shared_ptr<NetHTTPRequest>> list;
    for (const Entry &e : m_entries)
        list.append(e.request);
    return list;
}

void NetOperationQueue::cancelAllOperations()
{
    for (const auto &r : operations())
        r->cancel();
}

void NetOperationQueue::requestFinished(NetHTTPRequest *request)
{
    std::shared_ptr<NetHTTPRequest> finished;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->request.get() == request) {
                finished = it->request;
                m_entries.erase(it);
                break;
            }
        }
    }
    if (finished)
        operationDidFinish(finished);
    startPending();
}

void NetOperationQueue::startPending()
{
    // Requests are started outside the queue's lock: a start takes the request's own lock.
    std::vector<std::shared_ptr<NetHTTPRequest>> toStart;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_suspended)
            return;
        int running = 0;
        for (const Entry &e : m_entries)
            running += e.running ? 1 : 0;
        std::vector<Entry *> ready;
        for (Entry &e : m_entries) {
            if (e.running)
                continue;
            if (auto dep = e.dependency.lock(); dep && !dep->isFinished())
                continue;
            ready.push_back(&e);
        }
        std::stable_sort(ready.begin(), ready.end(), [](const Entry *a, const Entry *b) { return a->priority > b->priority; });
        for (Entry *e : ready) {
            if (running >= m_max)
                break;
            e->running = true;
            ++running;
            toStart.push_back(e->request);
        }
    }
    for (auto &r : toStart)
        r->start();
}

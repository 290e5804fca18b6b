#include "NetRequestQueue.h"

#include <network/NetHTTPRequest.h>
#include <network/NetMainThread.h>

std::shared_ptr<NetRequestQueue> NetRequestQueue::queue()
{
    return std::make_shared<NetRequestQueue>();
}

NetRequestQueue::NetRequestQueue() : NetOperationQueue(4)
{
    setSuspended(true);
}

std::shared_ptr<NetRequestQueue> NetRequestQueue::copy() const
{
    auto q = queue();
    q->onRequestStarted = onRequestStarted;
    q->onResponseHeaders = onResponseHeaders;
    q->onRequestWillRedirect = onRequestWillRedirect;
    q->onRequestFinished = onRequestFinished;
    q->onRequestFailed = onRequestFailed;
    q->onQueueFinished = onQueueFinished;
    q->delegate = delegate;
    q->m_uploadProgressDelegate = m_uploadProgressDelegate;
    q->m_downloadProgressDelegate = m_downloadProgressDelegate;
    q->shouldCancelAllRequestsOnFailure = shouldCancelAllRequestsOnFailure;
    q->showAccurateProgress = showAccurateProgress;
    q->userInfo = userInfo;
    return q;
}

void NetRequestQueue::go()
{
    setSuspended(false);
}

void NetRequestQueue::reset()
{
    cancelAllOperations();
    delegate.reset();
    m_uploadProgressDelegate.reset();
    m_downloadProgressDelegate.reset();
    onRequestStarted = nullptr;
    onResponseHeaders = nullptr;
    onRequestWillRedirect = nullptr;
    onRequestFinished = nullptr;
    onRequestFailed = nullptr;
    onQueueFinished = nullptr;
    setSuspended(true);
}

void NetRequestQueue::cancelAllOperations()
{
    m_bytesUploadedSoFar = m_totalBytesToUpload = m_bytesDownloadedSoFar = m_totalBytesToDownload = 0;
    NetOperationQueue::cancelAllOperations();
}

void NetRequestQueue::resetProgressDelegate(const std::weak_ptr<NetProgressDelegate> &d)
{
    netPerformOnMainThread([d] {
        if (auto p = d.lock()) {
            p->setMaxValue(1.0);
            p->setDoubleValue(0.0);
        }
    });
}

void NetRequestQueue::setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> d)
{
    m_uploadProgressDelegate = d;
    resetProgressDelegate(d);
}

void NetRequestQueue::setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> d)
{
    m_downloadProgressDelegate = d;
    resetProgressDelegate(d);
}

void NetRequestQueue::addOperation(const std::shared_ptr<NetHTTPRequest> &request)
{
    ++m_requestsCount;
    // Joined first, so that a body that cannot be built fails through the queue's count.
    request->setQueue(std::static_pointer_cast<NetRequestQueue>(shared_from_this()));
    std::shared_ptr<NetHTTPRequest> head;
    if (showAccurateProgress) {
        buildBody(*request);
        // (A request whose body could not be built has failed already: no twin for it.)
        if (!request->error() && request->requestMethod() == QLatin1String("GET") && isSuspended()) {
            head = request->HEADRequest();
            addHEADOperation(head, request);
            resetProgressDelegate(m_downloadProgressDelegate);
        }
        m_totalBytesToUpload += request->postLength();
    } else {
        m_totalBytesToDownload += 1;
        m_totalBytesToUpload += 1;
    }
    // The queue has counted the request's upload; the request must not add it again when it
    // starts.
    resetProgressDelegate(m_uploadProgressDelegate);
    request->setShouldResetUploadProgress(false);
    request->setShowAccurateProgress(showAccurateProgress);
    if (head) {
        // The HEAD twin already counted the download size.
        request->setShouldResetDownloadProgress(false);
    }
    NetOperationQueue::addOperation(request, head);
}

void NetRequestQueue::addHEADOperation(const std::shared_ptr<NetHTTPRequest> &head, const std::shared_ptr<NetHTTPRequest> &)
{
    head->setRequestMethod(QStringLiteral("HEAD"));
    head->setShowAccurateProgress(true);
    head->setQueue(std::static_pointer_cast<NetRequestQueue>(shared_from_this()));
    NetOperationQueue::addOperation(head, {}, 10); // sizes are learnt before downloads start
}

void NetRequestQueue::requestStarted(const NetHTTPRequestPtr &r)
{
    if (onRequestStarted)
        onRequestStarted(r);
}

void NetRequestQueue::requestDidReceiveResponseHeaders(const NetHTTPRequestPtr &r, const QMap<QString, QString> &h)
{
    if (onResponseHeaders)
        onResponseHeaders(r, h);
}

void NetRequestQueue::requestWillRedirectToURL(const NetHTTPRequestPtr &r, const QUrl &url)
{
    if (onRequestWillRedirect)
        onRequestWillRedirect(r, url);
}

void NetRequestQueue::requestFinished(const NetHTTPRequestPtr &r)
{
    --m_requestsCount;
    if (onRequestFinished)
        onRequestFinished(r);
    if (m_requestsCount == 0 && onQueueFinished)
        onQueueFinished();
}

void NetRequestQueue::requestFailed(const NetHTTPRequestPtr &r)
{
    --m_requestsCount;
    if (onRequestFailed)
        onRequestFailed(r);
    if (m_requestsCount == 0 && onQueueFinished)
        onQueueFinished();
    if (shouldCancelAllRequestsOnFailure && m_requestsCount > 0)
        cancelAllOperations();
}

bool NetRequestQueue::answersAuthenticationNeeded() const
{
    auto d = delegate.lock();
    return d && d->answersAuthenticationNeeded();
}

void NetRequestQueue::authenticationNeededForRequest(const NetHTTPRequestPtr &r)
{
    if (auto d = delegate.lock())
        d->authenticationNeededForRequest(r);
}

bool NetRequestQueue::answersProxyAuthenticationNeeded() const
{
    auto d = delegate.lock();
    return d && d->answersProxyAuthenticationNeeded();
}

void NetRequestQueue::proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &r)
{
    if (auto d = delegate.lock())
        d->proxyAuthenticationNeededForRequest(r);
}

void NetRequestQueue::requestDidReceiveBytes(const NetHTTPRequestPtr &, std::int64_t bytes)
{
    m_bytesDownloadedSoFar += std::uint64_t(bytes);
    if (auto p = m_downloadProgressDelegate.lock())
        p->setDoubleValue(m_totalBytesToDownload ? double(m_bytesDownloadedSoFar) / double(m_totalBytesToDownload) : 0.0);
}

void NetRequestQueue::requestDidSendBytes(const NetHTTPRequestPtr &, std::int64_t bytes)
{
    m_bytesUploadedSoFar += std::uint64_t(bytes);
    if (auto p = m_uploadProgressDelegate.lock())
        p->setDoubleValue(m_totalBytesToUpload ? double(m_bytesUploadedSoFar) / double(m_totalBytesToUpload) : 0.0);
}

void NetRequestQueue::requestIncrementDownloadSizeBy(const NetHTTPRequestPtr &, std::int64_t bytes)
{
    m_totalBytesToDownload += std::uint64_t(bytes);
}

void NetRequestQueue::requestIncrementUploadSizeBy(const NetHTTPRequestPtr &, std::int64_t bytes)
{
    m_totalBytesToUpload += std::uint64_t(bytes);
}

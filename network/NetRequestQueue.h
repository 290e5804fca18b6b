#pragma once

#include <network/NetHTTPRequestDelegate.h>
#include <network/NetOperationQueue.h>

#include <QVariantMap>

#include <functional>

// A batch of requests with one pair of progress indicators and one set of event handlers
// (run on the main thread). Made suspended; go() starts it. By default the first failure
// cancels the requests that remain.
class NetRequestQueue : public NetOperationQueue, public NetHTTPRequestDelegate, public NetProgressDelegate
{
public:
    static std::shared_ptr<NetRequestQueue> queue();
    NetRequestQueue();
    // A new, suspended queue with this one's handlers, delegates, progress delegates, flags
    // and user info; none of the requests.
    std::shared_ptr<NetRequestQueue> copy() const;

    void go();
    void reset();
    void cancelAllOperations() override;
    void addOperation(const std::shared_ptr<NetHTTPRequest> &request);
    void addHEADOperation(const std::shared_ptr<NetHTTPRequest> &head, const std::shared_ptr<NetHTTPRequest> &forRequest);

    // Event handlers (the delegate's selectors).
    std::function<void(const NetHTTPRequestPtr &)> onRequestStarted;
    std::function<void(const NetHTTPRequestPtr &, const QMap<QString, QString> &)> onResponseHeaders;
    std::function<void(const NetHTTPRequestPtr &, const QUrl &)> onRequestWillRedirect;
    std::function<void(const NetHTTPRequestPtr &)> onRequestFinished;
    std::function<void(const NetHTTPRequestPtr &)> onRequestFailed;
    std::function<void()> onQueueFinished;
    // Asked for credentials when set (not owned).
    std::weak_ptr<NetHTTPRequestDelegate> delegate;

    void setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> d);
    void setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> d);

    bool shouldCancelAllRequestsOnFailure = true;
    bool showAccurateProgress = false;
    QVariantMap userInfo;

    std::uint64_t bytesUploadedSoFar() const { return m_bytesUploadedSoFar; }
    std::uint64_t totalBytesToUpload() const { return m_totalBytesToUpload; }
    std::uint64_t bytesDownloadedSoFar() const { return m_bytesDownloadedSoFar; }
    std::uint64_t totalBytesToDownload() const { return m_totalBytesToDownload; }
    int requestsCount() const { return m_requestsCount; }

    // NetHTTPRequestDelegate (main thread)
    void requestStarted(const NetHTTPRequestPtr &r) override;
    void requestDidReceiveResponseHeaders(const NetHTTPRequestPtr &r, const QMap<QString, QString> &h) override;
    bool answersWillRedirect() const override { return bool(onRequestWillRedirect); }
    void requestWillRedirectToURL(const NetHTTPRequestPtr &r, const QUrl &url) override;
    void requestFinished(const NetHTTPRequestPtr &r) override;
    void requestFailed(const NetHTTPRequestPtr &r) override;
    bool answersAuthenticationNeeded() const override;
    void authenticationNeededForRequest(const NetHTTPRequestPtr &r) override;
    bool answersProxyAuthenticationNeeded() const override;
    void proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &r) override;

    // NetProgressDelegate (main thread)
    void requestDidReceiveBytes(const NetHTTPRequestPtr &r, std::int64_t bytes) override;
    void requestDidSendBytes(const NetHTTPRequestPtr &r, std::int64_t bytes) override;
    void requestIncrementDownloadSizeBy(const NetHTTPRequestPtr &r, std::int64_t bytes) override;
    void requestIncrementUploadSizeBy(const NetHTTPRequestPtr &r, std::int64_t bytes) override;

private:
    static void resetProgressDelegate(const std::weak_ptr<NetProgressDelegate> &d);
    std::weak_ptr<NetProgressDelegate> m_uploadProgressDelegate, m_downloadProgressDelegate;
    std::uint64_t m_bytesUploadedSoFar = 0, m_totalBytesToUpload = 0, m_bytesDownloadedSoFar = 0, m_totalBytesToDownload = 0;
    int m_requestsCount = 0;
};

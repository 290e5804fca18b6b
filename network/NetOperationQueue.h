#pragma once

#include <QList>

#include <memory>
#include <mutex>
#include <vector>

class NetHTTPRequest;

// Runs requests at most `maxConcurrentOperationCount` at a time. The queue has no threads:
// starting a request hands it to the network thread. Creation and adding are thread-safe.
class NetOperationQueue : public std::enable_shared_from_this<NetOperationQueue>
{
public:
    explicit NetOperationQueue(int maxConcurrent = 4);
    virtual ~NetOperationQueue();

    // `dependency` (optional) must finish before `request` starts. Requests ready to start go
    // by `priority` (higher first), then in the order they were added.
    void addOperation(const std::shared_ptr<NetHTTPRequest> &request,
                      const std::shared_ptr<NetHTTPRequest> &dependency = {}, int priority = 0);
    void setSuspended(bool suspended);
    bool isSuspended() const;
    void setMaxConcurrentOperationCount(int count);
    int maxConcurrentOperationCount() const;
    int operationCount() const;
    QList<std::shared_ptr<NetHTTPRequest>> operations() const;
    virtual void cancelAllOperations();

protected:
    // Builds the request's body now, as starting it would, so that its length is known.
    static void buildBody(NetHTTPRequest &request);
    virtual void operationDidFinish(const std::shared_ptr<NetHTTPRequest> &) {}

private:
    friend class NetHTTPRequest;
    void requestFinished(NetHTTPRequest *request);
    void startPending();

    struct Entry {
        std::shared_ptr<NetHTTPRequest> request;
        std::weak_ptr<NetHTTPRequest> dependency;
        int priority = 0;
        bool running = false;
    };
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    int m_max;
    bool m_suspended = false;
};

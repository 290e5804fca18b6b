#pragma once

#include <QMap>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>

class NetHTTPRequest;
using NetHTTPRequestPtr = std::shared_ptr<NetHTTPRequest>;

// Receives a request's events on the main thread. Every method is optional; the `answers…`
// queries tell the request whether a behaviour-changing method is implemented (body bytes go
// to the delegate instead of memory, redirects wait for confirmation, credentials are asked).
class NetHTTPRequestDelegate
{
public:
    virtual ~NetHTTPRequestDelegate() = default;

    virtual void requestStarted(const NetHTTPRequestPtr &) {}
    virtual void requestDidReceiveResponseHeaders(const NetHTTPRequestPtr &, const QMap<QString, QString> &) {}
    virtual void requestFinished(const NetHTTPRequestPtr &) {}
    virtual void requestFailed(const NetHTTPRequestPtr &) {}
    virtual void requestRedirected(const NetHTTPRequestPtr &) {}

    // Called only when answersDidReceiveData() is true.
    virtual bool answersDidReceiveData() const { return false; }
    virtual void requestDidReceiveData(const NetHTTPRequestPtr &, const QByteArray &) {}

    // Called only when answersWillRedirect() is true; the delegate must then call
    // redirectToURL() (or cancel the request).
    virtual bool answersWillRedirect() const { return false; }
    virtual void requestWillRedirectToURL(const NetHTTPRequestPtr &, const QUrl &) {}

    // Called only when the matching answers…() is true; the delegate sets the credentials and
    // calls retryUsingSuppliedCredentials(), or calls cancelAuthentication().
    virtual bool answersAuthenticationNeeded() const { return false; }
    virtual void authenticationNeededForRequest(const NetHTTPRequestPtr &) {}
    virtual bool answersProxyAuthenticationNeeded() const { return false; }
    virtual void proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &) {}
};

// Progress target: a plain indicator (setDoubleValue/setMaxValue) or a byte counter.
// Called on the main thread.
class NetProgressDelegate
{
public:
    virtual ~NetProgressDelegate() = default;
    virtual void setDoubleValue(double) {}
    virtual void setMaxValue(double) {}
    virtual void requestDidReceiveBytes(const NetHTTPRequestPtr &, std::int64_t) {}
    virtual void requestDidSendBytes(const NetHTTPRequestPtr &, std::int64_t) {}
    virtual void requestIncrementDownloadSizeBy(const NetHTTPRequestPtr &, std::int64_t) {}
    virtual void requestIncrementUploadSizeBy(const NetHTTPRequestPtr &, std::int64_t) {}
};

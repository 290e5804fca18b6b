#pragma once

#include <network/NetHTTPRequestDelegate.h>
#include <platform/foundation/KRError.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class KRJSONRPC;

// Receives the result of a call on the main thread.
class KRJSONRPCDelegate
{
public:
    virtual ~KRJSONRPCDelegate() = default;
    virtual void jsonRPCDidCompleteWithResponse(KRJSONRPC &client, const QJsonDocument &reply) = 0;
    virtual void jsonRPCDidCompleteWithError(KRJSONRPC &client, const KRError &error) = 0;
};

// The hosting-service client: POSTs a compact JSON object to `apiURL` + "?method=<name>" and
// parses the reply (an object or an array) as UTF-8 JSON. The HTTP status is not examined.
// The call's body (which may carry the hosting e-mail and password) is never sent again to
// another address a redirect names.
// Calls may be made from any thread; results arrive on the main thread. A call keeps the
// client alive until its result was delivered, so callers need not hold it.
class KRJSONRPC : public NetHTTPRequestDelegate, public std::enable_shared_from_this<KRJSONRPC>
{
public:
    using Block = std::function<void(const QJsonDocument &reply, const KRError &error)>;
    // Asks the user for the credentials of the proxy ("host:port" as configured; nothing the
    // proxy or a server sends) (the GUI installs a dialog); false means cancel.
    using ProxyCredentialPrompt = std::function<bool(const QString &proxy, QString *user, QString *password)>;

    // The error of a call made without a service address (nothing is sent).
    static constexpr int NoServiceAddressError = 2;
    // The bounds of every call: a reply larger than this is refused while it arrives, and a
    // call that has not ended this long after it started (however steadily its reply drips
    // in) fails. Both end in an error that says so.
    static constexpr std::uint64_t MaximumReplySize = std::uint64_t(8) << 20;
    static constexpr double ReplyDeadlineSeconds = 60;

    static std::shared_ptr<KRJSONRPC> create(); // apiURL from the user default "apiURL"

    QString apiURL() const;
    void setApiURL(const QString &url);
    std::shared_ptr<KRJSONRPCDelegate> delegate() const;
    void setDelegate(std::shared_ptr<KRJSONRPCDelegate> delegate); // strong, as callers expect
    bool useProxyAuthenticationDialog() const;
    void setUseProxyAuthenticationDialog(bool on);
    std::shared_ptr<NetHTTPRequest> request() const;

    // "appVersion" and "OSVersion".
    static QJsonObject argumentsDictionary();
    // Plus "hostingEmail" and the deciphered "hostingPassword" when those user defaults are
    // set (deciphered by KRPasswordValueTransformer unless another transformer is installed;
    // a password that does not decipher is left out).
    static QJsonObject credentialedArgumentsDictionary();

    void callMethod(const QString &method, const QJsonObject &arguments);
    // The block receives exactly one of (reply, null error) or (null reply, error). Each call
    // keeps its own block, so a second call on the same client never takes the first's reply.
    void callMethod(const QString &method, const QJsonObject &arguments, Block block);

    // Process-wide configuration the application sets at start-up.
    // Null: back to KRPasswordValueTransformer.
    static void setPasswordTransformer(std::function<QString(const QString &)> transformer);
    static void setServiceDomain(const QString &domain); // "*.<domain>" is the TLS peer name
    static void setProxyCredentialPrompt(ProxyCredentialPrompt prompt);

    // NetHTTPRequestDelegate
    bool answersProxyAuthenticationNeeded() const override { return true; }
    void proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &request) override;

private:
    KRJSONRPC() = default;
    void deliver(const std::shared_ptr<NetHTTPRequest> &request, const Block &block);

    mutable std::mutex m_mutex;
    QString m_apiURL;
    std::shared_ptr<KRJSONRPCDelegate> m_delegate;
    bool m_useProxyAuthenticationDialog = true;
    std::shared_ptr<NetHTTPRequest> m_request;
};

#include "support/KRTestHTTPServer.h"

#include <network/NetHTTPRequest.h>
#include <KRTestSupport.h>

#include <QFile>

#include <gtest/gtest.h>

namespace {

class NetAuthenticationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        NetHTTPRequest::removeAllSessionCredentials();
        ASSERT_TRUE(server.start());
    }
    void TearDown() override
    {
        server.stop();
        NetHTTPRequest::removeAllSessionCredentials();
    }
    bool runAsync(const std::shared_ptr<NetHTTPRequest> &r)
    {
        auto done = std::make_shared<int>(0);
        r->setCompletionBlock([done] { ++*done; });
        r->setFailedBlock([done] { ++*done; });
        r->startAsynchronous();
        return KRTest::processEventsUntil([done] { return *done > 0; });
    }
    // "/b" behind Basic authentication (ann, secret; realm "Area"), answering "in".
    void routeBasicArea()
    {
        server.route("/b", [](const KRTestRequest &r) {
            return KRTestHTTPServer::basicAuth(r, "ann", "secret", "Area", KRTestResponse::text("in"));
        });
    }
    KRTestHTTPServer server;
};

struct AskingDelegate : NetHTTPRequestDelegate {
    int asked = 0;
    QString user = QStringLiteral("ann"), password = QStringLiteral("secret");
    bool answersAuthenticationNeeded() const override { return true; }
    void authenticationNeededForRequest(const NetHTTPRequestPtr &r) override
    {
        ++asked;
        r->setUsername(user);
        r->setPassword(password);
        r->retryUsingSuppliedCredentials();
    }
};

TEST_F(NetAuthenticationTest, BasicChallengeAnsweredFromRequestCredentials)
{
    routeBasicArea();
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setUsername(QStringLiteral("ann"));
    r->setPassword(QStringLiteral("secret"));
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData(), QByteArray("in"));
    EXPECT_EQ(r->authenticationRealm(), QStringLiteral("Area"));
    EXPECT_EQ(server.requestCount(), 2);
}

TEST_F(NetAuthenticationTest, PostBodySurvivesTheChallengeRound)
{
    server.route("/b", [](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "ann", "secret", "Area", KRTestResponse::text("body=" + r.body));
    });
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setUsername(QStringLiteral("ann"));
    r->setPassword(QStringLiteral("secret"));
    r->appendPostData("payload");
    r->startSynchronous();
    EXPECT_EQ(r->responseData(), QByteArray("body=payload"));
}

TEST_F(NetAuthenticationTest, DigestWithQopAuth)
{
    server.route("/d", [this](const KRTestRequest &r) {
        return server.digestAuth(r, "ann", "secret", "Vault", KRTestResponse::text("digest ok"));
    });
    auto r = NetHTTPRequest::requestWithURL(server.url("/d?x=1"));
    r->setUsername(QStringLiteral("ann"));
    r->setPassword(QStringLiteral("secret"));
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData(), QByteArray("digest ok"));
    EXPECT_EQ(r->authenticationScheme(), QStringLiteral("Digest"));
}

TEST_F(NetAuthenticationTest, SynchronousWithoutCredentialsFailsWithCode3)
{
    routeBasicArea();
    auto delegate = std::make_shared<AskingDelegate>();
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setDelegate(delegate);
    r->startSynchronous();
    EXPECT_EQ(r->error().code(), 3);
    EXPECT_EQ(r->error().message(), QStringLiteral("Authentication needed"));
    EXPECT_EQ(delegate->asked, 0); // synchronous requests never ask
}

TEST_F(NetAuthenticationTest, WrongPasswordFailsWithCode3)
{
    routeBasicArea();
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setUsername(QStringLiteral("ann"));
    r->setPassword(QStringLiteral("wrong"));
    r->startSynchronous();
    EXPECT_EQ(r->error().code(), 3);
    EXPECT_LE(server.requestCount(), 3);
}

TEST_F(NetAuthenticationTest, ChallengeWithoutUsableSchemeFailsInsteadOfHanging)
{
    server.route("/n", [](const KRTestRequest &) {
        return KRTestResponse::text("no", 401).header("WWW-Authenticate", "Negotiate");
    });
    auto r = NetHTTPRequest::requestWithURL(server.url("/n"));
    r->setUsername(QStringLiteral("ann"));
    r->setPassword(QStringLiteral("secret"));
    ASSERT_TRUE(runAsync(r));
    EXPECT_EQ(r->error().code(), 3);
}

TEST_F(NetAuthenticationTest, CredentialsAskedOnceAndReused)
{
    routeBasicArea();
    auto delegate = std::make_shared<AskingDelegate>();
    auto first = NetHTTPRequest::requestWithURL(server.url("/b"));
    first->setDelegate(delegate);
    ASSERT_TRUE(runAsync(first));
    ASSERT_FALSE(first->error()) << first->error().toString().toStdString();
    EXPECT_EQ(delegate->asked, 1);

    server.clearLog();
    auto second = NetHTTPRequest::requestWithURL(server.url("/b"));
    second->setDelegate(delegate);
    ASSERT_TRUE(runAsync(second));
    EXPECT_FALSE(second->error());
    EXPECT_EQ(delegate->asked, 1);
    // Sent before any challenge: one request, no 401 round.
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(server.requests()[0].hasHeader("Authorization"));
}

TEST_F(NetAuthenticationTest, CancelledAuthenticationFails)
{
    struct Refusing : NetHTTPRequestDelegate {
        bool answersAuthenticationNeeded() const override { return true; }
        void authenticationNeededForRequest(const NetHTTPRequestPtr &r) override { r->cancelAuthentication(); }
    };
    routeBasicArea();
    auto delegate = std::make_shared<Refusing>();
    auto r = NetHTTPRequest::requestWithURL(server.url("/b"));
    r->setDelegate(delegate);
    ASSERT_TRUE(runAsync(r));
    EXPECT_EQ(r->error().code(), 3);
}

TEST_F(NetAuthenticationTest, ExplicitProxyGetsAbsoluteURIAndProxyCredentials)
{
    KRTestHTTPServer origin;
    ASSERT_TRUE(origin.start());
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "p", "pw", "Proxy", KRTestResponse::text("via proxy " + r.target), true);
    });
    auto r = NetHTTPRequest::requestWithURL(origin.url("/page"));
    r->setProxyHost(QStringLiteral("127.0.0.1"));
    r->setProxyPort(server.port());
    r->setProxyUsername(QStringLiteral("p"));
    r->setProxyPassword(QStringLiteral("pw"));
    ASSERT_TRUE(runAsync(r));
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData(), "via proxy " + origin.url("/page").toEncoded());
    EXPECT_EQ(origin.requestCount(), 0);
    origin.stop();
}

TEST_F(NetAuthenticationTest, ProxyCredentialsFromTheDelegate)
{
    struct ProxyDelegate : NetHTTPRequestDelegate {
        int asked = 0;
        bool answersProxyAuthenticationNeeded() const override { return true; }
        void proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &r) override
        {
            ++asked;
            r->setProxyUsername(QStringLiteral("p"));
            r->setProxyPassword(QStringLiteral("pw"));
            r->retryUsingSuppliedCredentials();
        }
    };
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "p", "pw", "Proxy", KRTestResponse::text("ok"), true);
    });
    auto delegate = std::make_shared<ProxyDelegate>();
    auto r = NetHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://127.0.0.2:9/x")));
    r->setProxyHost(QStringLiteral("127.0.0.1"));
    r->setProxyPort(server.port());
    r->setDelegate(delegate);
    ASSERT_TRUE(runAsync(r));
    EXPECT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(delegate->asked, 1);
    EXPECT_EQ(r->proxyAuthenticationRealm(), QStringLiteral("Proxy"));
}

// Only the proxy a request goes through may ask for proxy credentials: the same challenge
// from the server itself, over a direct connection, fails the request and asks no one.
TEST_F(NetAuthenticationTest, AProxyChallengeFromTheServerItselfFailsTheRequest)
{
    struct ProxyDelegate : NetHTTPRequestDelegate {
        int asked = 0;
        bool answersProxyAuthenticationNeeded() const override { return true; }
        void proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &r) override
        {
            ++asked;
            r->setProxyUsername(QStringLiteral("p"));
            r->setProxyPassword(QStringLiteral("pw"));
            r->retryUsingSuppliedCredentials();
        }
    };
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "p", "pw", "Proxy", KRTestResponse::text("ok"), true);
    });
    auto delegate = std::make_shared<ProxyDelegate>();
    auto r = NetHTTPRequest::requestWithURL(server.url("/direct"));
    r->setDelegate(delegate);
    ASSERT_TRUE(runAsync(r));
    EXPECT_EQ(r->error().code(), NetHTTPRequest::AuthenticationErrorType) << r->error().toString().toStdString();
    EXPECT_EQ(delegate->asked, 0);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(r->responseData().isEmpty());
}

TEST_F(NetAuthenticationTest, ProxyAutoConfigurationChoosesTheProxy)
{
    server.setFallback([](const KRTestRequest &r) { return KRTestResponse::text("proxied " + r.path()); });
    const QString pac = KRTest::makeTempDir() + "/proxy.pac";
    KRTest::writeFile(pac, QStringLiteral("function FindProxyForURL(url, host) {"
                                          " if (shExpMatch(host, '*.example') || isInNet(host, '10.0.0.0', '255.0.0.0'))"
                                          "   return 'PROXY 127.0.0.1:%1; DIRECT';"
                                          " return 'DIRECT'; }").arg(server.port()).toUtf8());
    auto r = NetHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://site.example/page")));
    r->setPACurl(QUrl::fromLocalFile(pac));
    r->startSynchronous();
    ASSERT_FALSE(r->error()) << r->error().toString().toStdString();
    EXPECT_EQ(r->responseData(), QByteArray("proxied /page"));
    EXPECT_EQ(r->proxyHost(), QStringLiteral("127.0.0.1"));

    // The same script served over http.
    KRTestHTTPServer pacServer;
    ASSERT_TRUE(pacServer.start());
    const QByteArray script = KRTest::readFile(pac);
    pacServer.route("/proxy.pac", [script](const KRTestRequest &) {
        return KRTestResponse::text(script, 200, "application/x-ns-proxy-autoconfig");
    });
    auto viaHttp = NetHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://10.1.2.3/other")));
    viaHttp->setPACurl(pacServer.url("/proxy.pac"));
    viaHttp->startSynchronous();
    EXPECT_EQ(viaHttp->responseData(), QByteArray("proxied /other"));
    pacServer.stop();
}

} // namespace

#include "support/KRProxiedRequest.h"
#include "support/KRTestHTTPServer.h"

#include <network/KRJSONRPC.h>
#include <network/NetHTTPRequest.h>
#include <core/KRPasswordValueTransformer.h>
#include <platform/foundation/KRUserDefaults.h>
#include <KRTestSupport.h>

#include <QJsonArray>

#include <gtest/gtest.h>

#include <thread>

namespace {

class KRJSONRPCTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        server.installHostingAPI();
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("apiURL"), server.url("/api.php").toString());
    }
    void TearDown() override
    {
        KRUserDefaults &s = KRUserDefaults::sharedInstance();
        s.removeObject(QStringLiteral("hostingEmail"));
        s.removeObject(QStringLiteral("hostingPassword"));
        KRJSONRPC::setPasswordTransformer(nullptr);
        server.stop();
    }

    struct Result {
        bool done = false;
        QJsonDocument reply;
        KRError error;
    };
    std::shared_ptr<Result> call(const QString &method, const QJsonObject &args)
    {
        auto result = std::make_shared<Result>();
        KRJSONRPC::create()->callMethod(method, args, [result](const QJsonDocument &reply, const KRError &error) {
            result->done = true;
            result->reply = reply;
            result->error = error;
        });
        EXPECT_TRUE(KRTest::processEventsUntil([result] { return result->done; }));
        return result;
    }

    KRTestHTTPServer server;
};

TEST_F(KRJSONRPCTest, PostsCompactJsonToTheMethodURL)
{
    auto r = call(QStringLiteral("feedURL"), KRJSONRPC::credentialedArgumentsDictionary());
    ASSERT_FALSE(r->error) << r->error.toString().toStdString();
    EXPECT_EQ(r->reply.object().value(QStringLiteral("feedURL")).toString(), QStringLiteral("news/feed.rss"));
    const auto log = server.requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, QByteArray("POST"));
    EXPECT_EQ(log[0].target, QByteArray("/api.php?method=feedURL"));
    bool lowerCase = false;
    for (const auto &h : log[0].headers)
        lowerCase = lowerCase || (h.first == "content-type" && h.second == "application/json");
    EXPECT_TRUE(lowerCase);
    const QJsonObject body = QJsonDocument::fromJson(log[0].body).object();
    EXPECT_EQ(body.keys(), (QStringList{QStringLiteral("OSVersion"), QStringLiteral("appVersion")}));
    EXPECT_EQ(log[0].body, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

TEST_F(KRJSONRPCTest, RepliesWithoutCharsetAreReadAsUtf8)
{
    auto r = call(QStringLiteral("sampleGallery"), KRJSONRPC::argumentsDictionary());
    ASSERT_FALSE(r->error);
    const QJsonObject sample = r->reply.object().value(QStringLiteral("samples")).toArray().at(0).toObject();
    EXPECT_EQ(sample.value(QStringLiteral("name")).toString(), QStringLiteral("Café menu"));
    EXPECT_EQ(sample.value(QStringLiteral("description")).toString(), QStringLiteral("A small menu — with prices"));
    EXPECT_TRUE(sample.value(QStringLiteral("isNew")).toBool());
}

TEST_F(KRJSONRPCTest, CredentialsAndCrashReport)
{
    KRUserDefaults &s = KRUserDefaults::sharedInstance();
    s.setValue(QStringLiteral("hostingEmail"), QStringLiteral("a@b.c"));
    s.setValue(QStringLiteral("hostingPassword"), QStringLiteral("c1ph3r"));
    KRJSONRPC::setPasswordTransformer([](const QString &hex) { return QStringLiteral("plain-of-") + hex; });
    QJsonObject args = KRJSONRPC::credentialedArgumentsDictionary();
    args.insert(QStringLiteral("crashReportBase64"), QStringLiteral("UEsDBA=="));
    auto r = call(QStringLiteral("crashReport"), args);
    ASSERT_FALSE(r->error);
    EXPECT_EQ(r->reply.object().value(QStringLiteral("result")).toString(), QStringLiteral("OK"));
    const QJsonObject sent = QJsonDocument::fromJson(server.requests()[0].body).object();
    EXPECT_EQ(sent.value(QStringLiteral("hostingEmail")).toString(), QStringLiteral("a@b.c"));
    EXPECT_EQ(sent.value(QStringLiteral("hostingPassword")).toString(), QStringLiteral("plain-of-c1ph3r"));
}

TEST_F(KRJSONRPCTest, StoredPasswordIsDecipheredByDefault)
{
    KRUserDefaults &s = KRUserDefaults::sharedInstance();
    s.setValue(QStringLiteral("hostingPassword"), KRPasswordValueTransformer().reverseTransformedValue(QStringLiteral("pä55")));
    EXPECT_EQ(KRJSONRPC::credentialedArgumentsDictionary().value(QStringLiteral("hostingPassword")).toString(),
              QStringLiteral("pä55"));
    // Text that is not a stored password is not sent as the password.
    s.setValue(QStringLiteral("hostingPassword"), QStringLiteral("not-hex"));
    EXPECT_FALSE(KRJSONRPC::credentialedArgumentsDictionary().contains(QStringLiteral("hostingPassword")));
    EXPECT_EQ(KRJSONRPC::create()->apiURL(), server.url("/api.php").toString());
}

TEST_F(KRJSONRPCTest, ErrorStatusWithJsonIsAReplyAndOtherBodiesAreParseErrors)
{
    server.route("/api.php", [](const KRTestRequest &r) {
        const QByteArray m = r.queryItem("method");
        if (m == "json500")
            return KRTestResponse::text("{\"result\":\"ERR\",\"errortext\":\"down\"}", 500, "application/json");
        if (m == "html")
            return KRTestResponse::text("<html>oops</html>", 500, "text/html");
        if (m == "null")
            return KRTestResponse::text("null", 200, "application/json");
        if (m == "number")
            return KRTestResponse::text("42", 200, "application/json");
        return KRTestResponse::text("", 200, "application/json");
    });
    auto ok = call(QStringLiteral("json500"), {});
    EXPECT_FALSE(ok->error);
    EXPECT_EQ(ok->reply.object().value(QStringLiteral("errortext")).toString(), QStringLiteral("down"));
    for (const QString &m : {QStringLiteral("html"), QStringLiteral("null"), QStringLiteral("number"), QStringLiteral("empty")}) {
        auto r = call(m, {});
        EXPECT_TRUE(r->error) << m.toStdString();
        EXPECT_TRUE(r->reply.isNull());
    }
}

TEST_F(KRJSONRPCTest, NetworkFailureReachesTheBlock)
{
    const QString api = server.url("/api.php").toString();
    server.stop();
    auto result = std::make_shared<Result>();
    auto client = KRJSONRPC::create();
    client->setApiURL(api);
    client->callMethod(QStringLiteral("feedURL"), {}, [result](const QJsonDocument &reply, const KRError &error) {
        result->done = true;
        result->reply = reply;
        result->error = error;
    });
    client.reset(); // the call keeps the client alive
    ASSERT_TRUE(KRTest::processEventsUntil([result] { return result->done; }));
    EXPECT_EQ(result->error.code(), 1);
    EXPECT_TRUE(result->reply.isNull());
}

// With no service address set, a call sends nothing and says so.
// The hosting sign-in travels in the call's body: a 307 to another address is refused and the
// listener there receives nothing. A reply over the bound (here a gallery of 9 MB) is refused
// with an error that says so.
TEST_F(KRJSONRPCTest, CredentialsAreNotRepostedElsewhereAndOversizedRepliesAreRefused)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("hostingEmail"), QStringLiteral("me@example.com"));
    KRJSONRPC::setPasswordTransformer([](const QString &text) { return text; });
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("hostingPassword"), QStringLiteral("secret"));
    KRTestHTTPServer elsewhere;
    ASSERT_TRUE(elsewhere.start());
    elsewhere.installHostingAPI();
    const QByteArray location = elsewhere.url("/api.php?method=feedURL").toEncoded();
    server.route("/api.php", [location](const KRTestRequest &) { return KRTestResponse::redirect(307, location); });
    auto moved = call(QStringLiteral("feedURL"), KRJSONRPC::credentialedArgumentsDictionary());
    EXPECT_EQ(moved->error.code(), NetHTTPRequest::RedirectRefusedErrorType) << moved->error.toString().toStdString();
    EXPECT_EQ(elsewhere.acceptCount(), 0);
    elsewhere.stop();

    server.route("/api.php", [](const KRTestRequest &) {
        QByteArray reply = R"({"result":"OK","samples":[{"name":")" + QByteArray(9 << 20, 'x') + R"("}]})";
        return KRTestResponse::text(reply, 200, "application/json");
    });
    auto big = call(QStringLiteral("sampleGallery"), KRJSONRPC::credentialedArgumentsDictionary());
    EXPECT_TRUE(big->reply.isNull());
    EXPECT_EQ(big->error.message(), QStringLiteral("The service's answer was larger than 8 MB and was refused."));
}

TEST_F(KRJSONRPCTest, NoServiceAddressSendsNothing)
{
    for (const QString &address : {QString(), QStringLiteral("  ")}) {
        auto result = std::make_shared<Result>();
        auto client = KRJSONRPC::create();
        client->setApiURL(address);
        client->callMethod(QStringLiteral("crashReport"), {}, [result](const QJsonDocument &reply, const KRError &error) {
            result->done = true;
            result->reply = reply;
            result->error = error;
        });
        EXPECT_FALSE(client->request()) << "no request is made";
        ASSERT_TRUE(KRTest::processEventsUntil([result] { return result->done; }));
        EXPECT_EQ(result->error.domain(), QStringLiteral("KRJSONRPCErrorDomain"));
        EXPECT_EQ(result->error.code(), KRJSONRPC::NoServiceAddressError);
        EXPECT_EQ(result->error.message(), QStringLiteral("No service address is set."));
        EXPECT_TRUE(result->reply.isNull());
    }
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(KRJSONRPCTest, CallFromABackgroundThread)
{
    auto result = std::make_shared<Result>();
    std::thread worker([result] {
        QJsonObject args = KRJSONRPC::credentialedArgumentsDictionary();
        args.insert(QStringLiteral("crashReportBase64"), QStringLiteral("AA=="));
        args.insert(QStringLiteral("problemReportMode"), QStringLiteral("true"));
        KRJSONRPC::create()->callMethod(QStringLiteral("crashReport"), args,
                                        [result](const QJsonDocument &reply, const KRError &error) {
                                            result->done = true;
                                            result->reply = reply;
                                            result->error = error;
                                        });
    });
    worker.join();
    ASSERT_TRUE(KRTest::processEventsUntil([result] { return result->done; }));
    EXPECT_FALSE(result->error);
    EXPECT_EQ(QJsonDocument::fromJson(server.requests()[0].body).object().value(QStringLiteral("problemReportMode")).toString(),
              QStringLiteral("true"));
}

TEST_F(KRJSONRPCTest, RegisteredApiURLIsSeenFromAnyThread)
{
    KRUserDefaults &s = KRUserDefaults::sharedInstance();
    s.removeObject(QStringLiteral("apiURL"));
    s.registerDefaults({{QStringLiteral("apiURL"), server.url("/registered.php").toString()}});
    QString fromWorker;
    std::thread worker([&] { fromWorker = KRJSONRPC::create()->apiURL(); });
    worker.join();
    EXPECT_EQ(fromWorker, server.url("/registered.php").toString());
    EXPECT_EQ(KRJSONRPC::create()->apiURL(), fromWorker);
}

TEST_F(KRJSONRPCTest, EachCallKeepsItsOwnBlock)
{
    auto client = KRJSONRPC::create();
    QString first, second;
    client->callMethod(QStringLiteral("feedURL"), {}, [&](const QJsonDocument &reply, const KRError &) {
        first = reply.object().contains(QStringLiteral("feedURL")) ? QStringLiteral("feed") : QStringLiteral("other");
    });
    client->callMethod(QStringLiteral("sampleGallery"), {}, [&](const QJsonDocument &reply, const KRError &) {
        second = reply.object().contains(QStringLiteral("samples")) ? QStringLiteral("gallery") : QStringLiteral("other");
    });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !first.isEmpty() && !second.isEmpty(); }));
    EXPECT_EQ(first, QStringLiteral("feed"));
    EXPECT_EQ(second, QStringLiteral("gallery"));
}

TEST_F(KRJSONRPCTest, ProxyCredentialsAreAskedThroughThePrompt)
{
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "p", "pw", "Corp", KRTestResponse::text("{}", 200, "application/json"), true);
    });
    QString askedRealm;
    KRJSONRPC::setProxyCredentialPrompt([&](const QString &realm, QString *user, QString *password) {
        askedRealm = realm;
        *user = QStringLiteral("p");
        *password = QStringLiteral("pw");
        return true;
    });
    auto client = KRJSONRPC::create();
    auto run = [&](bool dialog) {
        client->setUseProxyAuthenticationDialog(dialog);
        return KRTest::runThroughProxy(server, client);
    };
    auto refused = run(false);
    EXPECT_EQ(refused->error().code(), 3);
    EXPECT_TRUE(askedRealm.isEmpty());
    auto accepted = run(true);
    EXPECT_FALSE(accepted->error()) << accepted->error().toString().toStdString();
    // The proxy is named as configured, not by the realm its challenge gives.
    EXPECT_EQ(askedRealm, QStringLiteral("127.0.0.1:%1").arg(server.port()));
    KRJSONRPC::setProxyCredentialPrompt(nullptr);
}

// A 407 that no proxy sent (the service answers it itself, over a direct connection) asks no
// one for anything: the call fails with an authentication error.
TEST_F(KRJSONRPCTest, AServicesOwnProxyChallengeIsAnErrorNotAPrompt)
{
    server.route("/api.php", [](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "p", "pw", "Enter your hosting password",
                                           KRTestResponse::text("{}", 200, "application/json"), true);
    });
    int asked = 0;
    KRJSONRPC::setProxyCredentialPrompt([&](const QString &, QString *user, QString *password) {
        ++asked;
        *user = QStringLiteral("p");
        *password = QStringLiteral("pw");
        return true;
    });
    auto client = KRJSONRPC::create();
    client->setUseProxyAuthenticationDialog(true);
    auto result = std::make_shared<Result>();
    client->callMethod(QStringLiteral("feedURL"), {}, [result](const QJsonDocument &reply, const KRError &error) {
        result->done = true;
        result->reply = reply;
        result->error = error;
    });
    ASSERT_TRUE(KRTest::processEventsUntil([result] { return result->done; }));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(result->error.code(), NetHTTPRequest::AuthenticationErrorType) << result->error.toString().toStdString();
    EXPECT_EQ(server.requests().size(), 1u) << "nothing was sent again with credentials";
    KRJSONRPC::setProxyCredentialPrompt(nullptr);
}

TEST_F(KRJSONRPCTest, ProxyCredentialsAreAskedOncePerBurstAndKeptForTheSession)
{
    server.setFallback([](const KRTestRequest &r) {
        return KRTestHTTPServer::basicAuth(r, "q", "qw", "Burst", KRTestResponse::text("{}", 200, "application/json"), true);
    });
    auto client = KRJSONRPC::create();
    auto proxied = [&](bool *done) {
        auto r = NetHTTPRequest::requestWithURL(QUrl(QStringLiteral("http://service.invalid/proxied")));
        r->setProxyHost(QStringLiteral("127.0.0.1"));
        r->setProxyPort(server.port());
        r->setUseSessionPersistence(false);
        r->setDelegate(client);
        r->setCompletionBlock([done] { *done = true; });
        r->setFailedBlock([done] { *done = true; });
        return r;
    };
    bool firstDone = false, secondDone = false, thirdDone = false;
    auto first = proxied(&firstDone);
    auto second = proxied(&secondDone);
    int asked = 0;
    // The prompt stays open, as a dialog does, until both requests of the burst were refused
    // by the proxy.
    KRJSONRPC::setProxyCredentialPrompt([&](const QString &, QString *user, QString *password) {
        ++asked;
        KRTest::processEventsUntil([&] { return server.requests().size() >= 2; }, std::chrono::milliseconds(5000));
        KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(300)); // the second challenge reaches the client
        *user = QStringLiteral("q");
        *password = QStringLiteral("qw");
        return true;
    });
    first->startAsynchronous();
    second->startAsynchronous();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return firstDone && secondDone; }));
    EXPECT_FALSE(first->error()) << first->error().toString().toStdString();
    EXPECT_FALSE(second->error()) << second->error().toString().toStdString();
    EXPECT_EQ(asked, 1) << "one question for the burst";
    // A later request is not asked again: the answer is kept for the session.
    auto third = proxied(&thirdDone);
    third->startAsynchronous();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return thirdDone; }));
    EXPECT_FALSE(third->error()) << third->error().toString().toStdString();
    EXPECT_EQ(asked, 1);
    KRJSONRPC::setProxyCredentialPrompt(nullptr);
}

} // namespace

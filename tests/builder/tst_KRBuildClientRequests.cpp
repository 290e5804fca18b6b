// The syntax-check and minifier clients against a stand-in server and an absent one: the
// request they send, how they read answers, and what they report when there is no answer.

#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <builder/KRSyntaxChecker.h>
#include <builder/KRUglifyJavaScript.h>

#include "../network/support/KRTestHTTPServer.h"

#include <KRTestSupport.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

class KRBuildClientRequestsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_alerts = std::make_shared<KRScriptedAlertService>();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
        ASSERT_TRUE(m_server.start());
    }
    void TearDown() override
    {
        KRAlertService::setCurrent(m_previousAlerts);
        KRRuntimeServer::setPortProvider({});
        m_server.stop();
    }

    KRSyntaxChecker::PortProvider serverPort()
    {
        return [this] { return qint64(m_server.port()); };
    }
    static KRSyntaxChecker::PortProvider noPort()
    {
        return [] { return qint64(-1); };
    }
    void answerChecks(const QByteArray &json, int status = 200)
    {
        m_server.route("/__kr_check_syntax", [json, status](const KRTestRequest &) {
            return KRTestResponse::text(json, status, "application/json");
        });
    }

    static QList<KRSyntaxCheckFunction> functions(int count)
    {
        QList<KRSyntaxCheckFunction> list;
        for (int i = 0; i < count; ++i)
            list.append({QStringLiteral("page1"), QStringLiteral("function%1").arg(i),
                         QStringLiteral("application._pages.page1._events.function%1 = function() {\nvar a = 1;\n};\n").arg(i)});
        return list;
    }

    KRTestHTTPServer m_server;
    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
};

TEST_F(KRBuildClientRequestsTest, checkSendsTheTextAndOptionsAsJSON)
{
    answerChecks(R"({"errors": []})");
    KRSyntaxChecker checker(serverPort());
    KRSyntaxCheckOptions options;
    options.eqeqeq = true;
    options.bitwise = false;
    checker.setOptions(options);
    const KRSyntaxCheckRun run = checker.checkFunctions(functions(1));

    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NoErrors);
    ASSERT_EQ(m_server.requestCount(), 1);
    const KRTestRequest request = m_server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path(), "/__kr_check_syntax");
    EXPECT_EQ(request.header("content-type"), "application/json");
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    EXPECT_EQ(body.value("src").toString(), QStringLiteral("//\n") + functions(1).first().functionSource);
    const QJsonObject sent = body.value("options").toObject();
    const QJsonObject expected{{"eqeqeq", true}, {"bitwise", false}, {"curly", true}, {"latedef", true},
                               {"plusplus", false}, {"sub", true}, {"mixed", false}, {"indent", 1}};
    EXPECT_EQ(sent, expected);
}

TEST_F(KRBuildClientRequestsTest, optionsComeFromTheUserDefaultsWithTheirRegisteredValues)
{
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/defaults.json"));
    KRSyntaxCheckOptions options = KRSyntaxCheckOptions::fromUserDefaults(defaults);
    EXPECT_EQ(options.toJSON(), KRSyntaxCheckOptions().toJSON());
    defaults.setValue(QStringLiteral("JSSyntaxOptionEqEqEq"), 1);
    defaults.setValue(QStringLiteral("JSSyntaxOptionCurly"), false);
    options = KRSyntaxCheckOptions::fromUserDefaults(defaults);
    EXPECT_TRUE(options.eqeqeq);
    EXPECT_FALSE(options.curly);
    EXPECT_TRUE(options.bitwise);
    EXPECT_EQ(KRSyntaxCheckOptions::registeredDefaults().value(QStringLiteral("JSSyntaxOptionLatedef")), QVariant(true));
}

TEST_F(KRBuildClientRequestsTest, onlyObjectElementsOfTheErrorsListAreFindings)
{
    answerChecks(R"({"errors": ["text", {"line": 3, "character": 5, "reason": "first", "code": "W033"}, null,
                                {"line": 4, "character": 1, "reason": "second"}]})");
    KRSyntaxChecker checker(serverPort());
    checker.setOptions({});
    const KRSyntaxCheckRun run = checker.checkFunctions(functions(2));

    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::ErrorsFound);
    ASSERT_EQ(run.functions.size(), 2);
    EXPECT_EQ(run.functions[1].functionID, QStringLiteral("function1"));
    ASSERT_TRUE(run.functions[0].errors.has_value());
    const QVariantList findings = *run.functions[0].errors;
    ASSERT_EQ(findings.size(), 2);
    // Passed on as the server wrote them, lines included.
    EXPECT_EQ(findings[0].toMap().value("line").toInt(), 3);
    EXPECT_EQ(findings[0].toMap().value("code").toString(), QStringLiteral("W033"));
    EXPECT_EQ(findings[1].toMap().value("reason").toString(), QStringLiteral("second"));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
}

TEST_F(KRBuildClientRequestsTest, noPortShowsOneAlertPerRunAndChecksNothing)
{
    int asked = 0;
    KRSyntaxChecker checker([&asked] { ++asked; return qint64(-1); });
    checker.setOptions({});
    const KRSyntaxCheckRun run = checker.checkFunctions(functions(3));

    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_FALSE(run.foundErrors());
    ASSERT_EQ(run.functions.size(), 3);
    for (const KRSyntaxCheckFunctionResult &result : run.functions)
        EXPECT_FALSE(result.errors.has_value()) << result.functionID.toStdString();
    EXPECT_EQ(asked, 1);
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    const KRAlert alert = m_alerts->shownAlerts().first();
    EXPECT_EQ(alert.messageText, QStringLiteral("Unable to perform syntax check"));
    EXPECT_EQ(alert.informativeText, QStringLiteral("Unable to perform syntax check"));
    EXPECT_EQ(alert.buttonTitles, QStringList{QStringLiteral("OK")});

    // The process-wide provider is used when none is given; none installed means no server.
    KRSyntaxChecker fallback;
    fallback.setOptions({});
    EXPECT_EQ(fallback.checkFunctions(functions(2)).outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_EQ(m_alerts->shownAlerts().size(), 2);
    EXPECT_FALSE(fallback.checkFunctionSyntax(QStringLiteral("var a;")).has_value());
    EXPECT_EQ(m_alerts->shownAlerts().size(), 3);
}

TEST_F(KRBuildClientRequestsTest, aRunWithoutFunctionsChecksNothingAndShowsNothing)
{
    KRSyntaxChecker checker(noPort());
    EXPECT_EQ(checker.checkFunctions({}).outcome, KRSyntaxCheckRun::Outcome::NoErrors);
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
}

TEST_F(KRBuildClientRequestsTest, unusableAnswersAreNotMistakenForCleanCode)
{
    KRSyntaxChecker checker(serverPort());
    checker.setOptions({});
    for (const auto &[body, status] : {std::pair<QByteArray, int>{"not json", 200},
                                        {R"({"message": "no errors key"})", 200},
                                        {R"({"errors": []})", 500}}) {
        m_alerts->clear();
        answerChecks(body, status);
        const KRSyntaxCheckRun run = checker.checkFunctions(functions(2));
        EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NotChecked) << body.toStdString();
        EXPECT_FALSE(run.functions[0].errors.has_value());
        EXPECT_EQ(m_alerts->shownAlerts().size(), 1);
    }

    // A server that has gone away: every request fails, still one alert.
    const int port = m_server.port();
    m_server.stop();
    m_alerts->clear();
    KRSyntaxChecker gone([port] { return qint64(port); });
    gone.setOptions({});
    EXPECT_EQ(gone.checkFunctions(functions(3)).outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_EQ(m_alerts->shownAlerts().size(), 1);
}

// A check that runs out of time says so, not that there is no server: when the server stops it
// at its time limit (alone or in a batch through the cache) and when no answer comes in time.
// Another refusal, or a server that is gone, is no time-out.
TEST_F(KRBuildClientRequestsTest, aCheckThatRunsOutOfTimeSaysSo)
{
    answerChecks(R"({"error": "The syntax check took longer than 20 s and was stopped", "timedOut": true})", 503);
    KRSyntaxChecker checker(serverPort());
    checker.setOptions({});
    KRSyntaxCheckRun run = checker.checkFunctions(functions(2));
    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_TRUE(run.ranOutOfTime);
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_EQ(m_alerts->shownAlerts().first().informativeText, KRSyntaxChecker::ranOutOfTimeExplanation());
    EXPECT_TRUE(KRSyntaxChecker::ranOutOfTimeExplanation().contains(QStringLiteral("ran out of time")));
    EXPECT_TRUE(KRSyntaxChecker::ranOutOfTimeExplanation().contains(QStringLiteral("20 seconds")));

    KRScriptCache cache;
    checker.setCache(&cache);
    checker.setShowsAlerts(false);
    run = checker.checkFunctions(functions(3));
    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_TRUE(run.ranOutOfTime);

    answerChecks(R"({"error": "The syntax check cannot take more jobs now"})", 503);
    run = checker.checkFunctions(functions(3));
    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_FALSE(run.ranOutOfTime);

    // No answer within the time-out.
    m_server.route("/__kr_check_syntax", [](const KRTestRequest &) { return KRTestResponse::stalled(); });
    const KRResult<QJsonObject> late =
        KRRuntimeServer::postJSON(m_server.port(), QStringLiteral("/__kr_check_syntax"), {}, 0.3);
    ASSERT_FALSE(late.ok());
    EXPECT_TRUE(KRRuntimeServer::ranOutOfTime(late.error())) << late.error().toString().toStdString();

    const int port = m_server.port();
    m_server.stop();
    const KRResult<QJsonObject> gone = KRRuntimeServer::postJSON(port, QStringLiteral("/__kr_check_syntax"), {}, 5);
    ASSERT_FALSE(gone.ok());
    EXPECT_FALSE(KRRuntimeServer::ranOutOfTime(gone.error()));
}

TEST_F(KRBuildClientRequestsTest, minifierReturnsTheAnswersSource)
{
    m_server.route("/__kr_uglify", [](const KRTestRequest &request) {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        const QByteArray answer =
            QJsonDocument(QJsonObject{{"src", body.value("src").toString().simplified()}}).toJson();
        return KRTestResponse::text(answer, 200, "application/json");
    });
    KRUglifyJavaScript uglify(serverPort());
    const KRResult<QString> result = uglify.uglifyJavaScript(QStringLiteral("var  a =\n 1;"));
    ASSERT_TRUE(result.ok()) << result.error().message().toStdString();
    EXPECT_EQ(*result, QStringLiteral("var a = 1;"));
    EXPECT_EQ(m_server.requests().first().header("content-type"), "application/json");
}

TEST_F(KRBuildClientRequestsTest, minifierFailuresAreErrorsNotEmptyScripts)
{
    KRUglifyJavaScript uglify(serverPort());
    for (const auto &[body, status] : {std::pair<QByteArray, int>{R"({"source": "a"})", 200},
                                        {R"({"src": null})", 200},
                                        {"garbage", 200},
                                        {R"({"error": "Unexpected token"})", 500}}) {
        m_server.route("/__kr_uglify", [body, status](const KRTestRequest &) {
            return KRTestResponse::text(body, status, "application/json");
        });
        const KRResult<QString> result = uglify.uglifyJavaScript(QStringLiteral("var a = 1;"));
        ASSERT_FALSE(result.ok()) << body.toStdString();
        EXPECT_EQ(result.error().code(), KRUglifyJavaScript::NoResponseSourceError);
    }
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());

    const int port = m_server.port();
    m_server.stop();
    const KRResult<QString> gone = KRUglifyJavaScript([port] { return qint64(port); }).uglifyJavaScript("var a;");
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error().code(), KRUglifyJavaScript::NoResponseDataError);

    const KRResult<QString> unavailable = KRUglifyJavaScript(noPort()).uglifyJavaScript("var a;");
    ASSERT_FALSE(unavailable.ok());
    EXPECT_EQ(unavailable.error().code(), KRUglifyJavaScript::ServerUnavailableError);
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_EQ(m_alerts->shownAlerts().first().messageText, QStringLiteral("Unable to process JavaScript"));
    EXPECT_EQ(m_alerts->shownAlerts().first().buttonTitles, QStringList{QStringLiteral("OK")});
}

} // namespace

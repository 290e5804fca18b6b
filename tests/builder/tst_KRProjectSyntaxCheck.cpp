// The project-level syntax check against a stand-in server: findings land on the checked
// functions, unchecked ones keep theirs, observers see one change and the notification.

#include <builder/KRProjectSyntaxCheck.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include "../network/support/KRTestHTTPServer.h"

#include <KRTestSupport.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include <QDir>
#include <QJsonDocument>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<KRDocument> openDocument()
{
    const QString package = KRTest::makeTempDir() + QStringLiteral("/Check.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"),
                      QStringLiteral("<?xml version=\"1.0\"?><KRProjectDocument appVersion=\"%1\"><KRProject/><KRPages>"
                                     "<KRPage id=\"page2\"><KRContents><KRFunction id=\"good\">var a;"
                                     "</KRFunction></KRContents></KRPage>"
                                     "<KRPage id=\"page1\"><KRContents><KRFunction id=\"bad\">var b"
                                     "</KRFunction></KRContents></KRPage></KRPages></KRProjectDocument>")
                          .arg(KRDocument::applicationShortVersion())
                          .toUtf8());
    auto document = KRDocument::openPackage(package);
    return document ? document.value() : nullptr;
}

} // namespace

TEST(KRProjectSyntaxCheck, StoresCheckedFindingsKeepsUncheckedAndNotifies)
{
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    int calls = 0;
    server.route("/__kr_check_syntax", [&calls](const KRTestRequest &request) {
        ++calls;
        const QString src = QJsonDocument::fromJson(request.body).object().value("src").toString();
        if (src.contains(QStringLiteral("var b")))
            return KRTestResponse::text(R"({"errors": [{"line": 3, "character": 6, "reason": "Missing semicolon."}]})", 200,
                                        "application/json");
        return KRTestResponse::text("not json", 500, "text/plain"); // not checked
    });

    auto document = openDocument();
    ASSERT_TRUE(document);
    auto project = KRProject::create(document, true).value();
    auto good = std::dynamic_pointer_cast<KRFunction>(project->pageForID(QStringLiteral("page2"))->objectForID(QStringLiteral("good")));
    ASSERT_TRUE(good);
    good->setSyntaxErrors({QVariantMap{{QStringLiteral("line"), 9}}});

    int changes = 0;
    auto observation = project->observable().observe(QStringLiteral("syntaxErrors"),
                                                     [&](const void *, const QString &, const QVariant &, const QVariant &) { ++changes; });
    QVariantMap info;
    auto token = KRNotificationCenter::defaultCenter().addObserver(KRDidPerformSyntaxCheckDocumentNotification,
                                                                   document->identity(),
                                                                   [&](const KRNotification &n) { info = n.userInfo; });
    const qint64 port = server.port();
    KRSyntaxChecker checker([port] { return port; });
    checker.setOptions({});
    const KRSyntaxCheckRun run = KRProjectSyntaxCheck::checkFunctionSyntax(*project, checker);
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(run.foundErrors());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(info.value(QStringLiteral("foundErrors")).toBool());
    const QList<QVariantMap> errors = project->syntaxErrors();
    ASSERT_EQ(errors.size(), 2);
    // Pages in id order: page1's finding first, then page2's kept one.
    EXPECT_EQ(errors[0].value(QStringLiteral("page_id")).toString(), QStringLiteral("page1"));
    EXPECT_EQ(errors[0].value(QStringLiteral("function_id")).toString(), QStringLiteral("bad"));
    EXPECT_EQ(errors[0].value(QStringLiteral("reason")).toString(), QStringLiteral("Missing semicolon."));
    EXPECT_EQ(errors[1].value(QStringLiteral("line")).toInt(), 9);
    server.stop();
    KRAlertService::setCurrent(previous);
}

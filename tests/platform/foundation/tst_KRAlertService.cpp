#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include <gtest/gtest.h>

#include <memory>

namespace {
KRAlert saveQuestion()
{
    KRAlert alert;
    alert.messageText = "Do you want to keep the edited file?";
    alert.informativeText = "It was changed outside the application.";
    alert.buttonTitles = {"Keep", "Revert", "Cancel"};
    return alert;
}
} // namespace

TEST(KRScriptedAlertService, AnswersInOrderAndRecordsEveryAlert)
{
    KRScriptedAlertService service;
    service.scriptAnswer(KRAlertService::SecondButtonReturn);
    service.scriptButton("Cancel");

    EXPECT_EQ(service.runModal(saveQuestion()), 1001);
    EXPECT_EQ(service.runModal(saveQuestion()), 1002);
    // script used up: the first button
    EXPECT_EQ(service.runModal(saveQuestion()), 1000);

    ASSERT_EQ(service.shownAlerts().size(), 3);
    EXPECT_EQ(service.shownAlerts()[0].messageText, "Do you want to keep the edited file?");
    EXPECT_EQ(service.shownAlerts()[2].buttonTitles, (QStringList{"Keep", "Revert", "Cancel"}));
    EXPECT_EQ(service.answers(), (QList<int>{1001, 1002, 1000}));
    EXPECT_EQ(service.pendingAnswerCount(), 0);
}

TEST(KRScriptedAlertService, AlertWithoutButtonsHasAnOK)
{
    KRScriptedAlertService service;
    KRAlert alert;
    alert.messageText = "Unsupported project version.";
    EXPECT_EQ(alert.effectiveButtonTitles(), QStringList{"OK"});
    service.scriptButton("OK");
    EXPECT_EQ(service.runModal(alert), 1000);
}

TEST(KRAlertService, CurrentServiceCanBeReplacedAndRestored)
{
    auto scripted = std::make_shared<KRScriptedAlertService>();
    scripted->scriptAnswer(1002);
    auto previous = KRAlertService::setCurrent(scripted);
    EXPECT_EQ(KRAlertService::current().runModal(saveQuestion()), 1002);
    EXPECT_EQ(scripted->shownAlerts().size(), 1);

    KRAlertService::setCurrent(previous);
    // the headless fallback answers with the first button
    EXPECT_NE(&KRAlertService::current(), scripted.get());
    if (!previous)
        EXPECT_EQ(KRAlertService::current().runModal(saveQuestion()), 1000);
}

TEST(KRScriptedAlertServiceDeathTest, AnswerForAMissingButtonIsATestError)
{
    KRScriptedAlertService service;
    service.scriptAnswer(1003);
    EXPECT_DEATH(service.runModal(saveQuestion()), "does not have");
}

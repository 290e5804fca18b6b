// The small sample: change events of a text box and a slider, and a button, run one page
// function that writes two labels.
#include "E2ESupport.h"

#include <KRTestSupport.h>

#include <gtest/gtest.h>

using namespace KRE2E;

TEST(TipCalculatorSample, ChangesAndTheButtonComputeTheTip)
{
    if (!webLibrariesStaged())
        GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
    QString folder, failure;
    const QString startPage = buildSample(QStringLiteral("TipCalculator"), folder, failure);
    ASSERT_FALSE(startPage.isEmpty()) << failure.toStdString();
    RuntimeServer server(folder);
    ASSERT_GT(server.port(), 0);
    Browser browser;
    ASSERT_TRUE(browser.load(server.url(QStringLiteral("tips.html"))));
    ASSERT_TRUE(browser.waitForPage(QStringLiteral("tips")));

    // A user types the amount and leaves the field: its change event computes.
    browser.eval(QStringLiteral("$('#_tips_bill_inp').val('40').trigger('change')"));
    EXPECT_TRUE(browser.waitFor(QStringLiteral("$('#tips_tip').text() === 'Tip: 6.00' && $('#tips_total').text() === 'Total: 46.00'")));
    // The slider moves to 20 %; the button computes as well.
    browser.eval(QStringLiteral("$('#_tips_percent_inp').val(20).slider('refresh')"));
    browser.eval(QStringLiteral("$('#_tips_computeButton_inp')[0].click()"));
    EXPECT_TRUE(browser.waitFor(QStringLiteral("$('#tips_tip').text() === 'Tip: 8.00' && $('#tips_total').text() === 'Total: 48.00'")));
    EXPECT_EQ(browser.takeErrors(), QStringList());
}

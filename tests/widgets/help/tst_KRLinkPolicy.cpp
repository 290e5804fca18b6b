#include <widgets/help/KRHTMLWindowController.h>
#include <widgets/help/KRLinkPolicy.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

namespace {

using KRLinkPolicy::Decision;

QUrl url(const char *text) { return QUrl(QString::fromUtf8(text)); }

TEST(KRLinkPolicy, HelpViewFollowsLinksUntilLoadedThenSendsWebLinksOutside)
{
    EXPECT_EQ(KRLinkPolicy::forHelpView(url("https://example.com/a"), false), Decision::Proceed);
    EXPECT_EQ(KRLinkPolicy::forHelpView(url("https://example.com/a"), true), Decision::OpenOutside);
    EXPECT_EQ(KRLinkPolicy::forHelpView(url("HTTP://example.com"), true), Decision::OpenOutside);
    // In-page anchors and local files stay in the pop-over.
    EXPECT_EQ(KRLinkPolicy::forHelpView(url("file:///res/help.html#events"), true), Decision::Proceed);
    EXPECT_EQ(KRLinkPolicy::forHelpView(url("about:blank#top"), true), Decision::Proceed);
    // Nothing but web addresses ever leaves the application; other schemes do nothing.
    for (const char *other : {"ftp://example.com/f", "kr://preferences", "mailto:a@example.com", "tel:123"}) {
        EXPECT_EQ(KRLinkPolicy::forHelpView(url(other), true), Decision::Ignore) << other;
        EXPECT_NE(KRLinkPolicy::forHelpView(url(other), false), Decision::OpenOutside) << other;
    }
}

TEST(KRLinkPolicy, HTMLWindowHandsKrLinksToItsDelegateOnly)
{
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("kr://preferences"), true), Decision::SendToDelegate);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("KR://preferences"), true), Decision::SendToDelegate);
    // Without a delegate (or without an action) the link does nothing: it is never handed to
    // the system, which might start whatever program claims the scheme.
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("kr://preferences"), false), Decision::Ignore);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("kr:preferences"), true), Decision::Ignore);

    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("https://example.com/"), true), Decision::OpenOutside);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("https://example.com/"), false), Decision::OpenOutside);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("ftp://example.com/"), false), Decision::Ignore);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("file:///app/About.html#credits"), false), Decision::Proceed);
    EXPECT_EQ(KRLinkPolicy::forHTMLWindow(url("mailto:a@example.com"), true), Decision::Ignore);
}

TEST(KRHTMLWindowTemplate, FillsKnownPlaceholdersAndKeepsUnknownOnesAsWritten)
{
    const QString dir = KRTest::makeTempDir();
    KRTest::writeFile(dir + "/About.html",
                      "<p>Version {{KR_VERSION}}</p><p>{{quote}} &mdash; {{ attribution }} {{missing}}</p>");
    bool ok = false;
    const QString html = KRHTMLWindowController::readTemplate(
        dir + "/About.html", {{"KR_VERSION", "1.0.2"}, {"quote", "{{KR_VERSION}}"}}, &ok);
    EXPECT_TRUE(ok);
    // A value is never searched again for placeholders.
    EXPECT_EQ(html, "<p>Version 1.0.2</p><p>{{KR_VERSION}} &mdash; {{ attribution }} {{missing}}</p>");

    KRHTMLWindowController::readTemplate(dir + "/none.html", {}, &ok);
    EXPECT_FALSE(ok);
}

TEST(KRHTMLWindowTemplate, ReadsTheFileInItsOwnEncoding)
{
    const QString dir = KRTest::makeTempDir();
    // Declared Latin-1, BOM-marked UTF-16, undeclared UTF-8 and undeclared Latin-1 bytes.
    KRTest::writeFile(dir + "/latin1.html", "<meta charset=\"iso-8859-1\"><p>caf\xe9 {{x}}</p>");
    KRTest::writeFile(dir + "/utf16.html", QByteArray("\xff\xfe", 2) + QByteArray("c\0\xe9\0", 4));
    KRTest::writeFile(dir + "/utf8.html", "<p>caf\xc3\xa9 {{x}}</p>");
    KRTest::writeFile(dir + "/bytes.html", "<p>caf\xe9 {{x}}</p>");
    const QVariantMap values{{"x", "ok"}};
    EXPECT_TRUE(KRHTMLWindowController::readTemplate(dir + "/latin1.html", values).endsWith(u"<p>caf\u00e9 ok</p>"));
    EXPECT_EQ(KRHTMLWindowController::readTemplate(dir + "/utf16.html", values), u"c\u00e9");
    EXPECT_EQ(KRHTMLWindowController::readTemplate(dir + "/utf8.html", values), u"<p>caf\u00e9 ok</p>");
    EXPECT_EQ(KRHTMLWindowController::readTemplate(dir + "/bytes.html", values), u"<p>caf\u00e9 ok</p>");
}

} // namespace

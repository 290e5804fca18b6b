// Fields and content named like a property of their form or of the document: a form answers
// for its fields by name, the document for named images, frames and objects, ahead of their
// own properties. Each page of a built project runs (no script error, no endless loop, not
// blank), its Send button submits the form, and the server receives the names the user gave.
// The button's text, which looks like markup, shows as the text it is, as on the design surface.
#include "E2ESupport.h"

#include <KRTestSupport.h>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace KRE2E;

namespace {

struct NamedPage {
    QString page;
    QString field;  // the text box's id, which is its field name
    QString button; // the Send button's id
    QString content; // markup of a div on the page
    QString posted; // "name=value" of the submitted address
};

QString pageXML(const NamedPage &p)
{
    QString xml = QStringLiteral(R"(<KRPage id="%1" title="%1" formMethod="get"><KRContents>
<JQMTextbox id="%2" top="10" left="10" width="300" label="Field"/>
<JQMButton id="%3" top="80" left="10" width="300" value="&lt;b&gt;Send&lt;/b&gt;" onClick="%3_onClick"/>
<KRFunction id="%3_onClick" arguments="event">$('#_form_%1').submit();</KRFunction>
)")
                      .arg(p.page, p.field, p.button);
    if (!p.content.isEmpty())
        xml += QStringLiteral(R"(<KRDiv id="box" top="150" left="10" width="300" height="100">%1</KRDiv>
)")
                   .arg(p.content.toHtmlEscaped());
    return xml + QStringLiteral("</KRContents></KRPage>\n");
}

} // namespace

TEST(ShadowingNames, PagesWhoseNamesAreThoseOfFormOrDocumentPropertiesRunAndSend)
{
    if (!webLibrariesStaged())
        GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
    // The page that looped without end before comes last: its process served the pages after it.
    const QList<NamedPage> pages = {
        {QStringLiteral("pageNodeName"), QStringLiteral("nodeName"), QStringLiteral("send"), {}, QStringLiteral("nodeName=typed")},
        {QStringLiteral("pageGetAttribute"), QStringLiteral("getAttribute"), QStringLiteral("send"), {}, QStringLiteral("getAttribute=typed")},
        {QStringLiteral("pageSubmit"), QStringLiteral("note"), QStringLiteral("submit"), {}, QStringLiteral("note=typed")},
        {QStringLiteral("pageAction"), QStringLiteral("action"), QStringLiteral("send"), {}, QStringLiteral("action=typed")},
        {QStringLiteral("pageElements"), QStringLiteral("elements"), QStringLiteral("send"), {}, QStringLiteral("elements=typed")},
        {QStringLiteral("pageContent"), QStringLiteral("note"), QStringLiteral("send"),
         QStringLiteral("<img name=\"createElement\" alt=\"\"><input name=\"querySelector\" value=\"given\">"),
         QStringLiteral("querySelector=given")},
        {QStringLiteral("pageParentNode"), QStringLiteral("parentNode"), QStringLiteral("send"), {}, QStringLiteral("parentNode=typed")},
    };
    QString xml = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
<KRProject JQMVersion="1.4" designTarget="iPhone" startPage="pageNodeName"/>
<KRPages>
)");
    for (const NamedPage &p : pages)
        xml += pageXML(p);
    xml += QStringLiteral("</KRPages></KRProjectDocument>\n");
    const QString package = KRTest::makeTempDir(QStringLiteral("names")) + QStringLiteral("/Names.krproj");
    ASSERT_TRUE(QDir().mkpath(package + QStringLiteral("/kr-web")));
    QFile file(package + QStringLiteral("/project.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(xml.toUtf8());
    file.close();

    QString folder, failure;
    QStringList warnings;
    ASSERT_FALSE(buildPackage(package, folder, failure, &warnings).isEmpty()) << failure.toStdString();
    RuntimeServer server(folder);
    ASSERT_GT(server.port(), 0);
    Browser browser;
    for (const NamedPage &p : pages) {
        SCOPED_TRACE(p.page.toStdString());
        // The build says which control on which page carries the name.
        const QString control = p.field == QLatin1String("note") ? p.button : p.field;
        const QString named = p.content.isEmpty() ? QStringLiteral("\u201C%1\u201D").arg(control) : QStringLiteral("\u201Cbox\u201D");
        EXPECT_TRUE(std::any_of(warnings.cbegin(), warnings.cend(), [&](const QString &w) {
            return w.contains(named) && w.contains(QStringLiteral("\u201C%1\u201D").arg(p.page));
        })) << warnings.join(QLatin1Char('\n')).toStdString();

        ASSERT_TRUE(browser.load(server.url(p.page + QStringLiteral(".html"))));
        if (!browser.waitForPage(p.page, seconds(20))) {
            ADD_FAILURE() << "the page did not run: " << browser.takeErrors().join(QLatin1Char('\n')).toStdString();
            continue;
        }
        const QString button = QStringLiteral("$('#_%1_%2_inp').parent()").arg(p.page, p.button);
        EXPECT_EQ(browser.eval(button + QStringLiteral(".text()")).toString(), QStringLiteral("<b>Send</b>"));
        EXPECT_EQ(browser.eval(button + QStringLiteral(".find('b').length")).toInt(), 0);
        browser.eval(QStringLiteral("$('#_%1_%2_inp').val('typed')").arg(p.page, p.field));
        browser.eval(QStringLiteral("$('#_%1_%2_inp')[0].click()").arg(p.page, p.button));
        // Under the names the user gave, not those the page uses.
        EXPECT_TRUE(browser.waitFor(QStringLiteral("('&' + location.search.substring(1) + '&').indexOf('&%1&') >= 0").arg(p.posted), seconds(20)))
            << "Send did not submit the form with " << p.posted.toStdString() << ": "
            << browser.eval(QStringLiteral("location.href")).toString().toStdString();
        EXPECT_EQ(browser.takeErrors(), QStringList());
    }
}

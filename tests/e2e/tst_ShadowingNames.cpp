// Fields and content named like a property of their form or of the document: a form answers
// for its fields by name, the document for named images, frames and objects, ahead of their
// own properties. Each page of a built project runs (no script error, no endless loop, not
// blank), its Send button submits the form, and the server receives the names the user gave.
// The button's text, which looks like markup, shows as the text it is, as on the design surface.
#include "E2ESupport.h"

#include <KRTestSupport.h>

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

#include <gtest/gtest.h>

using namespace KRE2E;

namespace {

struct NamedPage {
    QString page;
    QString field;  // the text box's id, which is its field name
    QString button; // the Send button's id
    QString content; // markup of a div on the page
    QString posted; // "name=value" of the submitted address
    bool changed;   // whether the build changes a name of the page (and says so)
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

// Writes `xml` as the project of a new package called `name` and builds it into `folder`.
void buildProject(const QString &name, const QString &xml, QString &folder, QStringList &warnings)
{
    const QString package = KRTest::makeTempDir(name.toLower()) + QLatin1Char('/') + name + QStringLiteral(".krproj");
    ASSERT_TRUE(QDir().mkpath(package + QStringLiteral("/kr-web")));
    QFile file(package + QStringLiteral("/project.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(xml.toUtf8());
    file.close();
    QString failure;
    ASSERT_FALSE(buildPackage(package, folder, failure, &warnings).isEmpty()) << failure.toStdString();
}

} // namespace

TEST(ShadowingNames, PagesWhoseNamesAreThoseOfFormOrDocumentPropertiesRunAndSend)
{
    if (!webLibrariesStaged())
        GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
    // The page that looped without end before comes last: its process served the pages after it.
    const QList<NamedPage> pages = {
        {QStringLiteral("pageNodeName"), QStringLiteral("nodeName"), QStringLiteral("send"), {}, QStringLiteral("nodeName=typed"), true},
        {QStringLiteral("pageGetAttribute"), QStringLiteral("getAttribute"), QStringLiteral("send"), {}, QStringLiteral("getAttribute=typed"), true},
        {QStringLiteral("pageSubmit"), QStringLiteral("note"), QStringLiteral("submit"), {}, QStringLiteral("note=typed"), false},
        {QStringLiteral("pageAction"), QStringLiteral("action"), QStringLiteral("send"), {}, QStringLiteral("action=typed"), false},
        {QStringLiteral("pageElements"), QStringLiteral("elements"), QStringLiteral("send"), {}, QStringLiteral("elements=typed"), false},
        {QStringLiteral("pageContent"), QStringLiteral("note"), QStringLiteral("send"),
         QStringLiteral("<img name=\"createElement\" alt=\"\"><input name=\"querySelector\" value=\"given\">"),
         QStringLiteral("querySelector=given"), true},
        {QStringLiteral("pageParentNode"), QStringLiteral("parentNode"), QStringLiteral("send"), {}, QStringLiteral("parentNode=typed"), true},
    };
    QString xml = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
<KRProject JQMVersion="1.4" designTarget="iPhone" startPage="pageNodeName"/>
<KRPages>
)");
    for (const NamedPage &p : pages)
        xml += pageXML(p);
    xml += QStringLiteral("</KRPages></KRProjectDocument>\n");
    QString folder;
    QStringList warnings;
    ASSERT_NO_FATAL_FAILURE(buildProject(QStringLiteral("Names"), xml, folder, warnings));
    RuntimeServer server(folder);
    ASSERT_GT(server.port(), 0);
    Browser browser;
    for (const NamedPage &p : pages) {
        SCOPED_TRACE(p.page.toStdString());
        // The build says which control on which page carries a name it changes, and changes
        // none that does no harm ("submit", "action", "elements", "querySelector").
        const QString control = p.field == QLatin1String("note") ? p.button : p.field;
        const QString named = p.content.isEmpty() ? QStringLiteral("\u201C%1\u201D").arg(control) : QStringLiteral("\u201Cbox\u201D");
        EXPECT_EQ(std::any_of(warnings.cbegin(), warnings.cend(), [&](const QString &w) {
            return w.contains(named) && w.contains(QStringLiteral("\u201C%1\u201D").arg(p.page));
        }), p.changed) << warnings.join(QLatin1Char('\n')).toStdString();

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


namespace {

// Every name a member of the object has in the engine, its prototypes' included.
QStringList memberNames(Browser &browser, const QString &object)
{
    return browser
        .eval(QStringLiteral("(function (o) { var s = {}; for (; o; o = Object.getPrototypeOf(o))"
                             " Object.getOwnPropertyNames(o).forEach(function (k) { s[k] = 1; });"
                             " return Object.keys(s).sort(); })(%1)")
                  .arg(object))
        .toStringList();
}

QString jsList(const QStringList &names)
{
    QStringList quoted;
    for (const QString &name : names)
        quoted << QLatin1Char('"') + name + QLatin1Char('"');
    return QLatin1Char('[') + quoted.join(QLatin1Char(',')) + QLatin1Char(']');
}

} // namespace

// A text field of each name a form has a member of, on one server page with every other kind of
// form control, and a picture of each name the document has a member of beside a hidden field of
// each form member's name as its id, on another: only the names that would stop jQuery or jQuery
// Mobile are changed, every other stands as written, and the pages run with the form's address
// and method set, are enhanced, find their objects, reach their lowest object, send every field
// under its name by POST and by GET, the answer fills each field with what it was sent and with
// 0, "" and false (and a field named "length" with 0 among the others), and the form is reset.
TEST(ShadowingNames, EveryOtherNameOfAFormOrDocumentMemberStandsAsWritten)
{
    if (!webLibrariesStaged())
        GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
    const QSet<QString> breakingForm = {
        QStringLiteral("addEventListener"), QStringLiteral("compareDocumentPosition"), QStringLiteral("getAttribute"),
        QStringLiteral("nodeName"), QStringLiteral("nodeType"), QStringLiteral("ownerDocument"),
        QStringLiteral("parentNode"), QStringLiteral("removeEventListener")};
    const QSet<QString> breakingDocument = breakingForm + QSet<QString>{
        QStringLiteral("createDocumentFragment"), QStringLiteral("createElement"), QStringLiteral("createElementNS"),
        QStringLiteral("createTextNode"), QStringLiteral("getElementById"), QStringLiteral("getElementsByClassName"),
        QStringLiteral("getElementsByTagName")};
    Browser browser;
    ASSERT_TRUE(browser.load(QUrl(QStringLiteral("about:blank"))));
    const QStringList formNames = memberNames(browser, QStringLiteral("document.createElement('form')"));
    const QStringList documentNames = memberNames(browser, QStringLiteral("document"));
    ASSERT_GT(formNames.size(), 300);
    ASSERT_GT(documentNames.size(), 250);

    QString fields, pictures;
    for (qsizetype i = 0; i < formNames.size(); ++i) {
        fields += QStringLiteral("<JQMTextbox id=\"f%1\" name=\"%2\" top=\"%3\" left=\"10\" width=\"300\" label=\"%2\" mini=\"true\""
                                 " value=\"before\"/>\n")
                      .arg(i)
                      .arg(formNames[i])
                      .arg(600 + 60 * i);
        pictures += QStringLiteral("<input type=\"hidden\" id=\"%1\">").arg(formNames[i]);
    }
    for (const QString &name : documentNames)
        pictures += QStringLiteral("<img name=\"%1\" alt=\"\">").arg(name);
    const QString controls = QStringLiteral(R"X(<JQMHeaderToolbar id="header" title="Names" position="fixed" leftButtonLabel="Back" leftButtonGotoPage="(back)"/>
<JQMSelect id="colour" top="60" left="10" width="300" name="colour" label="Colour" value="green" nativeMenu="true">red|Red
green|Green</JQMSelect>
<JQMSelect id="shade" top="130" left="10" width="300" name="shade" label="Shade" value="dark" nativeMenu="false">light|Light
dark|Dark</JQMSelect>
<JQMCheckboxGroup id="extras" top="200" left="10" width="300" name="extras" label="Extras" value="milk">milk|Milk
sugar|Sugar</JQMCheckboxGroup>
<JQMRadioButtonGroup id="size" top="310" left="10" width="300" name="size" label="Size" orientation="horizontal" value="m">s|Small
m|Medium</JQMRadioButtonGroup>
<JQMSlider id="amount" top="390" left="10" width="300" name="amount" label="Amount" min="0" max="10" value="5"/>
<JQMSlideToggle id="notify" top="460" left="10" width="300" name="notify" label="Notify" value="off">off|Off
on|On</JQMSlideToggle>
<JQMTextArea id="notes" top="530" left="10" width="300" height="60" name="notes" label="Notes"/>
<JQMButton id="send" top="10" left="10" width="300" value="Send" onClick="send_onClick"/>
)X");
    // The answer fills the page's fields with what it was sent, or each with the falsy value the
    // address asks for, or with what it was sent but "length" with 0.
    const QString echo = QStringLiteral("<KRFunction id=\"echo\" serverFunction=\"Yes\" arguments=\"request, response\">"
                                        "var falsy = {zero: 0, empty: '', no: false}, answer = request.query.answer;\n"
                                        "for (var k in request.form)\n"
                                        "    response.setFormValue(k, falsy.hasOwnProperty(answer) ? falsy[answer] : request.form[k]);\n"
                                        "if (answer === 'length')\n"
                                        "    response.setFormValue('length', 0);</KRFunction>\n");
    auto page = [&](const QString &id, const QString &attributes, const QString &content) {
        return QStringLiteral("<KRPage id=\"%1\" title=\"%1\" %2><KRContents>\n").arg(id, attributes) + controls
            + QStringLiteral("<KRFunction id=\"send_onClick\" arguments=\"event\">$('#_form_%1').submit();</KRFunction>\n").arg(id)
            + content + QStringLiteral("</KRContents></KRPage>\n");
    };
    const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                                       "<KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" startPage=\"fields\"/>\n<KRPages>\n")
        + page(QStringLiteral("fields"), QStringLiteral("formAction=\"fields.krml\" formMethod=\"post\" onGET=\"echo\" onPOST=\"echo\""),
               fields + echo)
        + page(QStringLiteral("pictures"), QStringLiteral("formAction=\"pictures.krml\" formMethod=\"get\" onGET=\"echo\""),
               QStringLiteral("<JQMTextbox id=\"note\" top=\"600\" left=\"10\" width=\"300\" label=\"Note\"/>\n"
                              "<KRDiv id=\"box\" top=\"670\" left=\"10\" width=\"300\" height=\"100\">%1</KRDiv>\n")
                       .arg(pictures.toHtmlEscaped())
                   + echo)
        + QStringLiteral("</KRPages></KRProjectDocument>\n");
    QString folder;
    QStringList warnings;
    ASSERT_NO_FATAL_FAILURE(buildProject(QStringLiteral("Members"), xml, folder, warnings));
    RuntimeServer server(folder);
    ASSERT_GT(server.port(), 0);

    // Each name stands as written, or as "kr-name-<name>" where it would break the page, and
    // the build names each of those.
    auto namesAsBuilt = [&](const QString &selector, const QString &attribute) {
        // Through the prototype: a picture may stand where the document's own method is.
        return browser.eval(QStringLiteral("Array.prototype.map.call(Document.prototype.querySelectorAll.call(document, '%1'),"
                                           " function (e) { return e.getAttribute('%2'); })")
                                .arg(selector, attribute))
            .toStringList();
    };
    auto expectAsWritten = [&](const QStringList &written, const QStringList &built, const QSet<QString> &breaking,
                               const QString &prefix, const QString &what) {
        ASSERT_EQ(built.size(), written.size()) << what.toStdString();
        for (qsizetype i = 0; i < written.size(); ++i) {
            const QString &name = written[i];
            EXPECT_EQ(built[i], breaking.contains(name) ? prefix + name : name) << what.toStdString();
            if (breaking.contains(name)) {
                EXPECT_TRUE(std::any_of(warnings.cbegin(), warnings.cend(), [&](const QString &w) {
                    return w.contains(QStringLiteral("\u201C%1\u201D").arg(name)) && w.contains(prefix + name);
                })) << name.toStdString() << " is changed without a word: " << warnings.join(QLatin1Char('\n')).toStdString();
            }
        }
    };
    auto expectShownAndEnhanced = [&](const QString &pageID, const QString &fieldsSelector, qsizetype count, qsizetype objectCount,
                                      const QString &lowest) {
        ASSERT_TRUE(browser.waitForPage(pageID, seconds(60)))
            << "the page did not run: " << browser.takeErrors().join(QLatin1Char('\n')).toStdString();
        // The form goes to the page's address, and the page is as tall as its lowest object.
        const QString form = QStringLiteral("document.getElementById('_form_%1')").arg(pageID);
        EXPECT_EQ(browser.eval(QStringLiteral("Element.prototype.getAttribute.call(%1, 'action')").arg(form)).toString(),
                  pageID + QStringLiteral(".krml"));
        EXPECT_TRUE(browser.waitFor(QStringLiteral("Element.prototype.getBoundingClientRect.call(document.getElementById('%1')).bottom + 1"
                                                   " >= Element.prototype.getBoundingClientRect.call(document.getElementById('%1_%2')).bottom")
                                        .arg(pageID, lowest),
                                    seconds(10)))
            << "the page ends above its object " << lowest.toStdString();
        EXPECT_TRUE(browser.eval(QStringLiteral("$('#%1').is(':visible') && $('#%1_send')[0].getBoundingClientRect().height > 0")
                                     .arg(pageID))
                        .toBool())
            << "the page is not drawn";
        // jQuery Mobile wrapped every field, and the page's object model found every control.
        EXPECT_EQ(browser.eval(QStringLiteral("$('%1').filter(function () { return $(this).parent().hasClass('ui-input-text'); }).length")
                                   .arg(fieldsSelector))
                      .toInt(),
                  count);
        EXPECT_EQ(browser.eval(QStringLiteral("$('#_%1_shade_sel').parent().find('.ui-btn').length > 0"
                                              " && $('#_%1_amount_inp').siblings('.ui-slider-track').length").arg(pageID))
                      .toInt(),
                  1);
        const QString objects = QStringLiteral("application._pages.%1._objects").arg(pageID);
        EXPECT_TRUE(browser.eval(QStringLiteral("(function (o) { for (var k in o) if (!o[k].element()) return false;"
                                                " return !!(o.send && o.notes && o.header); })(%1)")
                                     .arg(objects))
                        .toBool());
        EXPECT_EQ(browser.eval(QStringLiteral("Object.keys(%1).length").arg(objects)).toInt(), objectCount);
    };

    // Sent by POST, each field under its name; the answer fills each field by its name.
    ASSERT_TRUE(browser.load(server.url(QStringLiteral("fields.krml"))));
    expectShownAndEnhanced(QStringLiteral("fields"), QStringLiteral("[id^=_fields_f][id$=_inp]"), formNames.size(),
                            formNames.size() + 9, QStringLiteral("f%1").arg(formNames.size() - 1));
    expectAsWritten(formNames, namesAsBuilt(QStringLiteral("[id^=_fields_f][id$=_inp]"), QStringLiteral("name")), breakingForm,
                    QStringLiteral("kr-name-"), QStringLiteral("a field's name"));
    const QString names = jsList(formNames);
    const QString typeEach = QStringLiteral("%1.forEach(function (n, i) { $('#_fields_f' + i + '_inp').val('sent ' + n); });"
                                            " window.krSent = true; $('#_fields_send_inp')[0].click();")
                                 .arg(names);
    // The fields of the answer's page show `expected`, a script of the field's name n.
    auto filled = [&](const QString &expected) {
        return QStringLiteral("!window.krSent && $.mobile.activePage && application._currentPage === $.mobile.activePage[0]"
                              " && %1.every(function (n, i) { return $('#_fields_f' + i + '_inp').val() === (%2); })")
            .arg(names, expected);
    };
    // The fields that do not show it: "name: value".
    auto unfilled = [&](const QString &expected) {
        return browser
            .eval(QStringLiteral("%1.map(function (n, i) { return n + ': ' + $('#_fields_f' + i + '_inp').val(); })"
                                 ".filter(function (s, i) { var n = %1[i]; return $('#_fields_f' + i + '_inp').val() !== (%2); }).slice(0, 8)")
                      .arg(names, expected))
            .toStringList()
            .join(QStringLiteral(", "))
            .toStdString();
    };
    browser.eval(typeEach);
    EXPECT_TRUE(browser.waitFor(filled(QStringLiteral("'sent ' + n")), seconds(60)))
        << "the answer to the POST did not fill every field: " << browser.eval(QStringLiteral("location.href")).toString().toStdString()
        << ": " << unfilled(QStringLiteral("'sent ' + n"));
    EXPECT_TRUE(browser.waitForPage(QStringLiteral("fields"), seconds(60)));
    EXPECT_EQ(browser.takeErrors(), QStringList());

    // Falsy answers fill each field too: an answer is no list, even with "length" among its names.
    const QList<std::pair<QString, QString>> answers = {{QStringLiteral("zero"), QStringLiteral("'0'")},
                                                        {QStringLiteral("empty"), QStringLiteral("''")},
                                                        {QStringLiteral("no"), QStringLiteral("'false'")},
                                                        {QStringLiteral("length"), QStringLiteral("n === 'length' ? '0' : 'sent ' + n")}};
    for (const auto &[answer, expected] : answers) {
        SCOPED_TRACE(answer.toStdString());
        browser.eval(QStringLiteral("Element.prototype.setAttribute.call(document.getElementById('_form_fields'), 'action',"
                                    " 'fields.krml?answer=%1');")
                         .arg(answer));
        browser.eval(typeEach);
        EXPECT_TRUE(browser.waitFor(filled(expected), seconds(60)))
            << "the answer did not fill every field: " << unfilled(expected);
        EXPECT_EQ(browser.takeErrors(), QStringList());
    }

    // By GET, the same form, its method set as the page's own would be.
    browser.eval(QStringLiteral("Element.prototype.setAttribute.call(document.getElementById('_form_fields'), 'method', 'get');"));
    browser.eval(typeEach);
    EXPECT_TRUE(browser.waitFor(filled(QStringLiteral("'sent ' + n")), seconds(60)))
        << "the answer to the GET did not fill every field: " << unfilled(QStringLiteral("'sent ' + n"));
    EXPECT_EQ(browser.eval(QStringLiteral("(function () { var q = new URLSearchParams(location.search);"
                                          " return %1.filter(function (n) { return q.get(n) !== 'sent ' + n; }); })()")
                               .arg(names))
                  .toStringList(),
              QStringList());
    // A field named "reset" takes nothing from jQuery's reset() of the form either, whose
    // handlers hear of it once.
    browser.eval(QStringLiteral("window.krResets = 0; $('#_form_fields').on('reset', function () { ++window.krResets; })"
                                ".trigger('reset');"));
    EXPECT_TRUE(browser.waitFor(QStringLiteral("%1.every(function (n, i) { return $('#_fields_f' + i + '_inp').val() === 'before'; })")
                                    .arg(names),
                                seconds(10)))
        << "the form was not reset";
    EXPECT_EQ(browser.eval(QStringLiteral("window.krResets")).toInt(), 1);
    EXPECT_EQ(browser.takeErrors(), QStringList());

    // Pictures of the document's members' names, and fields named by their ids alone.
    ASSERT_TRUE(browser.load(server.url(QStringLiteral("pictures.krml"))));
    expectShownAndEnhanced(QStringLiteral("pictures"), QStringLiteral("#_pictures_note_inp"), 1, 11, QStringLiteral("box"));
    expectAsWritten(documentNames, namesAsBuilt(QStringLiteral("#pictures_box img"), QStringLiteral("name")),
                    breakingDocument + breakingForm, QStringLiteral("kr-name-"), QStringLiteral("a picture's name"));
    expectAsWritten(formNames, namesAsBuilt(QStringLiteral("#pictures_box input"), QStringLiteral("id")), breakingForm,
                    QStringLiteral("kr-id-"), QStringLiteral("a field's id"));
    browser.eval(QStringLiteral("window.krSent = true; $('#_pictures_note_inp').val('typed'); $('#_pictures_send_inp')[0].click();"));
    EXPECT_TRUE(browser.waitFor(QStringLiteral("!window.krSent && new URLSearchParams(location.search).get('note') === 'typed'"
                                               " && application._currentPage && $('#_pictures_note_inp').val() === 'typed'"),
                                seconds(60)))
        << "the answer did not fill the note";
    EXPECT_EQ(browser.takeErrors(), QStringList());
}

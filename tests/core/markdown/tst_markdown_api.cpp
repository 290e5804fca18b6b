// The buffer, the parser object and the HTML renderer through their C-style interfaces, the
// wrapper's text conversion, its input limit and the buffer limit.

#include <core/markdown/KRMarkdown.h>
#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>
#include <platform/foundation/KRError.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string str(const buf *b)
{
    return std::string(reinterpret_cast<const char *>(b->data), b->size);
}

// Renders with the HTML callbacks as the application configures them, or with the given table.
std::string render(const std::string &doc, const md_callbacks *table = nullptr, size_t nesting = 16)
{
    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);
    buf *ob = bufnew(64);
    md_parser *md = md_parser_new(0, nesting, table ? table : &callbacks, &options);
    md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md);
    md_parser_free(md);
    std::string out = str(ob);
    bufrelease(ob);
    return out;
}

// ---- Buffer -----------------------------------------------------------------------------------

TEST(MarkdownBuffer, growsInWholeUnits)
{
    buf *b = bufnew(64);
    EXPECT_EQ(bufgrow(b, 100), 0);
    EXPECT_EQ(b->asize, 128u);
    EXPECT_EQ(bufgrow(b, 50), 0); // already large enough
    EXPECT_EQ(b->asize, 128u);
    EXPECT_EQ(bufgrow(b, 129), 0);
    EXPECT_EQ(b->asize, 192u);
    bufrelease(b);
}

TEST(MarkdownBuffer, refusesToGrowBeyondItsLimit)
{
    buf *b = bufnew(1024 * 1024);
    EXPECT_EQ(bufgrow(b, BUFFER_MAX_ALLOC_SIZE + 1), -1);
    EXPECT_EQ(b->asize, 0u);
    EXPECT_EQ(bufgrow(b, BUFFER_MAX_ALLOC_SIZE), 0);
    EXPECT_EQ(b->asize, static_cast<size_t>(BUFFER_MAX_ALLOC_SIZE));

    // Writes that would pass the limit are dropped whole and mark the buffer; smaller ones fit.
    b->size = BUFFER_MAX_ALLOC_SIZE - 2;
    bufput(b, "abc", 3);
    EXPECT_EQ(b->size, static_cast<size_t>(BUFFER_MAX_ALLOC_SIZE - 2));
    EXPECT_TRUE(b->failed);
    b->failed = 0;
    bufputs(b, "ab");
    EXPECT_EQ(b->size, static_cast<size_t>(BUFFER_MAX_ALLOC_SIZE));
    EXPECT_FALSE(b->failed);
    bufputc(b, 'x');
    EXPECT_TRUE(b->failed);
    b->failed = 0;
    bufprintf(b, "%d", 42);
    EXPECT_TRUE(b->failed);
    EXPECT_EQ(b->size, static_cast<size_t>(BUFFER_MAX_ALLOC_SIZE));
    EXPECT_EQ(bufcstr(b), nullptr);
    bufreset(b);
    EXPECT_FALSE(b->failed);
    bufrelease(b);
}

TEST(MarkdownBuffer, writes)
{
    buf *b = bufnew(4);
    bufput(b, "ab", 2);
    bufputs(b, "cd");
    bufputc(b, 'e');
    bufprintf(b, "<h%d>", 3);
    EXPECT_EQ(str(b), "abcde<h3>");
    // A format longer than the free space is formatted again after growing.
    bufprintf(b, "%s-%s", std::string(300, 'x').c_str(), "end");
    EXPECT_EQ(b->size, 9u + 304u);
    EXPECT_EQ(str(b).substr(b->size - 4), "-end");

    size_t size = b->size;
    EXPECT_STREQ(bufcstr(b) + size - 3, "end");
    EXPECT_EQ(b->size, size);

    bufslurp(b, 5);
    EXPECT_EQ(str(b).substr(0, 4), "<h3>");
    bufslurp(b, 10000);
    EXPECT_EQ(b->size, 0u);

    bufreset(b);
    EXPECT_EQ(b->data, nullptr);
    EXPECT_EQ(b->asize, 0u);
    bufputs(b, "again");
    EXPECT_EQ(str(b), "again");
    bufrelease(b);
    bufrelease(nullptr);
}

TEST(MarkdownBuffer, prefix)
{
    buf *b = bufnew(16);
    bufputs(b, "mailto:me@x.org");
    EXPECT_EQ(bufprefix(b, "mailto:"), 0);
    EXPECT_EQ(bufprefix(b, ""), 0);
    EXPECT_LT(bufprefix(b, "mailtp:"), 0);
    EXPECT_GT(bufprefix(b, "mailta:"), 0);
    // A buffer shorter than the prefix does not start with it.
    b->size = 4;
    EXPECT_NE(bufprefix(b, "mailto:"), 0);
    b->size = 0;
    EXPECT_NE(bufprefix(b, "m"), 0);
    bufrelease(b);
}

TEST(MarkdownBuffer, pointerStack)
{
    stack st;
    ASSERT_EQ(stack_init(&st, 0), 0);
    EXPECT_EQ(st.asize, 8u);
    EXPECT_EQ(stack_pop(&st), nullptr);
    EXPECT_EQ(stack_top(&st), nullptr);
    int values[20];
    for (int &v : values)
        ASSERT_EQ(stack_push(&st, &v), 0);
    EXPECT_EQ(st.size, 20u);
    EXPECT_EQ(st.asize, 32u);
    EXPECT_EQ(stack_top(&st), &values[19]);
    EXPECT_EQ(stack_pop(&st), &values[19]);
    EXPECT_EQ(st.size, 19u);
    EXPECT_EQ(st.item[19], &values[19]); // popped slots keep their pointer for reuse
    EXPECT_EQ(st.item[25], nullptr);     // new slots are zeroed
    stack_free(&st);
}

// ---- Parser object and callback table -------------------------------------------------------

TEST(MarkdownParser, htmlTableForFlagsZero)
{
    md_callbacks cb;
    html_renderopt options;
    options.flags = 99;
    html_renderer_setup(&cb, &options, 0);
    EXPECT_EQ(options.flags, 0u);
    EXPECT_EQ(options.link_attributes, nullptr);
    EXPECT_EQ(cb.entity, nullptr);
    EXPECT_EQ(cb.doc_header, nullptr);
    EXPECT_EQ(cb.doc_footer, nullptr);
    EXPECT_NE(cb.blockhtml, nullptr);
    EXPECT_NE(cb.image, nullptr);
    EXPECT_NE(cb.link, nullptr);
    EXPECT_NE(cb.autolink, nullptr);
    EXPECT_NE(cb.table_cell, nullptr);
    EXPECT_NE(cb.superscript, nullptr);
    EXPECT_NE(cb.normal_text, nullptr);
}

TEST(MarkdownParser, renderFlagsTakeCallbacksOut)
{
    md_callbacks cb;
    html_renderopt options;
    html_renderer_setup(&cb, &options, HTML_SKIP_IMAGES);
    EXPECT_EQ(cb.image, nullptr);
    EXPECT_NE(cb.link, nullptr);
    html_renderer_setup(&cb, &options, HTML_SKIP_LINKS);
    EXPECT_EQ(cb.link, nullptr);
    EXPECT_EQ(cb.autolink, nullptr);
    html_renderer_setup(&cb, &options, HTML_SKIP_HTML);
    EXPECT_EQ(cb.blockhtml, nullptr);
    html_renderer_setup(&cb, &options, HTML_ESCAPE);
    EXPECT_EQ(cb.blockhtml, nullptr);

    // Without the image callback an image stays text; without blockhtml a div is a paragraph.
    html_renderer_setup(&cb, &options, HTML_SKIP_IMAGES | HTML_SKIP_HTML);
    EXPECT_EQ(render("![a](/i) [b](/l)\n", &cb), "<p>![a](/i) <a href=\"/l\">b</a></p>\n");
    EXPECT_EQ(render("<div>\nx\n</div>\n", &cb), "<p><div>\nx\n</div></p>\n");
}

TEST(MarkdownParser, missingCallbacksSkipBlocksAndCopySpans)
{
    md_callbacks cb = {};
    EXPECT_EQ(render("# h\n\npara *a* [b](/c) <x>\n\n    code\n> q\n- l\n", &cb), "");

    // Only paragraph: spans are copied unchanged, the "<" is not escaped.
    cb.paragraph = [](buf *ob, const buf *text, void *) {
        bufputs(ob, "P[");
        bufput(ob, text->data, text->size);
        bufputs(ob, "]");
    };
    EXPECT_EQ(render("a *b* <i> & \"c\"\n", &cb), "P[a *b* <i> & \"c\"]");
}

TEST(MarkdownParser, documentCallbacksAndEntityCallback)
{
    md_callbacks cb;
    html_renderopt options;
    html_renderer_setup(&cb, &options, 0);
    cb.doc_header = [](buf *ob, void *) { bufputs(ob, "[head]"); };
    cb.doc_footer = [](buf *ob, void *) { bufputs(ob, "[foot]"); };
    cb.entity = [](buf *ob, const buf *text, void *) {
        bufputs(ob, "{");
        bufput(ob, text->data, text->size);
        bufputs(ob, "}");
    };
    EXPECT_EQ(render("&copy;\n", &cb), "[head]\n<p>{&copy;}</p>\n[foot]");
    EXPECT_EQ(render("", &cb), "[head][foot]");
}

TEST(MarkdownParser, oneParserRendersAgainWithFreshReferences)
{
    md_callbacks cb;
    html_renderopt options;
    html_renderer_setup(&cb, &options, 0);
    md_parser *md = md_parser_new(0, 16, &cb, &options);
    ASSERT_NE(md, nullptr);
    buf *ob = bufnew(64);
    const std::string first = "[r]: /one\n> *a* [r]\n";
    const std::string second = "[r]\n";
    md_parser_render(ob, reinterpret_cast<const uint8_t *>(first.data()), first.size(), md);
    EXPECT_EQ(str(ob), "<blockquote>\n<p><em>a</em> <a href=\"/one\">r</a></p>\n</blockquote>\n");
    ob->size = 0;
    md_parser_render(ob, reinterpret_cast<const uint8_t *>(second.data()), second.size(), md);
    EXPECT_EQ(str(ob), "<p>[r]</p>\n");
    bufrelease(ob);
    md_parser_free(md);
    md_parser_free(nullptr);
}

// "ipigcnu" and "mgbclui" have the same 32-bit hash (lower(b) + 65599 * h): each link still
// takes the address of its own label, a label in other case is the same label, and a label of
// the same hash that nothing defines links nowhere.
TEST(MarkdownParser, referenceLabelsOfTheSameHashStayApart)
{
    EXPECT_EQ(render("[ipigcnu]: /one\n[mgbclui]: /two\n\n[a][ipigcnu], [b][mgbclui], [MGBCLUI], [IpigCnu][]\n"),
              "<p><a href=\"/one\">a</a>, <a href=\"/two\">b</a>, <a href=\"/two\">MGBCLUI</a>, "
              "<a href=\"/one\">IpigCnu</a></p>\n");
    EXPECT_EQ(render("[ipigcnu]: /one\n\n[mgbclui], [x][mgbclui]\n"), "<p>[mgbclui], [x][mgbclui]</p>\n");
    // A later definition of the same label still replaces the earlier one.
    EXPECT_EQ(render("[mgbclui]: /two\n[ipigcnu]: /one\n[MgbClui]: /three\n\n[mgbclui], [ipigcnu]\n"),
              "<p><a href=\"/three\">mgbclui</a>, <a href=\"/one\">ipigcnu</a></p>\n");
    // Past the first table size: each of many labels keeps its address while the table grows.
    std::string doc;
    for (int i = 0; i < 100; ++i)
        doc += "[l" + std::to_string(i) + "]: /" + std::to_string(i) + "\n";
    doc += "[ipigcnu]: /one\n[mgbclui]: /two\n\n[ipigcnu], [mgbclui], [l42], [l99]\n";
    EXPECT_EQ(render(doc), "<p><a href=\"/one\">ipigcnu</a>, <a href=\"/two\">mgbclui</a>, <a href=\"/42\">l42</a>, "
                           "<a href=\"/99\">l99</a></p>\n");
}

TEST(MarkdownParser, nestingLimitIsConfigurable)
{
    EXPECT_EQ(render("> a\n", nullptr, 2), "<blockquote>\n<p>a</p>\n</blockquote>\n");
    EXPECT_EQ(render("> a\n", nullptr, 1), "<blockquote>\n<p>a</p>\n</blockquote>\n");
    EXPECT_EQ(render("*a*\n", nullptr, 1), "<p>*a*</p>\n");
}

TEST(MarkdownParser, version)
{
    int major = 0, minor = 0, revision = -1;
    md_version(&major, &minor, &revision);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 16);
    EXPECT_EQ(revision, 0);
}

// ---- Escaping -------------------------------------------------------------------------------

TEST(MarkdownEscaping, html)
{
    buf *ob = bufnew(16);
    const std::string in = "<a href=\"x\">it's & /\n\xC3\xA9</a>";
    escape_html(ob, reinterpret_cast<const uint8_t *>(in.data()), in.size(), 0);
    EXPECT_EQ(str(ob), "&lt;a href=&quot;x&quot;&gt;it&#39;s &amp; /\n\xC3\xA9&lt;/a&gt;");
    ob->size = 0;
    escape_html(ob, reinterpret_cast<const uint8_t *>("a/b"), 3, 1);
    EXPECT_EQ(str(ob), "a&#47;b");
    bufrelease(ob);
}

TEST(MarkdownEscaping, href)
{
    buf *ob = bufnew(16);
    const std::string in = std::string("az09-_.!*(),;:@=+$/?#%&' ~\"<>\x7f\xC3\xA9") + '\0';
    escape_href(ob, reinterpret_cast<const uint8_t *>(in.data()), in.size());
    EXPECT_EQ(str(ob), "az09-_.!*(),;:@=+$/?#%&amp;&#x27;%20%7E%22%3C%3E%7F%C3%A9%00");
    bufrelease(ob);
}

// Plain text is stepped over many bytes at a time: a mark is found wherever it falls in a long
// run of letters, from just after the first letter to the run's last byte.
TEST(MarkdownEscaping, marksAnywhereInLongRuns)
{
    const struct {
        const char *markdown;
        const char *html;
    } marks[] = {
        {"\"", "&quot;"},      {"&", "&amp;"},   {"'", "&#39;"},  {"/", "/"},          {"<", "&lt;"},
        {">", "&gt;"},          {"*x*", "<em>x</em>"}, {"__x__", "<strong>x</strong>"}, {"`c`", "<code>c</code>"},
        {"[l](u)", "<a href=\"u\">l</a>"}, {"<b>", "<b>"}, {"\\*", "*"}, {"&amp;", "&amp;"},
        {"  \nz", "<br>\nz"},
    };
    const size_t run = 40;
    for (const auto &mark : marks) {
        for (size_t at = 1; at <= run; ++at) {
            const std::string before(at, 'a'), after(run - at, 'a');
            EXPECT_EQ(render(before + mark.markdown + after), "<p>" + before + mark.html + after + "</p>\n")
                << mark.markdown << " after " << at << " letters";
        }
    }
    // Straight through the escaping, one mark in each block of sixteen bytes.
    buf *ob = bufnew(16);
    std::string in(64, 'a');
    for (size_t at = 3; at < in.size(); at += 17)
        in[at] = '<';
    escape_html(ob, reinterpret_cast<const uint8_t *>(in.data()), in.size(), 0);
    std::string expected;
    for (char c : in)
        expected += c == '<' ? "&lt;" : std::string(1, c);
    EXPECT_EQ(str(ob), expected);
    bufrelease(ob);
}

// ---- KRMarkdown ----------------------------------------------------------------------------

TEST(KRMarkdown, textConversion)
{
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QString()), QString());
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QStringLiteral("a")), QStringLiteral("<p>a</p>\n"));
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QStringLiteral("a\r")), QStringLiteral("<p>a</p>\n"));
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QStringLiteral("# Caf\u00e9 \u2603 \U0001F600")),
              QStringLiteral("<h1>Caf\u00e9 \u2603 \U0001F600</h1>\n"));
    // A byte-order mark at the start is skipped.
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QStringLiteral("\uFEFF# Title")), QStringLiteral("<h1>Title</h1>\n"));
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QStringLiteral("a\uFEFF")), QStringLiteral("<p>a\uFEFF</p>\n"));
    // NUL characters pass through as text.
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(QString::fromUtf8("a\0b", 3)), QString::fromUtf8("<p>a\0b</p>\n", 11));
}

TEST(KRMarkdown, textBeyondTheBufferLimitRendersNothing)
{
    QString text(MD_INPUT_MAX_SIZE + 1, QLatin1Char('a'));
    KRError error;
    EXPECT_EQ(KRMarkdown::htmlFromMarkdown(text, &error), QString());
    EXPECT_EQ(error.domain(), QStringLiteral("KRMarkdown"));
    EXPECT_EQ(error.code(), 1);
}

// Output far beyond the input limit is rendered whole; output past the buffer limit fails the
// render with an error instead of returning a cut rendering.
TEST(KRMarkdown, largeOutputIsWholeOrAnError)
{
    // One 10 MB line of inline formatting: more than three times as much HTML.
    const int words = 1750000;
    KRError error;
    QString html = KRMarkdown::htmlFromMarkdown(QStringLiteral("**a** ").repeated(words) + QStringLiteral("**a**"), &error);
    const QString expectedLine = QStringLiteral("<p>") + QStringLiteral("<strong>a</strong> ").repeated(words) +
                                 QStringLiteral("<strong>a</strong></p>\n");
    EXPECT_EQ(html.size(), expectedLine.size());
    EXPECT_TRUE(html == expectedLine);
    EXPECT_TRUE(error.isNull()) << error.toString().toStdString();

    // A 15 MB document keeps every paragraph, up to the last.
    QString doc, expected;
    for (int i = 0; doc.size() < 15000000; ++i) {
        doc += QStringLiteral("Paragraph %1 says \"a < b\" _twice_.\n\n").arg(i);
        expected += QStringLiteral("%1<p>Paragraph %2 says &quot;a &lt; b&quot; <em>twice</em>.</p>\n")
                        .arg(i ? QStringLiteral("\n") : QString())
                        .arg(i);
    }
    html = KRMarkdown::htmlFromMarkdown(doc, &error);
    EXPECT_EQ(html.size(), expected.size());
    EXPECT_TRUE(html == expected);
    EXPECT_TRUE(error.isNull()) << error.toString().toStdString();

    // A long destination used again and again: past the buffer limit, nothing but an error.
    const std::string destination(1024 * 1024, 'u');
    std::string amplified = "[r]: /" + destination + "\n\n";
    for (int i = 0; i < 140; ++i)
        amplified += "[r], ";
    html = KRMarkdown::htmlFromMarkdown(QString::fromStdString(amplified), &error);
    EXPECT_TRUE(html.isEmpty()) << html.size();
    EXPECT_EQ(error.code(), 2);
    EXPECT_FALSE(error.message().isEmpty());

    // The parser reports the failure to its caller too.
    md_callbacks cb;
    html_renderopt options;
    html_renderer_setup(&cb, &options, 0);
    buf *ob = bufnew(64);
    md_parser *md = md_parser_new(0, 16, &cb, &options);
    EXPECT_EQ(md_parser_render(ob, reinterpret_cast<const uint8_t *>(amplified.data()), amplified.size(), md), -1);
    // The same parser renders a small text again without a failure.
    EXPECT_EQ(md_parser_render(ob, reinterpret_cast<const uint8_t *>("a"), 1, md), 0);
    md_parser_free(md);
    bufrelease(ob);
}

TEST(MarkdownLimit, outputBeyondTheLimitFailsTheRender)
{
    md_callbacks cb;
    html_renderopt options;
    html_renderer_setup(&cb, &options, 0);
    buf *ob = bufnew(64);
    ASSERT_EQ(bufgrow(ob, BUFFER_MAX_ALLOC_SIZE), 0);
    ob->size = BUFFER_MAX_ALLOC_SIZE - 8;
    const std::string doc = "# a header longer than what is left\n\n\"quoted\" text\n";
    md_parser *md = md_parser_new(0, 16, &cb, &options);
    EXPECT_EQ(md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md), -1);
    md_parser_free(md);
    EXPECT_LE(ob->size, static_cast<size_t>(BUFFER_MAX_ALLOC_SIZE));
    EXPECT_TRUE(ob->failed);
    bufrelease(ob);
}

// ---- Pathological inputs: output shape only -----------------------------------------------

TEST(MarkdownPathological, manyOpenBrackets)
{
    const std::string doc(50000, '[');
    EXPECT_EQ(render(doc), "<p>" + doc + "</p>\n");
    // Only the innermost bracket closes.
    EXPECT_EQ(render(doc + "a](/u)"), "<p>" + doc.substr(1) + "<a href=\"/u\">a</a></p>\n");
}

TEST(MarkdownPathological, manyOpenersWithoutCloser)
{
    std::string stars, tags;
    for (int i = 0; i < 20000; ++i) {
        stars += "*a _b *c ";
        tags += "<b ";
    }
    EXPECT_EQ(render(stars), "<p>" + stars + "</p>\n");
    std::string escaped;
    for (int i = 0; i < 20000; ++i)
        escaped += "&lt;b ";
    EXPECT_EQ(render(tags), "<p>" + escaped + "</p>\n");
}

TEST(MarkdownPathological, deepQuotesAndLists)
{
    const std::string quotes(5000, '>');
    const std::string out = render(quotes + " x\n");
    EXPECT_NE(out.find(" x</p>"), std::string::npos);

    std::string list;
    for (int i = 0; i < 200; ++i)
        list += std::string(i * 2, ' ') + "- item\n";
    EXPECT_NE(render(list).find("<li>item"), std::string::npos);
}

// Shapes that once cost time growing with the square of their size render as a plain reading
// says, and text nested past the limit is kept, not dropped.
TEST(MarkdownPathological, slowShapesRenderWholeAndDeepTextIsKept)
{
    const auto repeat = [](const std::string &s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    const int n = 3000;

    // Nested closed brackets: the outermost is the link, the others its text.
    EXPECT_EQ(render(std::string(n, '[') + "a" + std::string(n, ']') + "(b)"),
              "<p><a href=\"b\">" + std::string(n - 1, '[') + "a" + std::string(n - 1, ']') + "</a></p>\n");
    // Many definitions, then a use of each.
    std::string defs, uses, links;
    for (int i = 0; i < n; ++i) {
        const std::string k = std::to_string(i);
        defs += "[r" + k + "]: /u" + k + "\n";
        uses += "[r" + k + "], ";
        links += "<a href=\"/u" + k + "\">r" + k + "</a>, ";
    }
    uses.resize(uses.size() - 2);
    links.resize(links.size() - 2);
    EXPECT_EQ(render(defs + "\n" + uses + "\n"), "<p>" + links + "</p>\n");
    // A long label is no reference: nested brackets around one defined name stay text but the
    // innermost.
    EXPECT_EQ(render("[a]: /d\n\n" + std::string(n, '[') + "a" + std::string(n, ']') + "\n"),
              "<p>" + std::string(n - 1, '[') + "<a href=\"/d\">a</a>" + std::string(n - 1, ']') + "</p>\n");
    // Unclosed and closed brackets mixed; images refused for want of a destination.
    EXPECT_EQ(render(std::string(n, '[') + repeat("[a](b)", n)),
              "<p>" + std::string(n, '[') + repeat("<a href=\"b\">a</a>", n) + "</p>\n");
    EXPECT_EQ(render(repeat("![", n) + "a" + repeat("]()", n)), "<p>" + repeat("![", n) + "a" + repeat("]()", n) + "</p>\n");
    EXPECT_EQ(render(repeat("![a]( \"", n) + "\")"), "<p>" + repeat("![a]( &quot;", n) + "&quot;)</p>\n");
    // Link tails that never end: an escaped ")", a title never followed by ")".
    EXPECT_EQ(render(repeat("[a](", n) + "\\)"), "<p>" + repeat("[a](", n) + ")</p>\n");
    EXPECT_EQ(render(repeat("[a](x", n) + " \")"), "<p>" + repeat("[a](x", n) + " &quot;)</p>\n");
    // Emphasis openers whose only closer lies in a code span, a link or after a bracket.
    EXPECT_EQ(render(repeat("*a ", n) + "`b*`"), "<p>" + repeat("*a ", n) + "<code>b*</code></p>\n");
    EXPECT_EQ(render(repeat("*a ", n) + "[b*](c)"), "<p>" + repeat("*a ", n) + "<a href=\"c\">b*</a></p>\n");
    EXPECT_EQ(render(repeat("*x[", n) + "]"), "<p>" + repeat("<em>x[</em>x[", n / 2) + "]</p>\n");
    // A backtick run that opens nothing, and block openers that never close.
    EXPECT_EQ(render(std::string(n, '`') + repeat("a ", n)), "<p>" + std::string(n, '`') + repeat("a ", n) + "</p>\n");
    EXPECT_EQ(render(repeat("<div>\n\n", 3)), "<p><div></p>\n\n<p><div></p>\n\n<p><div></p>\n");
    EXPECT_EQ(render(repeat("<!--\n\n", 2) + "-->x\n"), "<p>&lt;!--</p>\n\n<p>&lt;!--</p>\n\n<p>--&gt;x</p>\n");

    // Past the nesting limit the text stays, as a paragraph: a deep quote keeps its words, deep
    // list items their text.
    const std::string quote = render(std::string(5000, '>') + " deep words\n");
    EXPECT_NE(quote.find(" deep words</p>\n</blockquote>"), std::string::npos);
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += std::string(i * 4, ' ') + "- item" + std::to_string(i) + "\n";
    const std::string items = render(list);
    for (int i = 0; i < 40; ++i)
        EXPECT_NE(items.find("item" + std::to_string(i) + (i == 39 ? "</p>" : "\n")), std::string::npos) << i;
    EXPECT_EQ(items.find("<li></li>"), std::string::npos);
    EXPECT_EQ(render("# " + std::string(20, '>') + "\n", nullptr, 1), "<h1>" + repeat("&gt;", 20) + "</h1>\n");
}

} // namespace

// Seeded random documents through the renderer under the sanitizers: no crash, no hang, no
// leak, and the same document always renders the same way. Fixed seed, so every run checks the
// same 100,000 documents.

#include <core/markdown/buffer.h>
#include <core/markdown/html.h>
#include <core/markdown/parser.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace {

const std::string_view tokens[] = {
    "*", "_", "**", "__", "***", "`", "``", "[", "]", "[[", "]]", "(", ")", "![", "](", "][", "<", ">",
    "</", "<div>", "</div>", "<ins>", "</ins>", "<!--", "-->", "<hr>", "<b>", "<a@b.c>", "<http://x>",
    "&", "&amp;", "&#", "&#169;", ";", "\\", "\\*", "\\[", "\n", "\n\n", "\r", "\r\n", " ", "  ", "    ",
    "\t", "#", "###", "-", "- ", "+ ", "* ", "1. ", "> ", ">", "=", "===", "---", "\"", "'", ":", "@",
    "http://", "mailto:", "a", "word ", "text", "[x]: /u\n", "[x]", "[X][]", " \"t\"", "\xC3\xA9",
    "\xFF", std::string_view("\0", 1),
};
const size_t tokenCount = sizeof tokens / sizeof tokens[0];

std::string makeDocument(std::mt19937 &rng)
{
    std::string doc;
    std::uniform_int_distribution<size_t> pick(0, tokenCount - 1);
    std::uniform_int_distribution<int> count(0, 24);
    std::uniform_int_distribution<int> percent(0, 99);
    int n = count(rng);
    for (int i = 0; i < n; ++i) {
        const std::string_view token = tokens[pick(rng)];
        doc += token;
        // Now and then a long run of one token: long lines, deep brackets, many openers.
        if (percent(rng) == 0) {
            for (int k = 0; k < 60; ++k)
                doc += token;
        }
    }
    return doc;
}

std::string render(const std::string &doc, size_t nesting)
{
    md_callbacks callbacks;
    html_renderopt options;
    html_renderer_setup(&callbacks, &options, 0);
    buf *ob = bufnew(64);
    md_parser *md = md_parser_new(0, nesting, &callbacks, &options);
    md_parser_render(ob, reinterpret_cast<const uint8_t *>(doc.data()), doc.size(), md);
    md_parser_free(md);
    std::string out(reinterpret_cast<const char *>(ob->data), ob->size);
    bufrelease(ob);
    return out;
}

TEST(MarkdownRandom, hundredThousandDocuments)
{
    std::mt19937 rng(20261207);
    size_t totalIn = 0, totalOut = 0;
    for (int i = 0; i < 100000; ++i) {
        const std::string doc = makeDocument(rng);
        const size_t nesting = (i % 7 == 0) ? 1 + i % 5 : 16;
        const std::string html = render(doc, nesting);
        totalIn += doc.size();
        totalOut += html.size();
        if (i % 100 == 0) {
            ASSERT_EQ(render(doc, nesting), html) << "document " << i;
        }
    }
    EXPECT_GT(totalIn, 0u);
    EXPECT_GT(totalOut, 0u);
}

} // namespace

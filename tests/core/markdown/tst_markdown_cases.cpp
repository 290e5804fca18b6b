// Golden tests: every example of the case files under tests/data/markdown/ rendered through
// KRMarkdown::htmlFromMarkdown and compared byte for byte.
//
// Case files: free text and headings, and examples fenced by a line of 32 backticks followed by
// " example" and a line of 32 backticks; inside, the Markdown input, a line holding only ".",
// then the expected HTML. Input and expected text are the lines joined, each ending with a line
// feed. In inputs "→" stands for a tab and "␍" for a carriage return.

#include <core/markdown/KRMarkdown.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct MarkdownCase {
    std::string file;
    int line = 0;
    std::string input;
    std::string expected;
};

void replaceAll(std::string &s, const std::string &from, const std::string &to)
{
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

std::vector<MarkdownCase> loadCases()
{
    namespace fs = std::filesystem;
    static const std::string fence(32, '`');
    std::vector<fs::path> files;
    const fs::path dir = fs::path(KR_TEST_DATA_DIR) / "markdown";
    if (fs::is_directory(dir)) {
        for (const auto &entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".txt")
                files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    std::vector<MarkdownCase> cases;
    for (const auto &path : files) {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        int lineNumber = 0;
        enum { Outside, Input, Expected } state = Outside;
        MarkdownCase current;
        while (std::getline(in, line)) {
            ++lineNumber;
            if (state == Outside) {
                if (line == fence + " example") {
                    current = MarkdownCase();
                    current.file = path.stem().string();
                    current.line = lineNumber;
                    state = Input;
                }
            } else if (state == Input) {
                if (line == ".")
                    state = Expected;
                else
                    current.input += line + "\n";
            } else if (line == fence) {
                replaceAll(current.input, "→", "\t");
                replaceAll(current.input, "␍", "\r");
                cases.push_back(current);
                state = Outside;
            } else {
                current.expected += line + "\n";
            }
        }
    }
    return cases;
}

const std::vector<MarkdownCase> &allCases()
{
    static const std::vector<MarkdownCase> cases = loadCases();
    return cases;
}

class MarkdownGolden : public ::testing::TestWithParam<MarkdownCase>
{
};

TEST_P(MarkdownGolden, rendersExpectedHtml)
{
    const MarkdownCase &c = GetParam();
    const QString html = KRMarkdown::htmlFromMarkdown(QString::fromStdString(c.input));
    EXPECT_EQ(html.toStdString(), c.expected) << c.file << ".txt line " << c.line << "\ninput:\n" << c.input;
}

INSTANTIATE_TEST_SUITE_P(CaseFiles, MarkdownGolden, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<MarkdownCase> &info) {
                             std::string name = info.param.file + "_line" + std::to_string(info.param.line);
                             std::replace_if(name.begin(), name.end(),
                                             [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
                             return name;
                         });

TEST(MarkdownGoldenFiles, everyConstructHasItsFile)
{
    std::vector<std::string> files;
    for (const auto &c : allCases())
        if (std::find(files.begin(), files.end(), c.file) == files.end())
            files.push_back(c.file);
    for (const char *expected : {"autolinks", "code", "document", "emphasis", "entities", "escapes", "headers",
                                 "links", "lists", "nesting", "quotes", "raw-html", "regressions"})
        EXPECT_NE(std::find(files.begin(), files.end(), expected), files.end()) << expected;
}

} // namespace

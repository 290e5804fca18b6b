#include <core/KRJavaScript.h>

#include <KRTestSupport.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

struct QuoteRow
{
    const char *name;
    QString input;
    QString expected;
};

class QuotedString : public ::testing::TestWithParam<QuoteRow>
{};

TEST_P(QuotedString, Escapes)
{
    EXPECT_EQ(KRJavaScript::quotedString(GetParam().input).toStdString(), GetParam().expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuotedString,
    ::testing::Values(QuoteRow{"plain", QStringLiteral("Hello"), QStringLiteral("\"Hello\"")},
                      QuoteRow{"empty", QString(), QStringLiteral("\"\"")},
                      QuoteRow{"doubleQuote", QStringLiteral("say \"hi\""), QStringLiteral("\"say \\\"hi\\\"\"")},
                      QuoteRow{"escapedQuoteStaysOneLiteral", QStringLiteral("a\\\"b"), QStringLiteral("\"a\\\\\\\"b\"")},
                      QuoteRow{"trailingBackslash", QStringLiteral("C:\\"), QStringLiteral("\"C:\\\\\"")},
                      QuoteRow{"lineBreaks", QStringLiteral("a\nb\r\nc"), QStringLiteral("\"a\\nb\\r\\nc\"")},
                      QuoteRow{"separators", QString::fromUtf16(u"a\u2028b\u2029c"), QStringLiteral("\"a\\u2028b\\u2029c\"")},
                      QuoteRow{"scriptEnd", QStringLiteral("</script><b>"), QStringLiteral("\"<\\/script><b>\"")},
                      QuoteRow{"commentOpen", QStringLiteral("<!--x"), QStringLiteral("\"\\x3C!--x\"")},
                      QuoteRow{"control", QString(QChar(1)), QStringLiteral("\"\\x01\"")},
                      QuoteRow{"mixedRuns", QString::fromUtf16(u"a/b\u007f c</d\te"), QStringLiteral("\"a/b\\x7f c<\\/d\\te\"")},
                      QuoteRow{"unicodeKept", QString::fromUtf16(u"\u00e9\u4e2d"), QString::fromUtf16(u"\"\u00e9\u4e2d\"")}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NumberLiteral, KeepsSignAndEmitsValidNumbers)
{
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("12px")), QStringLiteral("12"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("-5")), QStringLiteral("-5"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("1.5")), QStringLiteral("1.5"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("50%")), QStringLiteral("50"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral(".5")), QStringLiteral("0.5"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("-0.25em")), QStringLiteral("-0.25"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("007")), QStringLiteral("7"));
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("1e3")), QStringLiteral("1e3"));
    // Not numbers: no initialiser rather than a wrong value.
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("1,5")), QString());
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("1.2.3")), QString());
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("abc")), QString());
    EXPECT_EQ(KRJavaScript::numberLiteral(QStringLiteral("px")), QString());
}

TEST(Identifier, FollowsTheIdRule)
{
    EXPECT_TRUE(KRJavaScript::isValidIdentifier(QStringLiteral("$x")));
    EXPECT_TRUE(KRJavaScript::isValidIdentifier(QStringLiteral("_a1")));
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QStringLiteral("x$")));
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QStringLiteral("1a")));
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QStringLiteral("a-b")));
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QString()));
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QStringLiteral("a\nb")));
}

// The hand-written check answers as the pattern it stands for, anchored at the very end, on
// the edges where a hand-written check tends to differ: line ends (an id "a\n" would break the
// string literals of the page scripts), non-ASCII letters and digits, "$" inside.
TEST(Identifier, AnswersAsTheIdentifierPatternWithoutAFinalLineFeed)
{
    const QRegularExpression pattern(QStringLiteral("^[$A-Za-z_][0-9A-Za-z_]*\\z"));
    const QStringList samples{QString(), QStringLiteral("a"), QStringLiteral("$"), QStringLiteral("_"),
                              QStringLiteral("a\n"), QStringLiteral("\n"), QStringLiteral("a\n\n"),
                              QStringLiteral("a\r\n"), QStringLiteral("a\r"), QStringLiteral("\na"),
                              QStringLiteral("a b"), QStringLiteral("a$b"), QStringLiteral("Z9_"),
                              QStringLiteral("9Z"), QString::fromUtf8("caf\u00e9"), QString::fromUtf8("\u00e9t\u00e9"),
                              QString::fromUtf8("x\u0663"), QStringLiteral("a\u0000"), QStringLiteral("[a]"),
                              QStringLiteral("a`"), QStringLiteral("a@"), QStringLiteral("a{")};
    for (const QString &sample : samples)
        EXPECT_EQ(KRJavaScript::isValidIdentifier(sample), !sample.isEmpty() && pattern.match(sample).hasMatch())
            << sample.toStdString();
    EXPECT_FALSE(KRJavaScript::isValidIdentifier(QStringLiteral("a\n")));
}

// Hostile values must give a script that parses, and reading each literal back must give
// the value.
TEST(QuotedString, NodeParsesHostileValues)
{
    const QString node = QStringLiteral("/usr/bin/node");
    if (!QFile::exists(node))
        GTEST_SKIP() << "node is not installed at /usr/bin/node";
    const QStringList values = {QStringLiteral("a\"b"), QStringLiteral("back\\"), QStringLiteral("a\\\"b"),
                                QStringLiteral("line1\nline2\r\n"), QString::fromUtf16(u"x\u2028y\u2029z"),
                                QStringLiteral("</script><script>alert(1)</script>"), QStringLiteral("'single'"),
                                QStringLiteral("<!-- -->"), QString(QChar(0x7f)) + QChar(1) + QChar(0x1b)};
    QString script = QStringLiteral("'use strict';\nconst expected = [];\nconst got = [];\n");
    for (const QString &value : values) {
        script += QStringLiteral("got.push(%1);\n").arg(KRJavaScript::quotedString(value));
        QString codes;
        for (QChar c : value)
            codes += QString::number(c.unicode()) + QLatin1Char(',');
        script += QStringLiteral("expected.push(String.fromCharCode(%1));\n").arg(codes.isEmpty() ? QString() : codes.chopped(1));
    }
    script += QStringLiteral("for (let i = 0; i < got.length; i++) if (got[i] !== expected[i]) { console.log('mismatch ' + i); process.exit(3); }\n");
    const QString path = KRTest::makeTempDir() + QStringLiteral("/hostile.js");
    KRTest::writeFile(path, script.toUtf8());
    QProcess check;
    check.start(node, {QStringLiteral("--check"), path});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardError().toStdString();
    QProcess run;
    run.start(node, {path});
    ASSERT_TRUE(run.waitForFinished(30000));
    EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardOutput().toStdString() << run.readAllStandardError().toStdString();
}

} // namespace

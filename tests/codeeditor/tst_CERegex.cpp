#include <codeeditor/CERegex.h>
#include <codeeditor/CEScanner.h>

#include <gtest/gtest.h>

namespace {

QString exceptionName(const std::function<void()> &call)
{
    try {
        call();
    } catch (const CERegexException &error) {
        return error.name();
    }
    return {};
}

} // namespace

TEST(CERegex, MatchRangesAreQStringIndices)
{
    // A U+0000 and a surrogate pair before the match: ICU gets the whole text and counts UTF-16
    // units like QString.
    const QString text = QString("a") + QChar(0) + QString::fromUtf8("\xF0\x9F\x98\x80 \"str\" x \"two\"");
    RegexMatcher matcher(std::make_shared<RegexPattern>(R"(\W"[^"]*")"), text);
    ASSERT_TRUE(matcher.findNext());
    EXPECT_EQ(matcher.rangeOfMatch(), (CERange{text.indexOf(" \"str"), 6}));
    ASSERT_TRUE(matcher.findNext());
    EXPECT_EQ(matcher.group(), " \"two\"");
    EXPECT_FALSE(matcher.findNext());
    ASSERT_TRUE(matcher.findFromIndex(0));
    EXPECT_EQ(matcher.rangeOfMatch().location, 4);

    RegexMatcher groups(std::make_shared<RegexPattern>("(a)|(b)"), "b");
    ASSERT_TRUE(groups.findNext());
    EXPECT_EQ(groups.rangeOfMatchGroup(1).location, -1) << "a group that took no part";
    const QString longWord(300, QChar('w'));
    RegexMatcher large(std::make_shared<RegexPattern>("(w+)"), "<" + longWord + ">");
    ASSERT_TRUE(large.findNext());
    EXPECT_EQ(large.groupAtIndex(1), longWord) << "longer than the first group buffer";
}

TEST(CERegex, ReplaceAndSplitGrowTheirBuffers)
{
    EXPECT_EQ(CERegexStrings::replaceOccurrencesOfPattern("", "^", "start"), "start");
    EXPECT_EQ(CERegexStrings::replaceOccurrencesOfPattern("ab", "b", "0123456789"), "a0123456789");
    RegexMatcher first(std::make_shared<RegexPattern>("o"), "foo");
    EXPECT_EQ(first.replaceFirstWithString("$0$0"), "fooo");

    QStringList fields;
    for (int i = 0; i < 40; ++i)
        fields << QString::number(i);
    EXPECT_EQ(CERegexStrings::componentsSeparatedByPattern(fields.join(", "), ",\\s*"), fields);
    EXPECT_EQ(CERegexStrings::componentsSeparatedByPattern("a", ","), QStringList{"a"});
    EXPECT_TRUE(CERegexStrings::matchesPattern("abc", "a.c"));
    EXPECT_FALSE(CERegexStrings::matchesPattern("abcd", "a.c"));
    EXPECT_EQ(CERegexStrings::findPattern("key=value", "(\\w+)=(\\w+)"), (QStringList{"key=value", "key", "value"}));
}

TEST(CERegex, FailuresRaiseNamedExceptions)
{
    EXPECT_EQ(exceptionName([] { CERegexStrings::findPattern("abc", "x"); }), "Find Exception");
    EXPECT_EQ(exceptionName([] { RegexPattern("[a"); }), "Invalid Pattern Exception");
    EXPECT_EQ(exceptionName([] { RegexPattern("\\"); }), "Invalid Pattern Exception");
    RegexPattern original("a+", 2);
    const RegexPattern copy(original);
    EXPECT_EQ(copy.pattern(), "a+");
    EXPECT_EQ(copy.flags(), 2u);
    EXPECT_TRUE(copy.stringToSearch().isEmpty()) << "a copy has no text";
}

TEST(CEScanner, ScansLikeThePlatformScanner)
{
    CEStringScanner scanner("ab--cd");
    EXPECT_TRUE(scanner.scanUpToString("--"));
    EXPECT_EQ(scanner.scanLocation(), 2);
    EXPECT_FALSE(scanner.scanUpToString("--")) << "the target at the location: no move";
    EXPECT_EQ(scanner.scanLocation(), 2);
    EXPECT_TRUE(scanner.scanUpToString("zz"));
    EXPECT_EQ(scanner.scanLocation(), 6) << "a missing target runs to the end";
    EXPECT_TRUE(scanner.isAtEnd());
    EXPECT_THROW(scanner.setScanLocation(7), std::out_of_range);

    scanner.setScanLocation(0);
    EXPECT_FALSE(scanner.scanCharactersFromSet(CECharacterSet::punctuation()));
    EXPECT_TRUE(scanner.scanUpToCharactersFromSet(CECharacterSet::punctuation()));
    EXPECT_EQ(scanner.scanLocation(), 2);

    CEScanner clamped("abc");
    clamped.setScanLocation(10);
    EXPECT_EQ(clamped.scanLocation(), 2);
}

#include <core/KRArray.h>
#include <core/KRJSONSerialization.h>
#include <core/KRRegex.h>
#include <core/KRString.h>

#include <platform/foundation/KRException.h>

#include <gtest/gtest.h>

#include <QSize>
#include <QVariantMap>

using namespace KRString;

// --- Comparison and search

TEST(KRString, CompareTo)
{
    EXPECT_EQ(compareTo("a", "b"), -1);
    EXPECT_EQ(compareTo("b", "a"), 1);
    EXPECT_EQ(compareTo("abc", "abc"), 0);
    EXPECT_EQ(compareTo("B", "a"), -1); // case-sensitive: upper case sorts first
    EXPECT_EQ(compareToIgnoreCase("B", "a"), 1);
    EXPECT_EQ(compareToIgnoreCase("ABC", "abc"), 0);
}

TEST(KRString, EmptyArgumentNeverOccurs)
{
    EXPECT_FALSE(contains("abc", ""));
    EXPECT_FALSE(startsWith("abc", ""));
    EXPECT_FALSE(endsWith("x", ""));
    EXPECT_EQ(indexOf("abc", ""), -1);
    EXPECT_EQ(indexOf("abc", "", 1), -1);
    EXPECT_EQ(lastIndexOf("abc", ""), -1);
    EXPECT_TRUE(contains("abc", "bc"));
    EXPECT_TRUE(startsWith("abc", "ab"));
}

TEST(KRString, EndsWithIsASuffixTest)
{
    EXPECT_TRUE(endsWith("a.css.css", ".css"));
    EXPECT_TRUE(endsWith("style.css", "style.css"));
    EXPECT_FALSE(endsWith("css", ".css"));
    EXPECT_FALSE(endsWith("a.css.js", ".css"));
}

TEST(KRString, IndexOf)
{
    EXPECT_EQ(indexOf("abc", "z"), -1);
    EXPECT_EQ(indexOf("abcb", "b"), 1);
    EXPECT_EQ(indexOf("abcb", "b", 2), 3);
    EXPECT_EQ(indexOf("abcb", "b", 4), -1);
    EXPECT_THROW(indexOf("abcb", "b", 5), KRException);
    // UTF-16 positions: the emoji counts two.
    EXPECT_EQ(indexOf(QString::fromUtf8("😀x"), "x"), 2);
}

TEST(KRString, LastIndexOf)
{
    EXPECT_EQ(lastIndexOf("abcb", "b"), 3);
    EXPECT_EQ(lastIndexOf("aaa", "aa"), 1);
    EXPECT_EQ(lastIndexOf("abc", "z"), -1);
    // Relative to the start index.
    EXPECT_EQ(lastIndexOf("abcb", "b", 2), 1);
    EXPECT_EQ(lastIndexOf("abcb", "a", 1), -1);
    EXPECT_THROW(lastIndexOf("abcb", "b", 9), KRException);
}

TEST(KRString, SubstringTrimReplacePrepend)
{
    EXPECT_EQ(substring("abcdef", 1, 3), "bc");
    EXPECT_EQ(substring("abcdef", 2, 2), "");
    EXPECT_EQ(substring("abcdef", 0, 6), "abcdef");
    EXPECT_THROW(substring("abcdef", 3, 2), KRException);
    EXPECT_THROW(substring("abcdef", 0, 7), KRException);
    EXPECT_EQ(trim(" \t\n a b \r\n"), "a b");
    EXPECT_EQ(replace("a.b.c", ".", "::"), "a::b::c");
    EXPECT_EQ(replace("a*b", "*", "."), "a.b"); // literal, not a pattern
    EXPECT_EQ(replace("abc", "", "x"), "abc");
    EXPECT_EQ(stringByPrependingString("world", "hello "), "hello world");
}

// --- Split

struct SplitCase
{
    const char *text;
    const char *separator;
    int limit;
    QStringList expected;
};

class KRStringSplit : public testing::TestWithParam<SplitCase>
{
};

TEST_P(KRStringSplit, Pieces)
{
    const SplitCase &c = GetParam();
    EXPECT_EQ(split(QString::fromUtf8(c.text), QString::fromUtf8(c.separator), c.limit), c.expected)
        << "'" << c.text << "' at '" << c.separator << "' limit " << c.limit;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KRStringSplit,
    testing::Values(SplitCase{"a,b,", ",", 0, {"a", "b"}}, SplitCase{"", ",", 0, {}},
                    SplitCase{"a,b,c", ",", 2, {"a", "b,c"}}, SplitCase{",a", ",", 0, {"", "a"}},
                    SplitCase{"a,,b", ",", 0, {"a", "", "b"}}, SplitCase{",", ",", 0, {""}},
                    SplitCase{"a,b", "", 0, {"a,b"}}, SplitCase{"a,b,c", ",", 1, {"a,b,c"}},
                    SplitCase{"a,b,c", ",", -3, {"a", "b", "c"}}, SplitCase{"a,b,c", ",", 3, {"a", "b", "c"}},
                    SplitCase{"a,b,c,", ",", 3, {"a", "b", "c,"}}, SplitCase{"a::b::", "::", 0, {"a", "b"}}));

// --- Option and image lists

TEST(KRString, ParseOptionTokens)
{
    const OrderedDictionary<QString, QString> options = parseOptionTokens("1|One\n2|Two\n\n3");
    EXPECT_EQ(options.allKeys(), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(options.allValues(), (QStringList{"One", "Two", "3"}));

    EXPECT_EQ(parseOptionTokens("a\\|b|c").objectForKey("a|b"), "c");
    const auto three = parseOptionTokens("x|y|z");
    EXPECT_EQ(three.allKeys(), QStringList{"x"});
    EXPECT_EQ(three.objectForKey("x"), "y");

    // Repeated key: first place, last label. Nothing trimmed; carriage returns are text.
    const auto repeated = parseOptionTokens("a|1\nb|2\na|3\n c |d\r\n");
    EXPECT_EQ(repeated.allKeys(), (QStringList{"a", "b", " c "}));
    EXPECT_EQ(repeated.objectForKey("a"), "3");
    EXPECT_EQ(repeated.objectForKey(" c "), "d\r");
    EXPECT_EQ(parseOptionTokens("").count(), 0);
    EXPECT_EQ(parseOptionTokens("|").objectForKey(""), "");
}

TEST(KRString, OptionLabelsKeepPlaceholderLikeText)
{
    // Only "\|" is an escaped bar; other text comes through untouched.
    const auto options = parseOptionTokens("v|Price ~~!~~$~~ 5\n~~!~~$~~|x\nback\\\\|slash");
    EXPECT_EQ(options.objectForKey("v"), "Price ~~!~~$~~ 5");
    EXPECT_EQ(options.objectForKey("~~!~~$~~"), "x");
    EXPECT_EQ(options.objectForKey("back\\|slash"), "back\\|slash");
    EXPECT_EQ(parseOptionTokens("a\\b|c").objectForKey("a\\b"), "c");
}

TEST(KRString, OptionTokenListMatchesTheDictionary)
{
    // Short and long lists (past the length where repeats are found through a table), with
    // repeats before and after that length, escapes and empty pieces.
    QString longList;
    for (int i = 0; i < 40; ++i)
        longList += QStringLiteral("k%1|v%2\n").arg(i % 23).arg(i);
    longList += QStringLiteral("k3|late\nk40\nk0|last\n");
    for (const QString &text : {QStringLiteral("1|One\n2|Two\n\n3"), QStringLiteral("a|1\nb|2\na|3\n c |d\r\n"),
                                QStringLiteral("a\\|b|c\nback\\\\|slash\na\\b|c\n|\nx|y|z\nx|"), QString(), longList}) {
        const OrderedDictionary<QString, QString> expected = parseOptionTokens(text);
        QList<std::pair<QString, QString>> wanted;
        for (const QString &key : expected.allKeys())
            wanted.append({key, expected.objectForKey(key)});
        EXPECT_EQ(parseOptionTokenList(text), wanted) << text.toStdString();
    }
    const auto list = parseOptionTokenList(longList);
    ASSERT_EQ(list.size(), 24);
    EXPECT_EQ(list.at(3), std::make_pair(QStringLiteral("k3"), QStringLiteral("late")));
    EXPECT_EQ(list.at(0).second, QStringLiteral("last"));
    EXPECT_EQ(list.at(23), std::make_pair(QStringLiteral("k40"), QStringLiteral("k40")));
}

TEST(KRString, ParseImageTokens)
{
    const QList<ImageToken> single = parseImageTokens("pic.png");
    ASSERT_EQ(single.size(), 1);
    EXPECT_EQ(single.first().key, "pic.png");
    EXPECT_TRUE(single.first().value.isEmpty());
    EXPECT_FALSE(single.first().value.isNull());

    const QList<ImageToken> images = parseImageTokens("a.png|First\n\na.png|Again\nb\\|c.png|x|y");
    EXPECT_EQ(images, (QList<ImageToken>{{"a.png", "First"}, {"a.png", "Again"}, {"b|c.png", "x"}}));
}

// --- Template substitution

TEST(KRString, TemplateSubstitution)
{
    const QVariantMap values{{"a", "A"}};
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{a}}-{{b}}", values, false), "A-{{b}}");
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{a}}-{{b}}", values, true), "A-");
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{ a }}", values, true), "{{ a }}");
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{A}}", values, false), "{{A}}"); // case-sensitive
    EXPECT_EQ(stringBySubstitutingTemplateValues("", values, true), "");

    // Replacement text is never searched again, and positions stay right as lengths change.
    const QVariantMap nested{{"x", "{{y}}"}, {"y", "Y"}, {"long", "0123456789"}};
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{x}}{{y}}", nested, true), "{{y}}Y");
    EXPECT_EQ(stringBySubstitutingTemplateValues("<{{long}}|{{z}}|{{y}}>", nested, true), "<0123456789||Y>");
    EXPECT_EQ(stringBySubstitutingTemplateValues("{{{y}}}", nested, false), "{Y}");

    // Names are Unicode word characters.
    const QHash<QString, QString> unicode{{QString::fromUtf8("naïve_1"), "ok"}};
    EXPECT_EQ(stringBySubstitutingTemplateValues(QString::fromUtf8("[{{naïve_1}}]"), unicode, false), "[ok]");
}

// --- Others

TEST(KRString, IsValidEmail)
{
    EXPECT_TRUE(isValidEmail("someone@example.com"));
    EXPECT_TRUE(isValidEmail("first.last+tag@mail.example.info"));
    EXPECT_FALSE(isValidEmail("someone@example.museum")); // last label longer than four
    EXPECT_FALSE(isValidEmail("someone@example.c"));      // shorter than two
    EXPECT_FALSE(isValidEmail("someone@example.com "));   // whole string only
    EXPECT_FALSE(isValidEmail("no-at-sign.com"));
    EXPECT_FALSE(isValidEmail(""));
}

TEST(KRString, HexStringFromBuffer)
{
    const unsigned char bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(hexStringFromBuffer(bytes, 4), "000fa0ff");
    EXPECT_EQ(hexStringFromBuffer(bytes, 0), "");
    EXPECT_EQ(hexStringFromBuffer(bytes, -1), "");
}

TEST(KRRegex, MatchesAndInvalidPatterns)
{
    const KRRegex regex("(a+)(x)?");
    ASSERT_TRUE(regex.isValid());
    const QList<KRRegexMatch> matches = regex.allMatches("baa a");
    ASSERT_EQ(matches.size(), 2);
    EXPECT_EQ(matches.at(0).start(), 1);
    EXPECT_EQ(matches.at(0).length(), 2);
    EXPECT_EQ(matches.at(0).captured("baa a", 1), "aa");
    EXPECT_TRUE(matches.at(0).captured("baa a", 2).isNull());
    EXPECT_EQ(KRRegex("x*").allMatches("ab").size(), 3); // empty matches still advance

    const KRRegex invalid("(unclosed");
    EXPECT_FALSE(invalid.isValid());
    EXPECT_FALSE(invalid.errorString().isEmpty());
    EXPECT_FALSE(invalid.containsMatch("(unclosed"));
    EXPECT_TRUE(invalid.allMatches("(unclosed").isEmpty());

    EXPECT_TRUE(KRRegex("\\w+").matchesEntirely(QString::fromUtf8("été")));
    EXPECT_TRUE(KRRegex("abc", KRRegex::CaseInsensitive).containsMatch("xABCx"));
    const KRRegex copy = regex;
    EXPECT_EQ(copy.allMatches("aa").size(), 1);
}

TEST(KRArray, StringsMatchingRegexAndContainsAll)
{
    const QStringList files{"themes/my theme.css", "themes/a.js", "other/b.css", "themes/x-y.css"};
    EXPECT_EQ(KRArray::stringsMatchingRegex(files, "themes/[\\w,\\s\\.-]+.css"),
              (QStringList{"themes/my theme.css", "themes/x-y.css"}));
    EXPECT_TRUE(KRArray::stringsMatchingRegex(files, "[").isEmpty());

    const QStringList list{"a", "b", "c"};
    EXPECT_TRUE(KRArray::containsAllObjectsFromArray(list, QStringList{}));
    EXPECT_TRUE(KRArray::containsAllObjectsFromArray(list, QStringList{"c", "a"}));
    EXPECT_FALSE(KRArray::containsAllObjectsFromArray(list, QStringList{"a", "d"}));
}

TEST(KRJSONSerialization, WritesInOrderCompactAndPretty)
{
    nlohmann::ordered_json object;
    object["z"] = 1;
    object["a"] = {"x", 2.5, true, nullptr};
    object["path"] = "a/b";
    KRResult<QString> compact = KRJSONSerialization::UTF8StringWithJSONObject(object);
    ASSERT_TRUE(compact.ok());
    EXPECT_EQ(compact.value(), "{\"z\":1,\"a\":[\"x\",2.5,true,null],\"path\":\"a/b\"}");
    KRResult<QString> pretty = KRJSONSerialization::UTF8StringWithJSONObject(
        nlohmann::ordered_json{{"k", QString::fromUtf8("é").toStdString()}}, KRJSONSerialization::PrettyPrinted);
    ASSERT_TRUE(pretty.ok());
    EXPECT_EQ(pretty.value(), QString::fromUtf8("{\n  \"k\": \"é\"\n}"));

    const QVariantMap map{{"b", QVariantList{1, "two"}}, {"a", QVariantMap{{"n", 1.5}}}};
    EXPECT_EQ(KRJSONSerialization::UTF8StringWithJSONObject(QVariant(map)).valueOr(QString()),
              "{\"a\":{\"n\":1.5},\"b\":[1,\"two\"]}");

    // Failures come back as errors, not exceptions.
    EXPECT_FALSE(KRJSONSerialization::UTF8StringWithJSONObject(nlohmann::ordered_json(std::string("\xff\xfe"))).ok());
    EXPECT_FALSE(KRJSONSerialization::UTF8StringWithJSONObject(QVariant::fromValue(QSize(1, 2))).ok());
}

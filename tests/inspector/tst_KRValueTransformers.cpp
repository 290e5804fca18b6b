#include <inspector/KRValueTransformers.h>

#include <QDate>
#include <QLocale>

#include <gtest/gtest.h>

TEST(KRValueTransformers, HumanNumbersShortenThousandsAndMillionsOnly)
{
    const auto human = [](qint64 n) { return KRHumanNumberValueTransformer::transformedValue(n); };
    EXPECT_EQ(KRHumanNumberValueTransformer::transformedValue(QVariant()), QStringLiteral("-"));
    EXPECT_EQ(human(0), QStringLiteral("-"));
    EXPECT_EQ(human(-5), QStringLiteral("-5"));
    EXPECT_EQ(human(999), QStringLiteral("999"));
    EXPECT_EQ(human(1000), QStringLiteral("1.0K"));
    EXPECT_EQ(human(999999), QStringLiteral("1000.0K"));
    EXPECT_EQ(human(2500000), QStringLiteral("2.5M"));
    EXPECT_EQ(human(1000000000), QStringLiteral("1000000000"));
    // Hour 24 is the end of the day.
    EXPECT_EQ(KRHumanDateValueTransformer::transformedValue(QStringLiteral("2024-03-05 24:00:00")),
              QLocale().toString(QDate(2024, 3, 6), QLocale::ShortFormat));
    EXPECT_EQ(KRHumanDateValueTransformer::transformedValue(QStringLiteral("soon")), QStringLiteral("soon"));
}

TEST(KRValueTransformers, StepperKeepsPercentagesAndWritesCLocaleTextUnderADecimalCommaLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    KRStepperValueTransformer stepper;
    EXPECT_EQ(stepper.transformedValue(QStringLiteral(" 50% ")), QVariant(QStringLiteral(" 50% ")));
    EXPECT_TRUE(stepper.isPercentage());
    EXPECT_EQ(stepper.reverseTransformedValue(51.0), QStringLiteral("51%"));
    EXPECT_EQ(stepper.transformedValue(QStringLiteral("0.5")), QVariant(0.5));
    EXPECT_FALSE(stepper.isPercentage());
    EXPECT_FALSE(stepper.transformedValue(QStringLiteral("0,5")).isValid());
    EXPECT_FALSE(stepper.transformedValue(QStringLiteral("abc")).isValid());
    EXPECT_FALSE(stepper.reverseTransformedValue(2.5).contains(QLatin1Char('.'))); // precision 0
    stepper.setPrecision(2);
    EXPECT_EQ(stepper.reverseTransformedValue(1234.567), QStringLiteral("1234.57"));
    EXPECT_EQ(stepper.reverseTransformedValue(0.6), QStringLiteral("0.6"));
    EXPECT_EQ(stepper.reverseTransformedValue(QVariant()), QString());
    EXPECT_EQ(KRRoundingNumberValueTransformer2::reverseTransformedValue(0.125), QVariant(QStringLiteral("0.13")));
    EXPECT_EQ(KRRoundingNumberValueTransformer2::transformedValue(QStringLiteral("1.5")), QVariant(1.5));
    QLocale::setDefault(saved);
}

TEST(KRValueTransformers, TrueFalseDictionaryContentAndColour)
{
    KRTrueFalseValueTransformer tri;
    EXPECT_EQ(tri.transformedValue(QStringLiteral("TRUE")), 1);
    EXPECT_EQ(tri.transformedValue(QStringLiteral("x")), 0);
    EXPECT_EQ(tri.transformedValue(QStringLiteral("")), -1);
    EXPECT_EQ(KRTrueFalseValueTransformer2().transformedValue(QStringLiteral("")), 0);
    EXPECT_EQ(tri.reverseTransformedValue(-1), QVariant(QStringLiteral("")));
    EXPECT_EQ(tri.reverseTransformedValue(1), QVariant(QStringLiteral("true")));
    EXPECT_EQ(KRTrueFalseValueTransformerInverted::transformedValue(QStringLiteral("TRUE")), 0);
    EXPECT_EQ(KRTrueFalseValueTransformerInverted::transformedValue(QStringLiteral("")), 1);
    EXPECT_EQ(KRTrueFalseValueTransformerInverted::reverseTransformedValue(0), QVariant(QStringLiteral("true")));
    EXPECT_EQ(KRTrueFalseValueTransformerInverted::reverseTransformedValue(2), QVariant(QStringLiteral("")));

    KRDictionaryValueTransformer2 dictionary;
    EXPECT_EQ(dictionary.transformedValue(QStringLiteral("x")), QStringLiteral("x"));
    EXPECT_TRUE(dictionary.reverseTransformedValue(QString()).isEmpty());
    dictionary.setValues({{QStringLiteral("arrow-l"), QStringLiteral("Left arrow")}});
    EXPECT_EQ(dictionary.transformedValue(QStringLiteral("arrow-l")), QStringLiteral("Left arrow"));
    EXPECT_EQ(dictionary.transformedValue(QStringLiteral("star")), QStringLiteral("star"));
    EXPECT_EQ(dictionary.reverseTransformedValue(QStringLiteral("Left arrow")), QStringLiteral("arrow-l"));
    EXPECT_EQ(dictionary.reverseTransformedValue(QStringLiteral("my-icon")), QStringLiteral("my-icon"));

    KRContentDescValueTransformer content;
    EXPECT_EQ(content.transformedValue(QStringLiteral("markdown:# A")), QStringLiteral("(Markdown)"));
    EXPECT_EQ(content.transformedValue(QStringLiteral("<b>A</b>")), QStringLiteral("(HTML)"));
    EXPECT_EQ(content.transformedValue(QStringLiteral("")), QString());
    content.functionMode = true;
    EXPECT_EQ(content.transformedValue(QStringLiteral("x();")), QStringLiteral("(JavaScript)"));

    EXPECT_FALSE(KRColorValueTransformer::transformedValue(QStringLiteral("")));
    EXPECT_FALSE(KRColorValueTransformer::transformedValue(QStringLiteral("notacolour")));
    EXPECT_EQ(KRColorValueTransformer::reverseTransformedValue(*KRColorValueTransformer::transformedValue(QStringLiteral("red"))),
              QStringLiteral("#FF0000"));
}

TEST(KRValueTransformers, TextShadowReadsInTheCLocaleAndFallsBackToDefaults)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(KRTextShadow::fromString(QStringLiteral("#aaaaaa 2px 2px 2px")).stringValue(),
              QStringLiteral("#AAAAAA 2px 2px 2px"));
    EXPECT_EQ(KRTextShadow::fromString(QStringLiteral("navy 1.6px -1px 3px")).stringValue(),
              QStringLiteral("#000080 1px -1px 3px"));
    EXPECT_EQ(KRTextShadow::fromString(QStringLiteral("2px 2px 2px red")), KRTextShadow());
    // No colour: the text starts with a blank, and reading it again gives the same shadow.
    const KRTextShadow bare = KRTextShadow::fromString(QStringLiteral(" 1px 2px 3px"));
    EXPECT_EQ(bare.stringValue(), QStringLiteral(" 1px 2px 3px"));
    EXPECT_EQ(KRTextShadow::fromString(bare.stringValue()), bare);
    QLocale::setDefault(saved);
}

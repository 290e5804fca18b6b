#include <model/KRColor.h>

#include <gtest/gtest.h>

#include <QSet>

#include <ostream>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct TextCase {
    const char *name;
    const char *input;
    const char *hex;     // stringValue and hexStringValue; "" for no colour
    const char *html;    // htmlNameStringValue
    const char *rgb;     // rgbStringValue
};

void PrintTo(const TextCase &c, std::ostream *os) { *os << c.name; }

class KRColorText : public testing::TestWithParam<TextCase> {};

TEST_P(KRColorText, Forms)
{
    const TextCase &c = GetParam();
    KRColor color;
    color.setStringValue(QString::fromUtf8(c.input));
    EXPECT_EQ(color.stringValue(), QString::fromUtf8(c.hex));
    EXPECT_EQ(color.hexStringValue(), QString::fromUtf8(c.hex));
    EXPECT_EQ(color.htmlNameStringValue(), QString::fromUtf8(c.html));
    EXPECT_EQ(color.rgbStringValue(), QString::fromUtf8(c.rgb));
    EXPECT_EQ(color.color().has_value(), c.hex[0] != '\0');
}

INSTANTIATE_TEST_SUITE_P(
    All, KRColorText,
    testing::Values(
        TextCase{"Empty", "", "", "", ""},
        TextCase{"HexRed", "#ff0000", "#FF0000", "red", "rgb(255,0,0,256)"},
        TextCase{"NameMixedCase", "Red", "#FF0000", "red", "rgb(255,0,0,256)"},
        TextCase{"NameUpperCase", "RED", "#FF0000", "red", "rgb(255,0,0,256)"},
        TextCase{"Gray", "gray", "#808080", "gray", "rgb(128,128,128,256)"},
        TextCase{"LightGrey", "lightgrey", "#D3D3D3", "lightgrey", "rgb(211,211,211,256)"},
        TextCase{"AquaIsNoName", "aqua", "", "", ""},
        TextCase{"FuchsiaIsNoName", "fuchsia", "", "", ""},
        TextCase{"UnknownName", "notacolour", "", "", ""},
        TextCase{"CyanNamed", "#00FFFF", "#00FFFF", "cyan", "rgb(0,255,255,256)"},
        TextCase{"MagentaNamed", "#FF00FF", "#FF00FF", "magenta", "rgb(255,0,255,256)"},
        TextCase{"UnnamedHex", "#123456", "#123456", "", "rgb(18,52,86,256)"},
        TextCase{"ThreeDigitsNotExpanded", "#abc", "#000ABC", "", "rgb(0,10,188,256)"},
        TextCase{"HashOnly", "#", "#000000", "black", "rgb(0,0,0,256)"},
        TextCase{"NoDigits", "#xyz", "#000000", "black", "rgb(0,0,0,256)"},
        TextCase{"SevenDigitsLow24Bits", "#1234567", "#234567", "", "rgb(35,69,103,256)"},
        TextCase{"EightDigitsLow24Bits", "#FF8000CC", "#8000CC", "", "rgb(128,0,204,256)"},
        TextCase{"TrailingTextIgnored", "#ff0000;garbage", "#FF0000", "red", "rgb(255,0,0,256)"},
        TextCase{"LeadingBlanksAndPrefix", "#  0x00ff00", "#00FF00", "lime", "rgb(0,255,0,256)"},
        TextCase{"OverflowSaturates", "#123456789abcdef", "#FFFFFF", "white", "rgb(255,255,255,256)"},
        TextCase{"RgbOpaque", "rgb(10,20,30,256)", "#0A141E", "", "rgb(10,20,30,256)"},
        TextCase{"RgbHalfAlpha", "rgb(10,20,30,128)", "#0A141E", "", "rgb(10,20,30,128)"},
        TextCase{"RgbUpperCase", "RGB(10,20,30,256)", "#0A141E", "", "rgb(10,20,30,256)"},
        TextCase{"RgbBlanksAndLineEnds", "rgb( 10 ,\n20, 30 ,256 )", "#0A141E", "", "rgb(10,20,30,256)"},
        TextCase{"RgbThreeValues", "rgb(10,20,30)", "", "", ""},
        TextCase{"RgbaForm", "rgba(10,20,30,0.5)", "", "", ""},
        TextCase{"RgbLastGroupWins", "rgb(1,2,3,256) rgb(4,5,6,256)", "#040506", "", "rgb(4,5,6,256)"},
        TextCase{"RgbBrokenGroupKeepsEarlier", "rgb(1,2,3,256) rgb(4,5", "#010203", "", "rgb(1,2,3,256)"},
        TextCase{"RgbOutOfRangeClamped", "rgb(300,-5,99999999999,256)", "#FF00FF", "magenta", "rgb(255,0,255,256)"},
        TextCase{"RgbNothingAfterPrefix", "rgb", "", "", ""},
        TextCase{"RgbUnterminated", "rgb(", "", "", ""}),
    [](const testing::TestParamInfo<TextCase> &info) { return std::string(info.param.name); });

TEST(KRColor, NullTextGivesNoColour)
{
    KRColor color;
    color.setStringValue(QStringLiteral("#ffffff"));
    color.setStringValue(QString());
    EXPECT_FALSE(color.color().has_value());
    EXPECT_EQ(color.stringValue(), "");
    EXPECT_EQ(color.htmlNameStringValue(), "");
    EXPECT_EQ(color.redComponentByte(), 0);
    EXPECT_EQ(color.alphaComponentByte(), 0);
}

TEST(KRColor, RgbAlphaComponents)
{
    KRColor color;
    color.setStringValue(QStringLiteral("rgb(10,20,30,256)"));
    ASSERT_TRUE(color.color());
    EXPECT_EQ(color.color()->alpha, 1.0);
    color.setStringValue(QStringLiteral("rgb(10,20,30,128)"));
    ASSERT_TRUE(color.color());
    EXPECT_EQ(color.color()->alpha, 0.5);
    EXPECT_EQ(color.color()->red, 10.0 / 256.0);
    EXPECT_EQ(color.color()->space, KRColor::Space::DeviceRGB);
}

struct ByteCase {
    const char *name;
    double component;
    int rgbByte;
    int alphaByte;
};

void PrintTo(const ByteCase &c, std::ostream *os) { *os << c.name; }

class KRColorBytes : public testing::TestWithParam<ByteCase> {};

TEST_P(KRColorBytes, ComponentToByte)
{
    const ByteCase &c = GetParam();
    KRColor color;
    color.setColor(KRColor::Color::deviceRGB(c.component, c.component, c.component, c.component));
    EXPECT_EQ(color.redComponentByte(), c.rgbByte);
    EXPECT_EQ(color.greenComponentByte(), c.rgbByte);
    EXPECT_EQ(color.blueComponentByte(), c.rgbByte);
    EXPECT_EQ(color.alphaComponentByte(), c.alphaByte);
}

INSTANTIATE_TEST_SUITE_P(
    All, KRColorBytes,
    testing::Values(ByteCase{"One", 1.0, 255, 256}, ByteCase{"AlmostOne", 0.999, 255, 255},
                    ByteCase{"Half", 0.5, 128, 128}, ByteCase{"Zero", 0.0, 0, 0},
                    ByteCase{"JustBelow255", 254.9 / 256.0, 254, 254},
                    ByteCase{"Negative", -0.25, 0, 0}, ByteCase{"AboveOne", 3.0, 255, 768},
                    ByteCase{"NotANumber", std::nan(""), 0, 0}),
    [](const testing::TestParamInfo<ByteCase> &info) { return std::string(info.param.name); });

TEST(KRColor, EveryByteRoundTrips)
{
    KRColor color;
    for (int b = 0; b <= 255; ++b) {
        color.setRedComponentByte(b);
        color.setGreenComponentByte(255 - b);
        color.setBlueComponentByte(b);
        color.setAlphaComponentByte(b);
        ASSERT_EQ(color.redComponentByte(), b);
        ASSERT_EQ(color.greenComponentByte(), 255 - b);
        ASSERT_EQ(color.blueComponentByte(), b);
        ASSERT_EQ(color.alphaComponentByte(), b);
        KRColor again;
        again.setStringValue(color.hexStringValue());
        ASSERT_EQ(again.redComponentByte(), b) << color.hexStringValue().toStdString();
        KRColor fromRgb;
        fromRgb.setStringValue(color.rgbStringValue());
        ASSERT_EQ(fromRgb.rgbStringValue(), color.rgbStringValue());
    }
}

TEST(KRColor, ComponentSetterOnNoColour)
{
    KRColor color;
    color.setRedComponentByte(255);
    ASSERT_TRUE(color.color());
    EXPECT_EQ(*color.color(), KRColor::Color::deviceRGB(255.0 / 256.0, 0.0, 0.0, 0.0));
    EXPECT_EQ(color.hexStringValue(), "#FF0000");
    EXPECT_EQ(color.alphaComponentByte(), 0);
}

TEST(KRColor, ComponentSetterKeepsTheOtherThree)
{
    KRColor color;
    color.setStringValue(QStringLiteral("rgb(10,20,30,128)"));
    color.setGreenComponentByte(200);
    EXPECT_EQ(color.rgbStringValue(), "rgb(10,200,30,128)");
    color.setAlphaComponentByte(256);
    EXPECT_EQ(color.rgbStringValue(), "rgb(10,200,30,256)");
}

TEST(KRColor, TransparentColourWritesOpaqueHex)
{
    KRColor color;
    color.setColor(KRColor::Color{0.5, 0.25, 0.75, 0.5, KRColor::Space::CalibratedRGB});
    EXPECT_EQ(color.stringValue(), "#8040C0");
    EXPECT_EQ(color.color()->space, KRColor::Space::CalibratedRGB); // RGB stays as it is
}

TEST(KRColor, GreyIsConvertedByFirstRgbByteRead)
{
    KRColor color;
    color.setColor(KRColor::Color{0.5, 0.0, 0.0, 0.75, KRColor::Space::Gray});
    EXPECT_EQ(color.alphaComponentByte(), 192); // alpha is read without converting
    EXPECT_EQ(color.color()->space, KRColor::Space::Gray);
    EXPECT_EQ(color.greenComponentByte(), 128);
    EXPECT_EQ(*color.color(), (KRColor::Color{0.5, 0.5, 0.5, 0.75, KRColor::Space::CalibratedRGB}));
}

TEST(KRColor, UnconvertibleColourBecomesNoColour)
{
    KRColor color;
    color.setColor(KRColor::Color{0.1, 0.2, 0.3, 1.0, KRColor::Space::Unconvertible});
    EXPECT_EQ(color.hexStringValue(), "");
    EXPECT_FALSE(color.color().has_value());
}

TEST(KRColor, AnnouncesEveryDerivedKeyInOrder)
{
    KRColor color;
    std::vector<std::pair<QString, KRColor::Change>> seen;
    const int id = color.addObserver([&](const QString &key, KRColor::Change phase) { seen.emplace_back(key, phase); });
    color.setHexStringValue(QStringLiteral("#010203"));
    const QStringList &keys = KRColor::announcedKeys();
    ASSERT_EQ(seen.size(), size_t(keys.size() * 2));
    for (qsizetype i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(seen[i * 2].first, keys[i]);
        EXPECT_EQ(seen[i * 2].second, KRColor::Change::WillChange);
        EXPECT_EQ(seen[i * 2 + 1].second, KRColor::Change::DidChange);
    }
    EXPECT_FALSE(keys.contains(QStringLiteral("alphaComponentByte")));

    // A name goes through the name setter and the hex setter, then the general setter
    // announces once more.
    seen.clear();
    color.setStringValue(QStringLiteral("red"));
    EXPECT_EQ(seen.size(), size_t(keys.size() * 2 * 3));

    color.removeObserver(id);
    seen.clear();
    color.setRedComponentByte(1);
    EXPECT_TRUE(seen.empty());
}

TEST(KRColor, NameTables)
{
    const QStringList &names = KRColor::colorNameList();
    ASSERT_EQ(names.size(), 116);
    EXPECT_EQ(names.first(), "aliceblue");
    EXPECT_EQ(names.last(), "yellowgreen");
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(KRColor::colorNameDictionary().size(), 116); // values are distinct
    EXPECT_EQ(KRColor::reverseColorNameDictionary().size(), 116);
    for (const QString &name : names) {
        const QString value = KRColor::reverseColorNameDictionary().value(name);
        ASSERT_EQ(value.size(), 7) << name.toStdString();
        EXPECT_EQ(value, value.toLower());
        EXPECT_EQ(KRColor::colorNameDictionary().value(value), name);
        KRColor color;
        color.setHtmlNameStringValue(name.toUpper());
        EXPECT_EQ(color.htmlNameStringValue(), name);
    }
    for (const char *absent : {"aqua", "fuchsia", "grey", "darkgrey", "slategray", "orangered"})
        EXPECT_FALSE(KRColor::reverseColorNameDictionary().contains(QLatin1String(absent))) << absent;
}

TEST(KRColor, ParseHexColor)
{
    EXPECT_FALSE(KRColor::parseHexColor(QString()).has_value());
    EXPECT_FALSE(KRColor::parseHexColor(QStringLiteral("")).has_value());
    const auto noHash = KRColor::parseHexColor(QStringLiteral("808080"));
    ASSERT_TRUE(noHash);
    EXPECT_EQ(*noHash, KRColor::Color::deviceRGB(0.5, 0.5, 0.5, 1.0));
}

} // namespace

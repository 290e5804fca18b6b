#include "KRColor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace {

// The CSS colour keywords this application names, with their standard values. Only these:
// "aqua", "fuchsia" and the "grey" spellings other than "lightgrey" are deliberately absent,
// so their values report "cyan", "magenta" and "...gray".
struct NamedColor {
    const char *name;
    const char *value;
};

const NamedColor kNamedColors[] = {
    {"aliceblue", "#f0f8ff"}, {"antiquewhite", "#faebd7"}, {"aquamarine", "#7fffd4"},
    {"azure", "#f0ffff"}, {"beige", "#f5f5dc"}, {"bisque", "#ffe4c4"}, {"black", "#000000"},
    {"blanchedalmond", "#ffebcd"}, {"blue", "#0000ff"}, {"blueviolet", "#8a2be2"},
    {"brown", "#a52a2a"}, {"burlywood", "#deb887"}, {"cadetblue", "#5f9ea0"},
    {"chartreuse", "#7fff00"}, {"chocolate", "#d2691e"}, {"coral", "#ff7f50"},
    {"cornflowerblue", "#6495ed"}, {"cornsilk", "#fff8dc"}, {"crimson", "#dc143c"},
    {"cyan", "#00ffff"}, {"darkblue", "#00008b"}, {"darkcyan", "#008b8b"},
    {"darkgoldenrod", "#b8860b"}, {"darkgray", "#a9a9a9"}, {"darkgreen", "#006400"},
    {"darkkhaki", "#bdb76b"}, {"darkmagenta", "#8b008b"}, {"darkolivegreen", "#556b2f"},
    {"darkorange", "#ff8c00"}, {"darkorchid", "#9932cc"}, {"darkred", "#8b0000"},
    {"darksalmon", "#e9967a"}, {"darkseagreen", "#8fbc8f"}, {"darkslateblue", "#483d8b"},
    {"darkslategray", "#2f4f4f"}, {"darkturquoise", "#00ced1"}, {"darkviolet", "#9400d3"},
    {"deeppink", "#ff1493"}, {"deepskyblue", "#00bfff"}, {"dimgray", "#696969"},
    {"dodgerblue", "#1e90ff"}, {"firebrick", "#b22222"}, {"floralwhite", "#fffaf0"},
    {"forestgreen", "#228b22"}, {"gainsboro", "#dcdcdc"}, {"ghostwhite", "#f8f8ff"},
    {"gold", "#ffd700"}, {"goldenrod", "#daa520"}, {"gray", "#808080"},
    {"green", "#008000"}, {"greenyellow", "#adff2f"}, {"honeydew", "#f0fff0"},
    {"hotpink", "#ff69b4"}, {"indianred", "#cd5c5c"}, {"indigo", "#4b0082"},
    {"ivory", "#fffff0"}, {"khaki", "#f0e68c"}, {"lavender", "#e6e6fa"},
    {"lavenderblush", "#fff0f5"}, {"lawngreen", "#7cfc00"}, {"lemonchiffon", "#fffacd"},
    {"lightblue", "#add8e6"}, {"lightcoral", "#f08080"}, {"lightcyan", "#e0ffff"},
    {"lightgoldenrodyellow", "#fafad2"}, {"lightgreen", "#90ee90"}, {"lightgrey", "#d3d3d3"},
    {"lightpink", "#ffb6c1"}, {"lightsalmon", "#ffa07a"}, {"lightseagreen", "#20b2aa"},
    {"lightskyblue", "#87cefa"}, {"lightslategray", "#778899"}, {"lightsteelblue", "#b0c4de"},
    {"lightyellow", "#ffffe0"}, {"lime", "#00ff00"}, {"limegreen", "#32cd32"},
    {"linen", "#faf0e6"}, {"magenta", "#ff00ff"}, {"maroon", "#800000"},
    {"mediumblue", "#0000cd"}, {"mediumorchid", "#ba55d3"}, {"mediumpurple", "#9370db"},
    {"midnightblue", "#191970"}, {"mistyrose", "#ffe4e1"}, {"moccasin", "#ffe4b5"},
    {"navy", "#000080"}, {"oldlace", "#fdf5e6"}, {"olive", "#808000"},
    {"orange", "#ffa500"}, {"orchid", "#da70d6"}, {"peachpuff", "#ffdab9"},
    {"peru", "#cd853f"}, {"pink", "#ffc0cb"}, {"plum", "#dda0dd"}, {"purple", "#800080"},
    {"red", "#ff0000"}, {"rosybrown", "#bc8f8f"}, {"royalblue", "#4169e1"},
    {"salmon", "#fa8072"}, {"sandybrown", "#f4a460"}, {"seagreen", "#2e8b57"},
    {"sienna", "#a0522d"}, {"silver", "#c0c0c0"}, {"skyblue", "#87ceeb"},
    {"slateblue", "#6a5acd"}, {"steelblue", "#4682b4"}, {"tan", "#d2b48c"},
    {"teal", "#008080"}, {"thistle", "#d8bfd8"}, {"tomato", "#ff6347"},
    {"violet", "#ee82ee"}, {"wheat", "#f5deb3"}, {"white", "#ffffff"},
    {"whitesmoke", "#f5f5f5"}, {"yellow", "#ffff00"}, {"yellowgreen", "#9acd32"},
};

struct NameTables {
    QHash<QString, QString> valueToName;
    QHash<QString, QString> nameToValue;
    QStringList sortedNames;
};

const NameTables &nameTables()
{
    static const NameTables tables = [] {
        NameTables t;
        for (const NamedColor &c : kNamedColors) {
            const QString name = QString::fromLatin1(c.name);
            const QString value = QString::fromLatin1(c.value);
            t.valueToName.insert(value, name);
            t.nameToValue.insert(name, value);
            t.sortedNames.append(name);
        }
        std::sort(t.sortedNames.begin(), t.sortedNames.end());
        return t;
    }();
    return tables;
}

// Byte to component on the 256 scale, through single precision as the stored colours are.
double byteToComponent(int byte)
{
    return static_cast<double>(static_cast<float>(byte) * (1.0f / 256.0f));
}

// Component to red, green or blue byte: truncation of component * 256, anything above 254
// reads 255. Components outside 0...1 (from out-of-range bytes or a caller's colour) are
// clamped, so the text forms always carry two hexadecimal digits per byte.
int rgbComponentToByte(double component)
{
    if (!(component > 0.0)) // also NaN
        return 0;
    const double t = component * 256.0;
    if (t >= 255.0)
        return 255;
    return static_cast<int>(t);
}

// Alpha has no upper limit (opaque reads 256); only the conversion is kept defined.
int alphaComponentToByte(double alpha)
{
    if (!(alpha > 0.0))
        return 0;
    const double t = alpha * 256.0;
    if (t >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(t);
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

int hexDigitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return u - 'A' + 10;
}

// Scanner-style hexadecimal integer: leading white space skipped, optional 0x / 0X prefix,
// digits in either case up to the first other character; 0 when no digits, 0xFFFFFFFF on
// overflow.
uint32_t scanHexInt(const QString &text, qsizetype pos)
{
    const qsizetype n = text.size();
    while (pos < n && text.at(pos).isSpace())
        ++pos;
    if (pos + 2 < n && text.at(pos) == u'0' && (text.at(pos + 1) == u'x' || text.at(pos + 1) == u'X')
        && isHexDigit(text.at(pos + 2)))
        pos += 2;
    uint64_t v = 0;
    bool overflow = false;
    while (pos < n && isHexDigit(text.at(pos))) {
        if (!overflow) {
            v = (v << 4) | static_cast<uint64_t>(hexDigitValue(text.at(pos)));
            if (v > 0xFFFFFFFFull)
                overflow = true;
        }
        ++pos;
    }
    return overflow ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
}

// Reader of the functional form over lower-cased text. Tokens may be preceded by white space
// and line ends; integers take an optional sign and saturate at the int limits.
class RgbScanner
{
public:
    explicit RgbScanner(const QString &text) : m_text(text) {}

    // The last complete group "rgb(" int "," int "," int "," int, if any.
    std::optional<KRColor::Color> lastGroup()
    {
        std::optional<KRColor::Color> result;
        qsizetype start = 0;
        while (true) {
            const qsizetype found = m_text.indexOf(QLatin1String("rgb("), start);
            if (found < 0)
                break;
            m_pos = found + 4;
            int values[4];
            bool complete = true;
            for (int i = 0; i < 4 && complete; ++i) {
                if (i > 0 && !scanLiteral(u','))
                    complete = false;
                else if (!scanInt(values[i]))
                    complete = false;
            }
            if (complete) {
                result = KRColor::Color::deviceRGB(values[0] / 256.0, values[1] / 256.0,
                                                   values[2] / 256.0, values[3] / 256.0);
                start = m_pos;
            } else {
                start = found + 4; // always advances
            }
        }
        return result;
    }

private:
    const QString &m_text;
    qsizetype m_pos = 0;

    void skipSpace()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }

    bool scanLiteral(char16_t c)
    {
        skipSpace();
        if (m_pos < m_text.size() && m_text.at(m_pos) == c) {
            ++m_pos;
            return true;
        }
        return false;
    }

    bool scanInt(int &out)
    {
        skipSpace();
        qsizetype p = m_pos;
        bool negative = false;
        if (p < m_text.size() && (m_text.at(p) == u'-' || m_text.at(p) == u'+')) {
            negative = m_text.at(p) == u'-';
            ++p;
        }
        const qsizetype digitsStart = p;
        int64_t v = 0;
        while (p < m_text.size() && m_text.at(p).unicode() >= '0' && m_text.at(p).unicode() <= '9') {
            if (v <= INT_MAX)
                v = v * 10 + (m_text.at(p).unicode() - '0');
            ++p;
        }
        if (p == digitsStart)
            return false;
        if (negative)
            v = -v;
        out = static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
        m_pos = p;
        return true;
    }
};

} // namespace

void KRColor::setStringValue(const QString &text)
{
    if (text.isEmpty())
        setColor(std::nullopt);
    else if (text.startsWith(u'#'))
        setHexStringValue(text);
    else if (text.toLower().startsWith(QLatin1String("rgb")))
        setRgbStringValue(text);
    else
        setHtmlNameStringValue(text);
    sendUpdateNotifications();
}

QString KRColor::stringValue()
{
    return m_color ? hexStringValue() : QString();
}

void KRColor::setHexStringValue(const QString &text)
{
    m_color = parseHexColor(text);
    sendUpdateNotifications();
}

QString KRColor::hexStringValue()
{
    if (!m_color)
        return QString();
    const int r = redComponentByte();
    const int g = greenComponentByte();
    const int b = blueComponentByte();
    if (!m_color) // the colour could not be made RGB
        return QString();
    return QString::asprintf("#%02X%02X%02X", r, g, b);
}

void KRColor::setHtmlNameStringValue(const QString &name)
{
    const auto &reverse = reverseColorNameDictionary();
    const auto it = reverse.constFind(name.toLower());
    setHexStringValue(it == reverse.constEnd() ? QString() : it.value());
    sendUpdateNotifications();
}

QString KRColor::htmlNameStringValue()
{
    const QString hex = hexStringValue().toLower();
    if (hex.isEmpty())
        return QString();
    return colorNameDictionary().value(hex, QString());
}

void KRColor::setRgbStringValue(const QString &text)
{
    m_color.reset();
    if (!text.isEmpty()) {
        const QString lower = text.toLower();
        m_color = RgbScanner(lower).lastGroup();
    }
    sendUpdateNotifications();
}

QString KRColor::rgbStringValue()
{
    if (!m_color)
        return QString();
    const int r = redComponentByte();
    const int g = greenComponentByte();
    const int b = blueComponentByte();
    if (!m_color)
        return QString();
    return QString::asprintf("rgb(%d,%d,%d,%d)", r, g, b, alphaComponentByte());
}

void KRColor::setColor(std::optional<Color> color)
{
    m_color = color;
    sendUpdateNotifications();
}

int KRColor::redComponentByte()
{
    fixRGBColorSpace();
    return m_color ? rgbComponentToByte(m_color->red) : 0;
}

int KRColor::greenComponentByte()
{
    fixRGBColorSpace();
    return m_color ? rgbComponentToByte(m_color->green) : 0;
}

int KRColor::blueComponentByte()
{
    fixRGBColorSpace();
    return m_color ? rgbComponentToByte(m_color->blue) : 0;
}

int KRColor::alphaComponentByte() const
{
    return m_color ? alphaComponentToByte(m_color->alpha) : 0;
}

void KRColor::setRedComponentByte(int byte) { setComponentByte(0, byte); }
void KRColor::setGreenComponentByte(int byte) { setComponentByte(1, byte); }
void KRColor::setBlueComponentByte(int byte) { setComponentByte(2, byte); }
void KRColor::setAlphaComponentByte(int byte) { setComponentByte(3, byte); }

void KRColor::setComponentByte(int index, int byte)
{
    // The other components are read as they stand, without converting the colour space;
    // a grey colour reads its white level for red, green and blue.
    double c[4] = {0.0, 0.0, 0.0, 0.0};
    if (m_color) {
        const bool gray = m_color->space == Space::Gray;
        c[0] = m_color->red;
        c[1] = gray ? m_color->red : m_color->green;
        c[2] = gray ? m_color->red : m_color->blue;
        c[3] = m_color->alpha;
    }
    c[index] = byteToComponent(byte);
    m_color = Color::deviceRGB(c[0], c[1], c[2], c[3]);
    sendUpdateNotifications();
}

void KRColor::fixRGBColorSpace()
{
    if (!m_color)
        return;
    switch (m_color->space) {
    case Space::DeviceRGB:
    case Space::CalibratedRGB:
        return;
    case Space::Gray: {
        const double w = m_color->red;
        m_color = Color{w, w, w, m_color->alpha, Space::CalibratedRGB};
        return;
    }
    case Space::Unconvertible:
        m_color.reset();
        return;
    }
}

const QStringList &KRColor::announcedKeys()
{
    static const QStringList keys = {
        QStringLiteral("color"),
        QStringLiteral("redComponentByte"),
        QStringLiteral("greenComponentByte"),
        QStringLiteral("blueComponentByte"),
        QStringLiteral("hexStringValue"),
        QStringLiteral("htmlNameStringValue"),
        QStringLiteral("rgbStringValue"),
        QStringLiteral("stringValue"),
    };
    return keys;
}

void KRColor::sendUpdateNotifications()
{
    if (m_observers.empty())
        return;
    // A copy, so an observer may add or remove observers while it is told.
    const std::map<int, Observer> observers = m_observers;
    for (const QString &key : announcedKeys()) {
        for (const auto &entry : observers)
            entry.second(key, Change::WillChange);
        for (const auto &entry : observers)
            entry.second(key, Change::DidChange);
    }
}

int KRColor::addObserver(Observer observer)
{
    const int id = m_nextObserverId++;
    m_observers.emplace(id, std::move(observer));
    return id;
}

void KRColor::removeObserver(int id)
{
    m_observers.erase(id);
}

std::optional<KRColor::Color> KRColor::parseHexColor(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    const qsizetype start = text.startsWith(u'#') ? 1 : 0;
    const uint32_t v = scanHexInt(text, start);
    return Color::deviceRGB(byteToComponent((v >> 16) & 255), byteToComponent((v >> 8) & 255),
                            byteToComponent(v & 255), 1.0);
}

const QHash<QString, QString> &KRColor::colorNameDictionary()
{
    return nameTables().valueToName;
}

const QHash<QString, QString> &KRColor::reverseColorNameDictionary()
{
    return nameTables().nameToValue;
}

const QStringList &KRColor::colorNameList()
{
    return nameTables().sortedNames;
}

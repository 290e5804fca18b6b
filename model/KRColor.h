#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <optional>

// The colour value of the project model: one colour and its text forms as CSS colour
// properties of a project store them ("#RRGGBB", "rgb(r,g,b,a)" with the alpha byte, and the
// colour names of the table below). Components are kept as doubles on the 1/256 scale that
// every form uses, so a byte b read back after b / 256 is b again; nothing here goes through
// QColor, which would quantise to 1/255 steps.
//
// Short-lived: made, given a text or a colour, asked for another form and dropped. Main
// thread only; the name tables are built once and then only read.
class KRColor
{
public:
    // The colour space a colour arrives in. Colours made from text and by the byte setters are
    // DeviceRGB. A colour handed in through setColor() keeps its space until the first red,
    // green or blue byte read converts it (fixRGBColorSpace()).
    enum class Space {
        DeviceRGB,
        CalibratedRGB,
        Gray,           // `red` holds the white level; green and blue are ignored
        Unconvertible,  // a pattern or other colour without an RGB equivalent
    };

    struct Color {
        double red = 0.0;
        double green = 0.0;
        double blue = 0.0;
        double alpha = 1.0;
        Space space = Space::DeviceRGB;

        friend bool operator==(const Color &, const Color &) = default;
        static Color deviceRGB(double r, double g, double b, double a) { return {r, g, b, a, Space::DeviceRGB}; }
    };

    // Change announcements: for each derived key, in the order of sendUpdateNotifications(),
    // a WillChange and then a DidChange call.
    enum class Change { WillChange, DidChange };
    using Observer = std::function<void(const QString &key, Change phase)>;

    KRColor() = default;
    KRColor(const KRColor &) = delete;
    KRColor &operator=(const KRColor &) = delete;

    // The general text form: "#..." goes to the hexadecimal reader, anything beginning with
    // "rgb" (any case) to the functional reader, everything else to the name table. Empty
    // text means no colour. stringValue() is hexStringValue(), "" without a colour.
    void setStringValue(const QString &text);
    QString stringValue();

    // "#%02X%02X%02X" over the red, green and blue bytes; alpha is not written.
    void setHexStringValue(const QString &text);
    QString hexStringValue();

    // A name of the table (case-insensitive); an unknown name leaves no colour.
    void setHtmlNameStringValue(const QString &name);
    QString htmlNameStringValue();

    // "rgb(%d,%d,%d,%d)" over red, green, blue and the alpha byte (256 when opaque). The
    // reader takes the last complete four-integer group; without one there is no colour.
    void setRgbStringValue(const QString &text);
    QString rgbStringValue();

    void setColor(std::optional<Color> color);
    const std::optional<Color> &color() const { return m_color; }

    // Bytes on the 256 scale: red, green and blue give 255 for any component above 254/256;
    // alpha has no upper limit (an opaque colour reports 256). 0 without a colour.
    int redComponentByte();
    int greenComponentByte();
    int blueComponentByte();
    int alphaComponentByte() const;
    // Each builds a new DeviceRGB colour from byte / 256 and the other three components as
    // they stand (all 0, alpha included, without a colour).
    void setRedComponentByte(int byte);
    void setGreenComponentByte(int byte);
    void setBlueComponentByte(int byte);
    void setAlphaComponentByte(int byte);

    // Replaces a colour that is not RGB by its calibrated RGB form (not announced).
    void fixRGBColorSpace();

    void sendUpdateNotifications();
    // Returns an id for removeObserver().
    int addObserver(Observer observer);
    void removeObserver(int id);

    // "#" and six hexadecimal digits (scanner rules: leading white space, optional 0x, stops
    // at the first non-digit, overflow saturates) to an opaque DeviceRGB colour from the low
    // 24 bits; a leading "#" is skipped. Empty text: none.
    static std::optional<Color> parseHexColor(const QString &text);

    // Shared tables: "#rrggbb" (lower case) to name, name to "#rrggbb", and the 116 names
    // sorted by plain string comparison.
    static const QHash<QString, QString> &colorNameDictionary();
    static const QHash<QString, QString> &reverseColorNameDictionary();
    static const QStringList &colorNameList();

    // The keys announced by sendUpdateNotifications(), in order.
    static const QStringList &announcedKeys();

private:
    std::optional<Color> m_color;
    std::map<int, Observer> m_observers;
    int m_nextObserverId = 1;

    void setComponentByte(int index, int byte);
};

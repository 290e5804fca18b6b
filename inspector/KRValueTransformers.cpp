#include "KRValueTransformers.h"

#include <model/KRClassRegistry.h>
#include <model/KRColor.h>
#include <model/KRPropertyDescriptor.h>

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

#include <cmath>

QString KRHumanNumberValueTransformer::transformedValue(const QVariant &value)
{
    const qint64 n = value.isValid() ? value.toLongLong() : 0;
    if (n == 0)
        return QStringLiteral("-");
    if (n < 1000 || n >= 1000000000)
        return QString::number(n);
    // Single precision on purpose: 999,999 shows as "1000.0K".
    if (n < 1000000)
        return QString::asprintf("%.1fK", double(float(n) / 1000.0f));
    return QString::asprintf("%.1fM", double(float(n) / 1000000.0f));
}

QString KRHumanDateValueTransformer::transformedValue(const QVariant &value)
{
    const QString text = value.toString().trimmed();
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return text;
    QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int hour = m.captured(4).toInt();
    if (!date.isValid() || hour < 1 || hour > 24)
        return text;
    // Hour 24 is midnight at the end of the day.
    if (hour == 24)
        date = date.addDays(1);
    return QLocale().toString(date, QLocale::ShortFormat);
}

std::optional<double> KRStepperValueTransformer::readNumber(const QString &text)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

QString KRStepperValueTransformer::writeNumber(double number, int precision)
{
    QString text = QLocale::c().toString(number, 'f', qMax(0, precision));
    text.remove(QLocale::c().groupSeparator());
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}

QVariant KRStepperValueTransformer::transformedValue(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QString)
        return value;
    const QString text = value.toString();
    if (text.trimmed().endsWith(QLatin1Char('%'))) {
        m_isPercentage = true;
        return value;
    }
    m_isPercentage = false;
    const std::optional<double> number = readNumber(text);
    return number ? QVariant(*number) : QVariant();
}

QString KRStepperValueTransformer::reverseTransformedValue(const QVariant &value) const
{
    if (value.metaType().id() == QMetaType::QString)
        return value.toString();
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!value.isValid() || !ok)
        return QString();
    QString text = writeNumber(number, m_precision);
    if (m_isPercentage)
        text += QLatin1Char('%');
    return text;
}

QString KRDictionaryValueTransformer::transformedValue(const QString &value) const
{
    if (value.isNull())
        return QString(QLatin1String(""));
    for (const KREnumOption &option : m_values)
        if (option.value == value)
            return option.description;
    return value;
}

QString KRDictionaryValueTransformer2::reverseTransformedValue(const QString &description) const
{
    if (description.isNull())
        return QString(QLatin1String(""));
    for (const KREnumOption &option : m_values)
        if (option.description == description)
            return option.value;
    return description;
}

int KRTrueFalseValueTransformer::transformedValue(const QVariant &value) const
{
    if (value.metaType().id() == QMetaType::QString && !value.toString().isEmpty())
        return value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ? 1 : 0;
    return m_useTriState ? -1 : 0;
}

QVariant KRTrueFalseValueTransformer::reverseTransformedValue(const QVariant &state) const
{
    bool ok = false;
    const int n = state.toInt(&ok);
    if (state.metaType().id() == QMetaType::QString || !ok)
        return state;
    return n == 1 ? QStringLiteral("true") : n == 0 ? QStringLiteral("false") : QString(QLatin1String(""));
}

int KRTrueFalseValueTransformerInverted::transformedValue(const QVariant &value)
{
    return value.metaType().id() == QMetaType::QString &&
                   value.toString().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
               ? 0
               : 1;
}

QVariant KRTrueFalseValueTransformerInverted::reverseTransformedValue(const QVariant &state)
{
    bool ok = false;
    const int n = state.toInt(&ok);
    if (state.metaType().id() == QMetaType::QString || !ok)
        return state;
    return n == 0 ? QStringLiteral("true") : n == 1 ? QStringLiteral("false") : QString(QLatin1String(""));
}

QVariant KRRoundingNumberValueTransformer2::transformedValue(const QVariant &value)
{
    if (value.metaType().id() != QMetaType::QString)
        return value;
    const std::optional<double> number = KRStepperValueTransformer::readNumber(value.toString());
    return number ? QVariant(*number) : QVariant();
}

QVariant KRRoundingNumberValueTransformer2::reverseTransformedValue(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.metaType().id() == QMetaType::QString || !ok)
        return value;
    return KRStepperValueTransformer::writeNumber(number, 2);
}

std::optional<QColor> KRColorValueTransformer::transformedValue(const QString &text)
{
    KRColor colour;
    colour.setStringValue(text);
    if (!colour.color())
        return std::nullopt;
    return QColor(colour.redComponentByte(), colour.greenComponentByte(), colour.blueComponentByte());
}

QString KRColorValueTransformer::reverseTransformedValue(const QColor &colour)
{
    const QColor c = colour.isValid() ? colour.toRgb() : QColor(Qt::black);
    return QString::asprintf("#%02X%02X%02X", c.red(), c.green(), c.blue());
}

QString KRContentDescValueTransformer::transformedValue(const QVariant &value) const
{
    if (value.metaType().id() != QMetaType::QString || value.toString().isEmpty())
        return QString(QLatin1String(""));
    if (functionMode)
        return QStringLiteral("(JavaScript)");
    if (value.toString().startsWith(QLatin1String("markdown:")))
        return QStringLiteral("(Markdown)");
    return QStringLiteral("(HTML)");
}

KRTextShadow KRTextShadow::fromString(const QString &text)
{
    KRTextShadow shadow;
    static const QRegularExpression pattern(QStringLiteral("(\\S*) (\\S*)px (\\S*)px (\\S*)px"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return shadow;
    KRColor colour;
    colour.setStringValue(m.captured(1));
    shadow.color = colour.stringValue();
    const auto length = [&](int group) {
        const std::optional<double> number = KRStepperValueTransformer::readNumber(m.captured(group));
        return number ? int(std::trunc(*number)) : 0;
    };
    shadow.x = length(2);
    shadow.y = length(3);
    shadow.blur = length(4);
    return shadow;
}

QString KRTextShadow::stringValue() const
{
    KRColor colour;
    colour.setStringValue(color);
    return QStringLiteral("%1 %2px %3px %4px").arg(colour.stringValue()).arg(x).arg(y).arg(blur);
}

KRCSSLengthValueTransformer::Kind KRCSSLengthValueTransformer::kindOfProperty(const QString &className,
                                                                            const QString &propertyName)
{
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    if (!registry.classNamed(className))
        return Kind::None;
    const auto table = registry.descriptorTablePointer(className);
    const auto index = registry.descriptorIndexPointer(className);
    const qsizetype position = index ? index->value(QStringLiteral("kr_") + propertyName, -1) : -1;
    if (!table || position < 0 || position >= qsizetype(table->size()))
        return Kind::None;
    const KRPropertyDescriptor &descriptor = (*table)[std::size_t(position)];
    if (descriptor.adapterOptions() & KRAdapterOptionCSSPixels)
        return Kind::Pixels;
    if (descriptor.cssAttributeName() == QLatin1String("line-height"))
        return Kind::LineHeight;
    return Kind::None;
}

std::optional<QString> KRCSSLengthValueTransformer::reverseTransformedValue(const QString &typed, Kind kind)
{
    const QString text = typed.trimmed();
    if (kind == Kind::None || text.isEmpty())
        return text.isEmpty() ? QString(QLatin1String("")) : typed;
    static const QString number = QStringLiteral("([+-]?(?:\\d+(?:\\.\\d+)?|\\.\\d+))");
    static const QRegularExpression pixels(QStringLiteral("^%1\\s*(px)?$").arg(number),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression percentage(QStringLiteral("^%1\\s*%$").arg(number));
    if (const QRegularExpressionMatch m = percentage.match(text); m.hasMatch())
        return m.captured(1) + QLatin1Char('%');
    if (kind == Kind::Pixels) {
        // The model adds the unit itself: stored with one, the page would read "20pxpx".
        if (const QRegularExpressionMatch m = pixels.match(text); m.hasMatch())
            return m.captured(1);
        return std::nullopt;
    }
    static const QRegularExpression length(
        QStringLiteral("^%1(?:\\s*(px|em|rem|ex|ch|pt|pc|cm|mm|in|vh|vw|vmin|vmax))?$").arg(number),
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch m = length.match(text); m.hasMatch())
        return m.captured(1) + m.captured(2).toLower();
    if (text.compare(QLatin1String("normal"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("normal");
    return std::nullopt;
}

QString KRCSSLengthValueTransformer::expectedText(Kind kind)
{
    if (kind == Kind::LineHeight)
        return QStringLiteral("Enter a number (a multiple of the font size), a length such as 24px or 1.5em, a "
                              "percentage such as 150%, or normal.");
    return QStringLiteral("Enter a number of pixels, such as 20 or 20px, or a percentage, such as 50%.");
}

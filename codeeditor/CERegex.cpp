#include "CERegex.h"

#include <unicode/uregex.h>
#include <unicode/utypes.h>

#include <limits>

namespace {

const UChar *ceRegexUnits(const QString &text)
{
    return reinterpret_cast<const UChar *>(text.constData());
}

int32_t ceRegexLength(const QString &text)
{
    return static_cast<int32_t>(text.size() & 0x7fffffff);
}

void ceRegexCheck(UErrorCode status, const char *name, const QString &reason)
{
    if (U_FAILURE(status))
        throw CERegexException(QString::fromLatin1(name), reason.arg(QString::fromLatin1(u_errorName(status))));
}

} // namespace

CERegexException::CERegexException(const QString &name, const QString &reason)
    : std::runtime_error((name + QStringLiteral(": ") + reason).toStdString()), m_name(name), m_reason(reason)
{
}

RegexPattern::RegexPattern(const QString &pattern, quint32 flags)
    : m_flags(flags)
{
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    m_re = uregex_open(ceRegexUnits(pattern), ceRegexLength(pattern), flags, &parseError, &status);
    if (U_FAILURE(status)) {
        m_re = nullptr;
        ceRegexCheck(status, "Invalid Pattern Exception", QStringLiteral("Could not compile pattern: %1"));
    }
}

RegexPattern::~RegexPattern()
{
    if (m_re)
        uregex_close(m_re);
}

RegexPattern::RegexPattern(const RegexPattern &other)
    : m_flags(other.m_flags)
{
    UErrorCode status = U_ZERO_ERROR;
    m_re = uregex_clone(other.m_re, &status);
    if (U_FAILURE(status)) {
        m_re = nullptr;
        ceRegexCheck(status, "Copy Exception", QStringLiteral("Could not copy pattern: %1"));
    }
}

void RegexPattern::setStringToSearch(const QString &text)
{
    // The previous copy stays alive until ICU has been handed the new one.
    const QString previous = m_text;
    m_text = text;
    UErrorCode status = U_ZERO_ERROR;
    uregex_setText(m_re, ceRegexUnits(m_text), ceRegexLength(m_text), &status);
    if (U_FAILURE(status)) {
        m_text = previous;
        ceRegexCheck(status, "Invalid String Exception", QStringLiteral("Could not set text to match against: %1"));
    }
    reset();
}

void RegexPattern::reset()
{
    UErrorCode status = U_ZERO_ERROR;
    uregex_reset(m_re, 0, &status);
    ceRegexCheck(status, "Pattern Exception", QStringLiteral("Could not reset pattern: %1"));
}

QString RegexPattern::pattern() const
{
    if (!m_re)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    const UChar *units = uregex_pattern(m_re, &length, &status);
    if (U_FAILURE(status) || !units)
        throw CERegexException(QStringLiteral("Pattern Exception"), QStringLiteral("Could not get pattern text from pattern."));
    return QString(reinterpret_cast<const QChar *>(units), length);
}

QStringList RegexPattern::componentsSplitFromString(const QString &text)
{
    setStringToSearch(text);
    int32_t capacity = std::max<int32_t>(ceRegexLength(text), 1);
    int32_t fieldSlots = 16;
    for (;;) {
        std::vector<UChar> buffer(static_cast<size_t>(capacity));
        std::vector<UChar *> fields(static_cast<size_t>(fieldSlots), nullptr);
        UErrorCode status = U_ZERO_ERROR;
        int32_t required = 0;
        const int32_t count = uregex_split(m_re, buffer.data(), capacity, &required, fields.data(), fieldSlots, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            if (required > capacity) {
                capacity = required;
            } else {
                if (capacity >= std::numeric_limits<int32_t>::max() / 2)
                    throw CERegexException(QStringLiteral("Split Exception"), QStringLiteral("Overflow occurred splitting string."));
                capacity *= 2;
            }
            continue;
        }
        ceRegexCheck(status, "Split Exception", QStringLiteral("Unable to split string: %1"));
        if (count == fieldSlots) {
            // Every slot is used, so the last one may hold the unsplit rest.
            fieldSlots *= 2;
            continue;
        }
        QStringList parts;
        for (int32_t i = 0; i < count; ++i)
            parts.append(QString::fromUtf16(reinterpret_cast<const char16_t *>(fields[static_cast<size_t>(i)])));
        return parts;
    }
}

bool RegexPattern::matchesString(const QString &text)
{
    RegexMatcher matcher(std::make_shared<RegexPattern>(*this), text);
    return matcher.matches();
}

RegexMatcher::RegexMatcher(std::shared_ptr<RegexPattern> pattern, const QString &text)
    : m_pattern(std::move(pattern))
{
    m_pattern->setStringToSearch(text);
}

bool RegexMatcher::matches()
{
    UErrorCode status = U_ZERO_ERROR;
    const UBool result = uregex_matches(m_pattern->re(), 0, &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    return result;
}

bool RegexMatcher::lookingAt(quint32)
{
    UErrorCode status = U_ZERO_ERROR;
    const UBool result = uregex_lookingAt(m_pattern->re(), 0, &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    return result;
}

bool RegexMatcher::findNext()
{
    UErrorCode status = U_ZERO_ERROR;
    const UBool result = uregex_findNext(m_pattern->re(), &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    return result;
}

bool RegexMatcher::findFromIndex(quint32 index)
{
    reset();
    UErrorCode status = U_ZERO_ERROR;
    const UBool result = uregex_find(m_pattern->re(), static_cast<int32_t>(index & 0x7fffffff), &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    return result;
}

int RegexMatcher::numberOfGroups()
{
    UErrorCode status = U_ZERO_ERROR;
    const int32_t count = uregex_groupCount(m_pattern->re(), &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    return count;
}

CERange RegexMatcher::rangeOfMatchGroup(quint32 group)
{
    UErrorCode status = U_ZERO_ERROR;
    const int32_t start = uregex_start(m_pattern->re(), static_cast<int32_t>(group), &status);
    const int32_t end = uregex_end(m_pattern->re(), static_cast<int32_t>(group), &status);
    ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
    if (start < 0)
        return {};
    return {start, end - start};
}

QString RegexMatcher::groupAtIndex(quint32 group)
{
    int32_t capacity = 128;
    for (;;) {
        std::vector<UChar> buffer(static_cast<size_t>(capacity));
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = uregex_group(m_pattern->re(), static_cast<int32_t>(group), buffer.data(), capacity, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            capacity *= 2;
            continue;
        }
        ceRegexCheck(status, "Find Exception", QStringLiteral("%1"));
        return QString(reinterpret_cast<const QChar *>(buffer.data()), length);
    }
}

QString RegexMatcher::performReplacement(const QString &replacement, bool replaceAll)
{
    const auto replace = replaceAll ? uregex_replaceAll : uregex_replaceFirst;
    int32_t capacity = std::max<int32_t>((ceRegexLength(m_pattern->stringToSearch()) * 2) & 0x7fffffff, 1);
    for (;;) {
        std::vector<UChar> buffer;
        try {
            buffer.resize(static_cast<size_t>(capacity));
        } catch (const std::bad_alloc &) {
            throw CERegexException(QStringLiteral("Find Exception"), QStringLiteral("Could not allocate memory for replacement string"));
        }
        UErrorCode status = U_ZERO_ERROR;
        const int32_t length = replace(m_pattern->re(), ceRegexUnits(replacement), ceRegexLength(replacement),
                                       buffer.data(), capacity, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            capacity = length + 1;
            continue;
        }
        ceRegexCheck(status, "Find Exception", QStringLiteral("Could not perform find and replace: %1"));
        return QString(reinterpret_cast<const QChar *>(buffer.data()), length);
    }
}

namespace CERegexStrings {

QString replaceOccurrencesOfPattern(const QString &text, const QString &pattern, const QString &replacement)
{
    RegexMatcher matcher(std::make_shared<RegexPattern>(pattern), text);
    return matcher.replaceAllWithString(replacement);
}

bool matchesPattern(const QString &text, const QString &pattern)
{
    RegexMatcher matcher(std::make_shared<RegexPattern>(pattern), text);
    return matcher.matches();
}

QStringList findPattern(const QString &text, const QString &pattern)
{
    RegexMatcher matcher(std::make_shared<RegexPattern>(pattern), text);
    if (!matcher.findNext())
        throw CERegexException(QStringLiteral("Find Exception"), QStringLiteral("No match for pattern"));
    QStringList groups;
    const int count = matcher.numberOfGroups();
    for (int i = 0; i <= count; ++i)
        groups.append(matcher.groupAtIndex(static_cast<quint32>(i)));
    return groups;
}

QStringList componentsSeparatedByPattern(const QString &text, const QString &pattern)
{
    RegexPattern compiled(pattern);
    return compiled.componentsSplitFromString(text);
}

} // namespace CERegexStrings

#include "KRRegex.h"

#include <unicode/uregex.h>
#include <unicode/utypes.h>

namespace {

// A clone of a compiled expression, set to search `text` (which must outlive it).
class Searcher
{
public:
    Searcher(const URegularExpression *compiled, const QString &text)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_regex = uregex_clone(compiled, &status);
        if (U_FAILURE(status)) {
            m_regex = nullptr;
            return;
        }
        uregex_setText(m_regex, reinterpret_cast<const UChar *>(text.constData()),
                       static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status)) {
            uregex_close(m_regex);
            m_regex = nullptr;
        }
    }
    ~Searcher()
    {
        if (m_regex)
            uregex_close(m_regex);
    }
    Searcher(const Searcher &) = delete;
    Searcher &operator=(const Searcher &) = delete;

    URegularExpression *regex() const { return m_regex; }

private:
    URegularExpression *m_regex = nullptr;
};

// Runs one ICU test (uregex_matches, uregex_find) on the text from its start; false when the
// expression did not compile or the test fails.
bool testFromStart(const URegularExpression *compiled, const QString &text,
                   UBool (*test)(URegularExpression *, int32_t, UErrorCode *))
{
    if (!compiled)
        return false;
    Searcher searcher(compiled, text);
    if (!searcher.regex())
        return false;
    UErrorCode status = U_ZERO_ERROR;
    const UBool passed = test(searcher.regex(), 0, &status);
    return U_SUCCESS(status) && passed;
}

} // namespace

QString KRRegexMatch::captured(const QString &text, int group) const
{
    if (group < 0 || group >= groups.size() || groups.at(group).start < 0)
        return {};
    return text.mid(groups.at(group).start, groups.at(group).length);
}

KRRegex::KRRegex(const QString &pattern, int options) : m_pattern(pattern), m_options(options)
{
    uint32_t flags = 0;
    if (options & CaseInsensitive)
        flags |= UREGEX_CASE_INSENSITIVE;
    if (options & MultiLine)
        flags |= UREGEX_MULTILINE;
    if (options & DotMatchesAll)
        flags |= UREGEX_DOTALL;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    m_regex = uregex_open(reinterpret_cast<const UChar *>(pattern.constData()),
                          static_cast<int32_t>(pattern.size()), flags, &parseError, &status);
    if (U_FAILURE(status)) {
        if (m_regex)
            uregex_close(m_regex);
        m_regex = nullptr;
        m_errorString = QStringLiteral("%1 at offset %2").arg(QString::fromLatin1(u_errorName(status))).arg(parseError.offset);
    }
}

KRRegex::KRRegex(const KRRegex &other) : KRRegex(other.m_pattern, other.m_options)
{
}

KRRegex &KRRegex::operator=(const KRRegex &other)
{
    if (this != &other) {
        KRRegex copy(other);
        *this = std::move(copy);
    }
    return *this;
}

KRRegex::KRRegex(KRRegex &&other) noexcept
    : m_regex(other.m_regex), m_pattern(std::move(other.m_pattern)), m_options(other.m_options),
      m_errorString(std::move(other.m_errorString))
{
    other.m_regex = nullptr;
}

KRRegex &KRRegex::operator=(KRRegex &&other) noexcept
{
    if (this != &other) {
        if (m_regex)
            uregex_close(m_regex);
        m_regex = other.m_regex;
        other.m_regex = nullptr;
        m_pattern = std::move(other.m_pattern);
        m_options = other.m_options;
        m_errorString = std::move(other.m_errorString);
    }
    return *this;
}

KRRegex::~KRRegex()
{
    if (m_regex)
        uregex_close(m_regex);
}

bool KRRegex::matchesEntirely(const QString &text) const
{
    return testFromStart(m_regex, text, uregex_matches);
}

bool KRRegex::containsMatch(const QString &text) const
{
    return testFromStart(m_regex, text, uregex_find);
}

QList<KRRegexMatch> KRRegex::allMatches(const QString &text) const
{
    QList<KRRegexMatch> matches;
    if (!m_regex)
        return matches;
    Searcher searcher(m_regex, text);
    URegularExpression *regex = searcher.regex();
    if (!regex)
        return matches;
    UErrorCode status = U_ZERO_ERROR;
    const int32_t groupCount = uregex_groupCount(regex, &status);
    // findNext steps past empty matches itself, so the loop always advances.
    while (U_SUCCESS(status) && uregex_findNext(regex, &status) && U_SUCCESS(status)) {
        KRRegexMatch match;
        for (int32_t group = 0; group <= groupCount; ++group) {
            const int32_t start = uregex_start(regex, group, &status);
            const int32_t end = uregex_end(regex, group, &status);
            if (U_FAILURE(status))
                return matches;
            match.groups.append(start < 0 ? KRRegexMatch::Range{} : KRRegexMatch::Range{start, end - start});
        }
        matches.append(match);
    }
    return matches;
}

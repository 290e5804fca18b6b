#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

struct URegularExpression;

// The error of the regular-expression wrapper: a name ("Invalid Pattern Exception",
// "Find Exception", ...) and a reason that carries ICU's error name.
class CERegexException : public std::runtime_error
{
public:
    CERegexException(const QString &name, const QString &reason);
    QString name() const { return m_name; }
    QString reason() const { return m_reason; }

private:
    QString m_name;
    QString m_reason;
};

// A character range in UTF-16 units; location -1 is "not found".
struct CERange
{
    qsizetype location = -1;
    qsizetype length = 0;
    qsizetype end() const { return location + length; }
    bool operator==(const CERange &) const = default;
};

// A compiled ICU expression and the text it searches. Matchers of one pattern share its
// search state (text, position, last match). Every ICU call gets an explicit UTF-16 length,
// so a U+0000 inside the text is searched like any other character.
class RegexPattern
{
public:
    // Throws "Invalid Pattern Exception" when the pattern does not compile.
    explicit RegexPattern(const QString &pattern, quint32 flags = 0);
    ~RegexPattern();
    // A copy compiled from the same pattern and flags; the copy has no text.
    RegexPattern(const RegexPattern &other);
    RegexPattern &operator=(const RegexPattern &) = delete;

    void setStringToSearch(const QString &text);
    QString stringToSearch() const { return m_text; }
    void reset();
    QString pattern() const;
    quint32 flags() const { return m_flags; }
    URegularExpression *re() const { return m_re; }

    QStringList componentsSplitFromString(const QString &text);
    bool matchesString(const QString &text);

private:
    URegularExpression *m_re = nullptr; // owned
    QString m_text;                     // the searched text; ICU reads its buffer
    quint32 m_flags = 0;
};

class RegexMatcher
{
public:
    RegexMatcher(std::shared_ptr<RegexPattern> pattern, const QString &text);

    std::shared_ptr<RegexPattern> pattern() const { return m_pattern; }
    void setPattern(std::shared_ptr<RegexPattern> pattern) { m_pattern = std::move(pattern); }

    bool matches();
    // Whether the beginning of the text matches; always tried from index 0.
    bool lookingAt(quint32 index);
    bool findNext();
    bool findFromIndex(quint32 index);
    int numberOfGroups();
    CERange rangeOfMatch() { return rangeOfMatchGroup(0); }
    CERange rangeOfMatchGroup(quint32 group);
    QString group() { return groupAtIndex(0); }
    QString groupAtIndex(quint32 group);
    QString replaceAllWithString(const QString &replacement) { return performReplacement(replacement, true); }
    QString replaceFirstWithString(const QString &replacement) { return performReplacement(replacement, false); }
    QString performReplacement(const QString &replacement, bool replaceAll);
    void reset() { m_pattern->reset(); }

private:
    std::shared_ptr<RegexPattern> m_pattern;
};

// String helpers over the wrapper (patterns compiled with no flags).
namespace CERegexStrings {
QString replaceOccurrencesOfPattern(const QString &text, const QString &pattern, const QString &replacement);
bool matchesPattern(const QString &text, const QString &pattern);
// Groups 0..n of the first match; "Find Exception" when there is none.
QStringList findPattern(const QString &text, const QString &pattern);
QStringList componentsSeparatedByPattern(const QString &text, const QString &pattern);
} // namespace CERegexStrings

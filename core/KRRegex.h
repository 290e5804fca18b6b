#pragma once

#include <QList>
#include <QString>

#include <memory>

struct URegularExpression;

// One match of a KRRegex: the range of the whole match (group 0) and of each capture group,
// in UTF-16 code units of the searched text; a group that took no part has start -1.
struct KRRegexMatch
{
    struct Range
    {
        qsizetype start = -1;
        qsizetype length = 0;
    };
    QList<Range> groups;

    qsizetype start() const { return groups.value(0).start; }
    qsizetype length() const { return groups.value(0).length; }
    qsizetype end() const { return start() + length(); }
    // The text of a group within the searched text; a null QString for a group without a match.
    QString captured(const QString &text, int group = 0) const;
};

// An ICU regular expression over UTF-16 text (so \w, \s and case folding follow Unicode).
// A pattern that does not compile gives an invalid object whose searches find nothing.
// Compiled once; every search works on its own clone, so one object may be shared by threads.
class KRRegex
{
public:
    enum Option {
        NoOptions = 0,
        CaseInsensitive = 1,
        MultiLine = 2,        // ^ and $ match at line ends
        DotMatchesAll = 4,    // . matches line ends too
    };

    KRRegex() = default;
    explicit KRRegex(const QString &pattern, int options = NoOptions);
    KRRegex(const KRRegex &other);
    KRRegex &operator=(const KRRegex &other);
    KRRegex(KRRegex &&other) noexcept;
    KRRegex &operator=(KRRegex &&other) noexcept;
    ~KRRegex();

    bool isValid() const { return m_regex != nullptr; }
    QString pattern() const { return m_pattern; }
    QString errorString() const { return m_errorString; } // empty when valid

    // True when the pattern matches the whole text.
    bool matchesEntirely(const QString &text) const;
    // True when the pattern matches anywhere in the text.
    bool containsMatch(const QString &text) const;
    // All non-overlapping matches in text order, found on the original text.
    QList<KRRegexMatch> allMatches(const QString &text) const;

private:
    URegularExpression *m_regex = nullptr; // owned; never searched directly, only cloned
    QString m_pattern;
    int m_options = NoOptions;
    QString m_errorString;
};

#pragma once

#include <QString>

#include <bitset>
#include <memory>

// A set of UTF-16 code units, built from Unicode categories plus added and removed characters.
// Membership is one table look-up, so the colouring passes can test every character.
class CECharacterSet
{
public:
    CECharacterSet();
    static CECharacterSet letters();             // L* and M*
    static CECharacterSet alphanumerics();       // L*, M* and N*
    static CECharacterSet whitespaceAndNewlines();
    static CECharacterSet symbols();             // S*
    static CECharacterSet punctuation();         // P*
    static CECharacterSet fromCharacters(const QString &characters);

    bool contains(QChar c) const { return m_members->test(c.unicode()); }
    void addCharacters(const QString &characters);
    void removeCharacters(const QString &characters);
    void unite(const CECharacterSet &other);
    bool isEmpty() const { return m_members->none(); }

private:
    void detach();
    std::shared_ptr<std::bitset<65536>> m_members;
};

// A scanner over a string that skips no characters. A scan that takes nothing answers false
// and leaves the location where it was. Setting a location past the end throws
// std::out_of_range.
class CEStringScanner
{
public:
    explicit CEStringScanner(const QString &text) : m_text(text) {}
    virtual ~CEStringScanner() = default;

    const QString &string() const { return m_text; }
    qsizetype scanLocation() const { return m_location; }
    virtual void setScanLocation(qsizetype location);
    bool isAtEnd() const { return m_location >= m_text.size(); }

    // Moves up to the next occurrence of `target` (or to the end when there is none). False,
    // without moving, when the target starts at the location or the scanner is at the end.
    bool scanUpToString(const QString &target);
    bool scanUpToCharactersFromSet(const CECharacterSet &set);
    bool scanCharactersFromSet(const CECharacterSet &set);

protected:
    QString m_text;
    qsizetype m_location = 0;
};

// A scanner whose requested locations are clamped to the last character.
class CEScanner : public CEStringScanner
{
public:
    explicit CEScanner(const QString &text) : CEStringScanner(text), m_maxIndex(text.size() - 1) {}
    void setScanLocation(qsizetype location) override;
    qsizetype maxIndex() const { return m_maxIndex; }

private:
    qsizetype m_maxIndex;
};

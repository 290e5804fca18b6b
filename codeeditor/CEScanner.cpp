#include "CEScanner.h"

#include <stdexcept>

namespace {

template <typename Predicate>
CECharacterSet ceScannerSetOf(Predicate predicate)
{
    CECharacterSet set;
    QString members;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (predicate(QChar(static_cast<char16_t>(c))))
            members.append(QChar(static_cast<char16_t>(c)));
    }
    set.addCharacters(members);
    return set;
}

bool ceScannerIsLetterOrMark(QChar c)
{
    return c.isLetter() || c.isMark();
}

} // namespace

CECharacterSet::CECharacterSet()
    : m_members(std::make_shared<std::bitset<65536>>())
{
}

CECharacterSet CECharacterSet::letters()
{
    static const CECharacterSet set = ceScannerSetOf(ceScannerIsLetterOrMark);
    return set;
}

CECharacterSet CECharacterSet::alphanumerics()
{
    static const CECharacterSet set = ceScannerSetOf([](QChar c) { return ceScannerIsLetterOrMark(c) || c.isNumber(); });
    return set;
}

CECharacterSet CECharacterSet::whitespaceAndNewlines()
{
    static const CECharacterSet set = ceScannerSetOf([](QChar c) {
        return c.category() == QChar::Separator_Space || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph || (c.unicode() >= 0x09 && c.unicode() <= 0x0d)
            || c.unicode() == 0x85;
    });
    return set;
}

CECharacterSet CECharacterSet::symbols()
{
    static const CECharacterSet set = ceScannerSetOf([](QChar c) { return c.isSymbol(); });
    return set;
}

CECharacterSet CECharacterSet::punctuation()
{
    static const CECharacterSet set = ceScannerSetOf([](QChar c) { return c.isPunct(); });
    return set;
}

CECharacterSet CECharacterSet::fromCharacters(const QString &characters)
{
    CECharacterSet set;
    set.addCharacters(characters);
    return set;
}

void CECharacterSet::detach()
{
    if (m_members.use_count() > 1)
        m_members = std::make_shared<std::bitset<65536>>(*m_members);
}

void CECharacterSet::addCharacters(const QString &characters)
{
    detach();
    for (QChar c : characters)
        m_members->set(c.unicode());
}

void CECharacterSet::removeCharacters(const QString &characters)
{
    detach();
    for (QChar c : characters)
        m_members->reset(c.unicode());
}

void CECharacterSet::unite(const CECharacterSet &other)
{
    detach();
    *m_members |= *other.m_members;
}

void CEStringScanner::setScanLocation(qsizetype location)
{
    if (location < 0 || location > m_text.size())
        throw std::out_of_range("scan location " + std::to_string(location) + " beyond the end "
                                + std::to_string(m_text.size()));
    m_location = location;
}

bool CEStringScanner::scanUpToString(const QString &target)
{
    if (isAtEnd() || target.isEmpty())
        return false;
    qsizetype found = m_text.indexOf(target, m_location);
    if (found < 0)
        found = m_text.size();
    if (found == m_location)
        return false;
    m_location = found;
    return true;
}

bool CEStringScanner::scanUpToCharactersFromSet(const CECharacterSet &set)
{
    const qsizetype start = m_location;
    const QChar *units = m_text.constData();
    qsizetype i = start;
    while (i < m_text.size() && !set.contains(units[i]))
        ++i;
    m_location = i;
    return i > start;
}

bool CEStringScanner::scanCharactersFromSet(const CECharacterSet &set)
{
    const qsizetype start = m_location;
    const QChar *units = m_text.constData();
    qsizetype i = start;
    while (i < m_text.size() && set.contains(units[i]))
        ++i;
    m_location = i;
    return i > start;
}

void CEScanner::setScanLocation(qsizetype location)
{
    CEStringScanner::setScanLocation(std::max<qsizetype>(0, std::min(location, m_maxIndex)));
}

#pragma once

#include <QString>
#include <QStringList>

// The variables of an address's query ("name=value" texts after the first "?", separated by
// "&"), values returned with their percent escapes intact.
class URLParser
{
public:
    explicit URLParser(const QString &urlString);

    const QStringList &variables() const { return m_variables; }
    // The value of the first variable that has one under that name; null when none has.
    QString valueForVariable(const QString &name) const;

private:
    QStringList m_variables;
};

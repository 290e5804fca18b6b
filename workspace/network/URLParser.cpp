#include "URLParser.h"

#include <QRegularExpression>

URLParser::URLParser(const QString &urlString)
{
    const qsizetype query = urlString.indexOf(QLatin1Char('?'));
    if (query < 0)
        return;
    const QStringList pieces = urlString.mid(query + 1).split(QRegularExpression(QStringLiteral("[&?]")),
                                                              Qt::SkipEmptyParts);
    m_variables = pieces;
}

QString URLParser::valueForVariable(const QString &name) const
{
    const QString prefix = name + QLatin1Char('=');
    for (const QString &variable : m_variables) {
        if (variable.size() > prefix.size() && variable.startsWith(prefix))
            return variable.mid(prefix.size());
    }
    return {};
}

#pragma once

#include <platform/dom/DOMMutationListener.h>

#include <QString>
#include <QStringList>

#include <ostream>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList &l, std::ostream *os)
{
    *os << '[' << l.join(QStringLiteral(", ")).toStdString() << ']';
}

// Writes every mutation as one line, for comparing whole sequences.
class RecordingListener : public DOMMutationListener
{
public:
    void domDidMutate(const DOMMutation &m) override
    {
        QString line;
        switch (m.type) {
        case DOMMutation::Type::ChildInserted: line = QStringLiteral("insert %1 into %2 before %3").arg(m.node).arg(m.target).arg(m.before); break;
        case DOMMutation::Type::ChildRemoved: line = QStringLiteral("remove %1 from %2").arg(m.node).arg(m.target); break;
        case DOMMutation::Type::AttributeSet: line = QStringLiteral("attr %1 %2=%3").arg(m.target).arg(m.name, m.value); break;
        case DOMMutation::Type::AttributeRemoved: line = QStringLiteral("unattr %1 %2").arg(m.target).arg(m.name); break;
        case DOMMutation::Type::TextChanged: line = QStringLiteral("text %1 %2").arg(m.target).arg(m.value); break;
        case DOMMutation::Type::StyleSet: line = QStringLiteral("style %1[%2] %3=%4 %5").arg(m.target).arg(m.index).arg(m.name, m.value, m.priority).trimmed(); break;
        case DOMMutation::Type::StyleRemoved: line = QStringLiteral("unstyle %1[%2] %3").arg(m.target).arg(m.index).arg(m.name); break;
        case DOMMutation::Type::ClassAdded: line = QStringLiteral("+class %1 %2").arg(m.target).arg(m.name); break;
        case DOMMutation::Type::ClassRemoved: line = QStringLiteral("-class %1 %2").arg(m.target).arg(m.name); break;
        case DOMMutation::Type::RuleInserted: line = QStringLiteral("rule %1[%2] %3").arg(m.target).arg(m.index).arg(m.value); break;
        case DOMMutation::Type::RuleDeleted: line = QStringLiteral("unrule %1[%2]").arg(m.target).arg(m.index); break;
        case DOMMutation::Type::ScriptEvaluated: line = QStringLiteral("script %1").arg(m.value); break;
        }
        lines.append(line);
    }

    QStringList lines;
};

#include "KRException.h"

KRException::KRException(QString name, QString reason)
    : std::runtime_error((name + QStringLiteral(": ") + reason).toStdString()),
      m_name(std::move(name)), m_reason(std::move(reason))
{}

void krRaise(const QString &name, const QString &reason)
{
    throw KRException(name, reason);
}

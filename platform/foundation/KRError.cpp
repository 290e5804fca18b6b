#include "KRError.h"

QString KRError::toString() const
{
    return QStringLiteral("%1 (%2 %3)").arg(m_message, m_domain).arg(m_code);
}

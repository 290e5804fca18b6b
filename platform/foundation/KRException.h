#pragma once

#include <QString>

#include <stdexcept>

// A broken invariant of the model, raised under one of the names below. These never cross
// the Qt event loop: every GUI entry point and project opening catches them.
class KRException : public std::runtime_error
{
public:
    KRException(QString name, QString reason);

    const QString &name() const { return m_name; }
    const QString &reason() const { return m_reason; }

private:
    QString m_name;
    QString m_reason;
};

namespace KRExceptionName {
inline const QString InvalidElement = QStringLiteral("InvalidElementException");
inline const QString DuplicateID = QStringLiteral("DuplicateIDException");
inline const QString InvalidInitializer = QStringLiteral("InvalidInitializerException");
inline const QString InvalidMethod = QStringLiteral("InvalidMethodException");
inline const QString FileNotFound = QStringLiteral("FileNotFoundException");
inline const QString NibLoadingFailed = QStringLiteral("NibLoadingFailedException");
inline const QString FatalError = QStringLiteral("Fatal Error");
inline const QString InternalInconsistency = QStringLiteral("NSInternalInconsistencyException");
inline const QString InvalidArgument = QStringLiteral("NSInvalidArgumentException");
inline const QString Range = QStringLiteral("NSRangeException");
} // namespace KRExceptionName

[[noreturn]] void krRaise(const QString &name, const QString &reason);

#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>
#include <utility>
#include <variant>

// A failure the user can cause: shown by the caller, never thrown. The domain and code
// identify the kind of failure ("Korvane" 100 for an invalid object id, "Project Error" 1 for
// a package without project.xml, ...); the message is the text a person reads.
class KRError
{
public:
    KRError() = default;
    KRError(QString domain, int code, QString message, QVariantMap userInfo = {})
        : m_domain(std::move(domain)), m_code(code), m_message(std::move(message)),
          m_userInfo(std::move(userInfo))
    {}

    bool isNull() const { return m_domain.isEmpty() && m_code == 0 && m_message.isEmpty(); }
    explicit operator bool() const { return !isNull(); }

    const QString &domain() const { return m_domain; }
    int code() const { return m_code; }
    const QString &message() const { return m_message; }
    const QVariantMap &userInfo() const { return m_userInfo; }

    // "<message> (<domain> <code>)", for the run log and test output.
    QString toString() const;

    friend bool operator==(const KRError &a, const KRError &b)
    {
        return a.m_domain == b.m_domain && a.m_code == b.m_code && a.m_message == b.m_message;
    }

private:
    QString m_domain;
    int m_code = 0;
    QString m_message;
    QVariantMap m_userInfo;
};

// A value or the error that prevented it.
template <typename T>
class KRResult
{
public:
    KRResult(T value) : m_state(std::move(value)) {}
    KRResult(KRError error) : m_state(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<T>(m_state); }
    T &value() & { return std::get<T>(m_state); }
    T &&value() && { return std::get<T>(std::move(m_state)); }
    const T &operator*() const & { return value(); }
    const T *operator->() const { return &value(); }

    const KRError &error() const { return std::get<KRError>(m_state); }

    T valueOr(T fallback) const { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, KRError> m_state;
};

// The result of an operation that has no value: success, or an error.
template <>
class KRResult<void>
{
public:
    KRResult() = default;
    KRResult(KRError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const KRError &error() const { return *m_error; }

private:
    std::optional<KRError> m_error;
};

#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <mutex>

// An HTTP authentication challenge (WWW-Authenticate / Proxy-Authenticate) and the answer to
// it. Basic and Digest are computed here; NTLM is left to the transport. The strongest
// scheme offered is chosen: Digest, then NTLM, then Basic. A challenge whose schemes are all
// unknown is not usable.
class NetAuthChallenge
{
public:
    // Null when no challenge header was sent.
    static std::shared_ptr<NetAuthChallenge> fromHeaderValues(const QStringList &values);

    QString scheme() const { return m_scheme; }   // "Basic", "Digest", "NTLM" or what was offered
    QString realm() const { return m_params.value(QStringLiteral("realm")); }
    QString param(const QString &name) const { return m_params.value(name.toLower()); }
    bool isUsable() const;
    bool requiresAccountDomain() const { return m_scheme == QLatin1String("NTLM"); }
    bool requiresUserNameAndPassword() const { return isUsable(); }
    bool isStale() const { return param(QStringLiteral("stale")).compare(QLatin1String("true"), Qt::CaseInsensitive) == 0; }

    // Credentials were applied with this object; a further challenge means they were refused.
    // A challenge remembered for the session is shared by requests on several threads.
    std::atomic<bool> applied{false};

    // The Authorization (or Proxy-Authorization) value for one request. Empty for NTLM.
    QByteArray authorizationValue(const QString &method, const QByteArray &uri, const QString &user,
                                  const QString &password);

    static QByteArray basicValue(const QString &user, const QString &password);
    // "DOMAIN\user" -> ("DOMAIN", "user") when the name holds exactly one backslash.
    static bool splitDomainUser(const QString &name, QString *domain, QString *user);

private:
    QString m_scheme;
    QMap<QString, QString> m_params;
    std::mutex m_nonceMutex;
    int m_nonceCount = 0;
};

#pragma once

#include <ui/KRCachingViewController.h>

#include <QPointer>

#include <QLineEdit>

// The user-name and password fields of the proxy-credentials alert.
class KRProxyAuthViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    KRProxyAuthViewController();
    ~KRProxyAuthViewController() override;

    QString nibName() const override { return QStringLiteral("KRProxyAuthView"); }

    QLineEdit *username() const { return m_username; }
    QLineEdit *password() const { return m_password; }

    // Asks for the credentials of the proxy ("host:port") in the "HTTP Proxy Authentication"
    // alert of the alert service, the fields under its text; true when the user chose "Login".
    static bool askForCredentials(const QString &proxy, QString *user, QString *password);
    // Makes askForCredentials the hosting-service client's proxy prompt.
    static void installAsProxyCredentialPrompt();

private:
    friend class KRNetworkInterfacesBuilder;
    QPointer<QLineEdit> m_username;
    QPointer<QLineEdit> m_password;
};

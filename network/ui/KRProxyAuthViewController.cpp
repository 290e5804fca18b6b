#include "KRProxyAuthViewController.h"

#include "KRNewsViewController.h"

#include <QLineEdit>

KRProxyAuthViewController::KRProxyAuthViewController()
{
    KRNewsViewController::registerInterfaces();
}

KRProxyAuthViewController::~KRProxyAuthViewController() = default;

bool KRProxyAuthViewController::askForCredentials(const QString &, QString *, QString *)
{
    return false;
}

KRProxyAuthViewController *KRProxyAuthViewController::presented()
{
    return nullptr;
}

void KRProxyAuthViewController::installAsProxyCredentialPrompt() {}

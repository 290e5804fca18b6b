#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

// ---------------------------------------------------------------- redirects

bool NetHTTPRequest::willRedirect()
{
    const int status = d->responseStatusCode;
    const QString location = d->responseHeaders.value(QStringLiteral("Location"));
    if (!d->shouldRedirect || location.isEmpty()
        || !(status == 301 || status == 302 || status == 303 || status == 307 || status == 308))
        return false;
    requestRedirected();
    // 307 and 308 keep the method and the body.
    if (status == 307 || status == 308 || ((status == 301 || status == 302) && d->shouldUseRFC2616RedirectBehaviour)) {
        d->haveBuiltRequestHeaders = false; // the cookie header is applied again
    } else {
        completeUploadProgress();
        d->requestMethod = QStringLiteral("GET");
        d->postBody.clear();
        d->postBodyParts.clear();
        d->compressedPostBody.clear();
        if (d->didCreateTemporaryPostDataFile)
            QFile::remove(d->postBodyFilePath);
        d->postBodyFilePath.clear();
        d->shouldStreamPostDataFromDisk = false;
        d->postLength = 0;
        d->haveBuiltPostBody = true;
        QList<QPair<QString, QString>> kept;
        for (const auto &h : d->requestHeaders) {
            if (h.first.compare(QLatin1String("User-Agent"), Qt::CaseInsensitive) == 0
                || h.first.compare(QLatin1String("Accept"), Qt::CaseInsensitive) == 0)
                kept << h;
        }
        d->requestHeaders = kept;
        d->haveBuiltRequestHeaders = false;
    }
    d->redirectURL = d->url.resolved(QUrl(location));
    d->needsRedirect = true;
    d->requestCookies.clear();
    return true;
}

bool NetHTTPRequest::willAskDelegateToConfirmRedirect()
{
    auto dl = d->delegate.lock();
    auto q = d->queue;
    const bool delegateAsks = dl && dl->answersWillRedirect();
    const bool queueAsks = q && static_cast<NetHTTPRequestDelegate *>(q.get())->answersWillRedirect();
    if (!delegateAsks && !queueAsks)
        return false;
    const QUrl target = d->redirectURL;
    d->redirectURL = QUrl();
    auto self = shared_from_this();
    netPerformOnMainThread([self, target, delegateAsks, queueAsks] {
        if (delegateAsks) {
            if (auto dl = self->delegate())
                dl->requestWillRedirectToURL(self, target);
        }
        if (queueAsks) {
            if (auto q = self->queue())
                static_cast<NetHTTPRequestDelegate *>(q.get())->requestWillRedirectToURL(self, target);
        }
    });
    return true;
}

void NetHTTPRequest::redirectToURL(const QUrl &url)
{
    auto self = shared_from_this();
    performOnRequestThread([self, url] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        if (self->d->cancelled || self->d->error)
            return;
        self->d->redirectURL = url;
        self->performRedirect();
    });
}

// Credentials and the headers the caller added (which may carry keys or tokens) belong to the
// origin they were given for: a redirect to another scheme, host or port keeps only the
// headers that describe the body and what answer is wanted. Cookies from the cookie store are
// added again under their own domain rules.
void NetHTTPRequest::withholdCredentialsFromNewOrigin()
{
    static const char *const portable[] = {"Accept", "Accept-Charset", "Accept-Encoding", "Accept-Language",
                                           "Content-Encoding", "Content-Language", "Content-Type", "User-Agent"};
    d->requestHeaders.erase(std::remove_if(d->requestHeaders.begin(), d->requestHeaders.end(),
                                           [](const QPair<QString, QString> &h) {
                                               for (const char *name : portable) {
                                                   if (h.first.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
                                                       return false;
                                               }
                                               return true;
                                           }),
                            d->requestHeaders.end());
    d->username.clear();
    d->password.clear();
    d->domain.clear();
    d->authenticationRealm.clear();
    d->hasRequestCredentials = false;
    d->credUser.clear();
    d->credPassword.clear();
    d->credDomain.clear();
    d->serverAuthentication.reset();
    d->appliedSessionRecord.reset();
    d->requestCookies.clear();
}

bool NetHTTPRequest::hasRequestBody() const
{
    return d->postLength > 0 || !d->postBody.isEmpty() || !d->postBodyParts.isEmpty() || !d->postBodyFilePath.isEmpty();
}

void NetHTTPRequest::performRedirect()
{
    const QUrl target = d->redirectURL;
    if (!isSameOrigin(d->url, target)) {
        // A redirect that keeps the method sends the body again, and a body may hold
        // credentials (a sign-in's e-mail and password): it never goes to another scheme,
        // host or port, which includes from https down to http.
        if (hasRequestBody()) {
            failWithError(errorWithCode(RedirectRefusedErrorType,
                                        QStringLiteral("The server redirected the request to another address (%1); "
                                                       "it was not sent there because what it carries may include "
                                                       "sign-in details")
                                            .arg(target.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery
                                                                 | QUrl::RemoveFragment)
                                                     .toString())));
            d->complete = true;
            return;
        }
        withholdCredentialsFromNewOrigin();
    }
    setURL(target);
    d->complete = true;
    d->needsRedirect = false;
    ++d->redirectCount;
    if (d->redirectCount < 6) {
        main();
    } else {
        failWithError(errorWithCode(TooMuchRedirectionErrorType,
                                    QStringLiteral("The request failed because it redirected too many times")));
        d->complete = true;
    }
}

// ---------------------------------------------------------------- authentication

namespace nethttp {
CredentialPtr findSessionRecord(const QUrl &url, const QString &realm, const QString &user, const QString &password)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    CredentialPtr close;
    for (const CredentialPtr &r : sessionCredentials) {
        const bool exact = r->url == url;
        if (!exact) {
            if (close)
                continue;
            const bool samePort = (r->url.port() == -1 && url.port() == -1) || (url.port() != -1 && r->url.port() == url.port());
            if (r->url.host() != url.host() || !samePort || r->url.scheme() != url.scheme())
                continue;
        }
        if (!realm.isEmpty() && !r->realm.isEmpty() && realm != r->realm)
            continue;
        if (!user.isEmpty() && !password.isEmpty() && (r->user != user || r->password != password))
            continue;
        if (exact)
            return r;
        close = r;
    }
    return close;
}

CredentialPtr findSessionProxyRecord(const QString &host, int port)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    for (const CredentialPtr &r : sessionProxyCredentials) {
        if (r->proxyHost == host && r->proxyPort == port)
            return r;
    }
    return nullptr;
}

void storeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    store.erase(std::remove_if(store.begin(), store.end(),
                               [&](const CredentialPtr &r) {
                                   return r->user == record->user && r->password == record->password
                                          && r->domain == record->domain && r->url == record->url
                                          && r->proxyHost == record->proxyHost && r->proxyPort == record->proxyPort;
                               }),
                store.end());
    store.push_back(record);
}

void removeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    auto it = std::find(store.begin(), store.end(), record);
    if (it != store.end())
        store.erase(it);
}
} // namespace nethttp

void NetHTTPRequest::applyAuthorizationHeader()
{
    if (!d->shouldPresentCredentialsBeforeChallenge)
        return;
    if (requestHeader(QStringLiteral("Authorization")).isEmpty()) {
        if (!d->username.isEmpty() && !d->password.isEmpty()
            && d->authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0) {
            addBasicAuthenticationHeader(d->username, d->password);
        } else if (d->useSessionPersistence) {
            if (CredentialPtr r = findSessionRecord(d->url, d->authenticationRealm, d->username, d->password)) {
                if (r->authentication) {
                    d->serverAuthentication = r->authentication;
                    d->serverAuthentication->applied = true;
                    d->setCredentials(false, r->user, r->password, r->domain);
                    d->appliedSessionRecord = r;
                    d->authenticationScheme = r->scheme;
                } else {
                    addBasicAuthenticationHeader(r->user, r->password);
                }
            }
        }
    }
    if (d->useSessionPersistence && !d->proxyHost.isEmpty()) {
        if (CredentialPtr r = findSessionProxyRecord(d->proxyHost, d->proxyPort)) {
            d->proxyAuthentication = r->authentication;
            if (d->proxyAuthentication)
                d->proxyAuthentication->applied = true;
            d->setCredentials(true, r->user, r->password, r->domain);
            d->appliedProxySessionRecord = r;
        }
    }
}

void NetHTTPRequest::storePreemptiveBasicRecord()
{
    if (d->serverAuthentication || d->authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) != 0
        || d->username.isEmpty() || d->password.isEmpty() || !d->useSessionPersistence)
        return;
    auto r = std::make_shared<CredentialRecord>();
    r->user = d->username;
    r->password = d->password;
    r->url = d->url;
    r->scheme = QStringLiteral("Basic");
    storeRecord(sessionCredentials, r);
}

bool NetHTTPRequest::findCredentials(QString *user, QString *password, QString *domain)
{
    QString u = QUrl::fromPercentEncoding(d->url.userName(QUrl::FullyEncoded).toLatin1());
    QString p = d->url.password();
    auto main = d->mainRequest.lock();
    if ((u.isEmpty() || p.isEmpty()) && main && !main->username().isEmpty() && !main->password().isEmpty()
        && isSameOrigin(main->url(), d->url)) {
        u = main->username();
        p = main->password();
    }
    if (u.isEmpty() || p.isEmpty()) {
        u = d->username;
        p = d->password;
    }
    if ((u.isEmpty() || p.isEmpty()) && d->useKeychainPersistence) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = protectionSpaceKey(d->url.host(), d->url.port(), d->url.scheme(), d->authenticationRealm);
        if (savedCredentials.contains(key)) {
            u = savedCredentials.value(key).first;
            p = savedCredentials.value(key).second;
        }
    }
    QString dom;
    if (d->serverAuthentication && d->serverAuthentication->requiresAccountDomain()) {
        QString splitDomain, splitUser;
        if (!d->domain.isEmpty())
            dom = d->domain;
        else if (NetAuthChallenge::splitDomainUser(u, &splitDomain, &splitUser)) {
            dom = splitDomain;
            u = splitUser;
        }
    }
    if (u.isEmpty() || p.isEmpty())
        return false;
    *user = u;
    *password = p;
    *domain = dom;
    return true;
}

bool NetHTTPRequest::findProxyCredentials(QString *user, QString *password, QString *domain)
{
    QString u, p;
    auto main = d->mainRequest.lock();
    if (main && !main->proxyUsername().isEmpty() && !main->proxyPassword().isEmpty()) {
        u = main->proxyUsername();
        p = main->proxyPassword();
    } else {
        u = d->proxyUsername;
        p = d->proxyPassword;
    }
    if ((u.isEmpty() || p.isEmpty()) && d->proxyAuthentication && d->proxyAuthentication->scheme() == QLatin1String("NTLM")) {
        u = d->username;
        p = d->password;
    }
    if (u.isEmpty() || p.isEmpty()) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = protectionSpaceKey(d->proxyHost, d->proxyPort, QStringLiteral("proxy"), d->proxyAuthenticationRealm);
        if (savedCredentials.contains(key)) {
            u = savedCredentials.value(key).first;
            p = savedCredentials.value(key).second;
        }
    }
    QString dom = d->proxyDomain;
    if (dom.isEmpty()) {
        QString splitDomain, splitUser;
        if (NetAuthChallenge::splitDomainUser(u, &splitDomain, &splitUser)) {
            dom = splitDomain;
            u = splitUser;
        } else {
            dom = d->domain;
        }
    }
    if (u.isEmpty() || p.isEmpty())
        return false;
    *user = u;
    *password = p;
    *domain = dom;
    return true;
}

bool NetHTTPRequest::applyCredentialsFor(bool proxy, const QString &user, const QString &password, const QString &domain)
{
    ++(proxy ? d->proxyAuthenticationRetryCount : d->authenticationRetryCount);
    const std::shared_ptr<NetAuthChallenge> &authentication = proxy ? d->proxyAuthentication : d->serverAuthentication;
    if ((user.isEmpty() && password.isEmpty()) || !authentication || !authentication->isUsable())
        return false;
    authentication->applied = true;
    d->setCredentials(proxy, user, password, domain);
    if (d->useKeychainPersistence) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = proxy ? protectionSpaceKey(d->proxyHost, d->proxyPort, QStringLiteral("proxy"), d->proxyAuthenticationRealm)
                                  : protectionSpaceKey(d->url.host(), d->url.port(), d->url.scheme(), d->authenticationRealm);
        savedCredentials.insert(key, {user, password});
    }
    if (d->useSessionPersistence) {
        auto r = std::make_shared<CredentialRecord>();
        r->authentication = authentication;
        r->user = user;
        r->password = password;
        r->domain = domain;
        r->scheme = authentication->scheme();
        if (proxy) {
            r->proxyHost = d->proxyHost;
            r->proxyPort = d->proxyPort;
        } else {
            r->url = d->url;
            r->realm = d->authenticationRealm;
        }
        storeRecord(proxy ? sessionProxyCredentials : sessionCredentials, r);
        (proxy ? d->appliedProxySessionRecord : d->appliedSessionRecord) = r;
    }
    return true;
}

bool NetHTTPRequest::applySessionCredentials()
{
    CredentialPtr r = findSessionRecord(d->url, d->authenticationRealm, d->username, d->password);
    if (!r || !d->serverAuthentication || !d->serverAuthentication->isUsable())
        return false;
    if (d->appliedSessionRecord == r)
        return false; // these were just refused
    d->serverAuthentication->applied = true;
    d->setCredentials(false, r->user, r->password, r->domain);
    d->appliedSessionRecord = r;
    return true;
}

// Hands the challenge to the delegate (or the queue standing in for it), else to the block;
// false when nobody will answer, so the caller fails at once.
bool NetHTTPRequest::willAskDelegateForAuthentication(bool proxy)
{
    if (d->isSynchronous)
        return false;
    auto dl = d->delegate.lock();
    std::shared_ptr<NetHTTPRequestDelegate> target = dl;
    if (!target && d->queue)
        target = std::static_pointer_cast<NetHTTPRequestDelegate>(d->queue);
    const bool answers = target && (proxy ? target->answersProxyAuthenticationNeeded() : target->answersAuthenticationNeeded());
    if (!answers && !(proxy ? d->proxyAuthenticationNeededBlock : d->authenticationNeededBlock))
        return false;
    auto self = shared_from_this();
    std::weak_ptr<NetHTTPRequestDelegate> weakTarget = target;
    netPerformOnMainThread([self, weakTarget, answers, proxy] {
        if (answers) {
            if (auto t = weakTarget.lock()) {
                if (proxy)
                    t->proxyAuthenticationNeededForRequest(self);
                else
                    t->authenticationNeededForRequest(self);
            }
            return;
        }
        Block b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = proxy ? self->d->proxyAuthenticationNeededBlock : self->d->authenticationNeededBlock;
        }
        if (b)
            b();
    });
    return true;
}

void NetHTTPRequest::attemptToApplyCredentialsAndResume()
{
    if (d->error || d->cancelled)
        return;
    if (d->authenticationNeeded == ProxyAuthenticationNeeded) {
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    bool refused = false;
    if (!takeChallenge(false, &refused))
        return;
    if (!refused) {
        cancelLoad();
        if (d->hasRequestCredentials) {
            const bool ntlm = d->authenticationScheme == QLatin1String("NTLM");
            if (!(ntlm && d->authenticationRetryCount > 1) && applyCredentialsFor(false, d->credUser, d->credPassword, d->credDomain)) {
                startRequest();
                return;
            }
            if (ntlm && d->authenticationRetryCount >= 2)
                failAuthenticationNeeded();
            else
                failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType, QStringLiteral("Failed to apply credentials to request")));
            return;
        }
        std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
        if (d->error || d->cancelled)
            return;
        if (d->useSessionPersistence && applySessionCredentials()) {
            startRequest();
            return;
        }
        applyFoundCredentialsOrAsk(false);
        return;
    }
    // The server refused the credentials we applied.
    std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
    if (d->appliedSessionRecord)
        removeRecord(sessionCredentials, d->appliedSessionRecord);
    d->hasRequestCredentials = false;
    if (d->error || d->cancelled)
        return;
    if (d->useSessionPersistence && applySessionCredentials()) {
        cancelLoad();
        startRequest();
        return;
    }
    askDelegateAfterRefusal(false);
}

void NetHTTPRequest::attemptToApplyProxyCredentialsAndResume()
{
    if (d->error || d->cancelled)
        return;
    bool refused = false;
    if (!takeChallenge(true, &refused))
        return;
    if (!refused) {
        cancelLoad();
        if (d->hasProxyCredentials) {
            if (applyCredentialsFor(true, d->proxyCredUser, d->proxyCredPassword, d->proxyCredDomain)) {
                startRequest();
                return;
            }
            failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType, QStringLiteral("Failed to apply proxy credentials to request")));
            return;
        }
        std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
        if (d->error || d->cancelled)
            return;
        applyFoundCredentialsOrAsk(true);
        return;
    }
    // Refused proxy credentials: forget them and wait for the delegate, as for servers.
    std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
    if (d->appliedProxySessionRecord)
        removeRecord(sessionProxyCredentials, d->appliedProxySessionRecord);
    d->hasProxyCredentials = false;
    d->proxyUsername.clear();
    d->proxyPassword.clear();
    if (d->error || d->cancelled)
        return;
    askDelegateAfterRefusal(true);
}

// Reads the scheme and realm of the server's or (proxy) the proxy's challenge and whether it
// refused credentials we had applied. False, with the request failed, when there is no
// challenge or none we can answer (instead of waiting for ever).
bool NetHTTPRequest::takeChallenge(bool proxy, bool *refused)
{
    const std::shared_ptr<NetAuthChallenge> &authentication = proxy ? d->proxyAuthentication : d->serverAuthentication;
    if (!authentication) {
        cancelLoad();
        failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType,
                                    QStringLiteral("Failed to get authentication object from response headers")));
        return false;
    }
    (proxy ? d->proxyAuthenticationScheme : d->authenticationScheme) = authentication->scheme();
    QString &realm = proxy ? d->proxyAuthenticationRealm : d->authenticationRealm;
    realm.clear();
    if (!authentication->requiresAccountDomain())
        realm = authentication->realm();
    bool &refusedFlag = proxy ? d->proxyRefused : d->serverRefused;
    *refused = refusedFlag;
    refusedFlag = false;
    if (!authentication->isUsable()) {
        failAuthenticationNeeded();
        return false;
    }
    return true;
}

// Applies the credentials found in the request, its main request or the saved ones and
// restarts; with none, hands the question to the delegate or fails.
void NetHTTPRequest::applyFoundCredentialsOrAsk(bool proxy)
{
    QString u, p, dom;
    if (!(proxy ? findProxyCredentials(&u, &p, &dom) : findCredentials(&u, &p, &dom))) {
        if (!willAskDelegateForAuthentication(proxy))
            failAuthenticationNeeded();
        return;
    }
    if (applyCredentialsFor(proxy, u, p, dom))
        startRequest();
    else
        failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType,
                                    proxy ? QStringLiteral("Failed to apply proxy credentials to request")
                                          : QStringLiteral("Failed to apply credentials to request")));
}

void NetHTTPRequest::askDelegateAfterRefusal(bool proxy)
{
    d->hasLastActivity = false;
    if (willAskDelegateForAuthentication(proxy)) {
        cancelLoad();
        return;
    }
    failAuthenticationNeeded();
}

void NetHTTPRequest::failAuthenticationNeeded()
{
    cancelLoad();
    failWithError(errorWithCode(AuthenticationErrorType, QStringLiteral("Authentication needed")));
}

void NetHTTPRequest::retryUsingSuppliedCredentials()
{
    auto self = shared_from_this();
    performOnRequestThread([self] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        if (self->d->error || self->d->cancelled)
            return;
        if (self->d->messageBuilt)
            self->attemptToApplyCredentialsAndResume();
        else
            self->main();
    });
}

void NetHTTPRequest::cancelAuthentication()
{
    auto self = shared_from_this();
    performOnRequestThread([self] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        self->failAuthenticationNeeded();
    });
}

void NetHTTPRequest::removeAllSessionCredentials()
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    sessionCredentials.clear();
    sessionProxyCredentials.clear();
    savedCredentials.clear();
}

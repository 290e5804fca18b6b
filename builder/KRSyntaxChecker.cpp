#include "KRSyntaxChecker.h"

#include <builder/KRRuntimeServer.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QJsonArray>

namespace {

const QString unavailableMessage = QStringLiteral("Unable to perform syntax check");

struct OptionKey
{
    const char *defaultsKey;
    const char *jsonKey;
    bool KRSyntaxCheckOptions::*member;
    bool registered;
};

const OptionKey optionKeys[] = {
    {"JSSyntaxOptionEqEqEq", "eqeqeq", &KRSyntaxCheckOptions::eqeqeq, false},
    {"JSSyntaxOptionBitwise", "bitwise", &KRSyntaxCheckOptions::bitwise, true},
    {"JSSyntaxOptionCurly", "curly", &KRSyntaxCheckOptions::curly, true},
    {"JSSyntaxOptionLatedef", "latedef", &KRSyntaxCheckOptions::latedef, true},
    {"JSSyntaxOptionPlusplus", "plusplus", &KRSyntaxCheckOptions::plusplus, false},
};

} // namespace

QVariantMap KRSyntaxCheckOptions::registeredDefaults()
{
    QVariantMap defaults;
    for (const OptionKey &key : optionKeys)
        defaults.insert(QString::fromLatin1(key.defaultsKey), key.registered);
    return defaults;
}

KRSyntaxCheckOptions KRSyntaxCheckOptions::fromUserDefaults(const KRUserDefaults &defaults)
{
    KRSyntaxCheckOptions options;
    for (const OptionKey &key : optionKeys) {
        const QString name = QString::fromLatin1(key.defaultsKey);
        options.*key.member = defaults.value(name).isValid() ? defaults.boolValue(name) : key.registered;
    }
    return options;
}

QJsonObject KRSyntaxCheckOptions::toJSON() const
{
    QJsonObject json;
    for (const OptionKey &key : optionKeys)
        json.insert(QString::fromLatin1(key.jsonKey), this->*key.member);
    json.insert(QStringLiteral("sub"), true);
    json.insert(QStringLiteral("mixed"), false);
    // The linter counts a tab as `indent` columns (4 unless told); the editor's columns are
    // characters, so a tab counts as one.
    json.insert(QStringLiteral("indent"), 1);
    return json;
}

KRSyntaxChecker::KRSyntaxChecker(PortProvider portProvider) : m_portProvider(std::move(portProvider)) {}

qint64 KRSyntaxChecker::port() const
{
    return m_portProvider ? m_portProvider() : KRRuntimeServer::portNumber();
}

KRSyntaxCheckOptions KRSyntaxChecker::options() const
{
    return m_options ? *m_options : KRSyntaxCheckOptions::fromUserDefaults(KRUserDefaults::sharedInstance());
}

void KRSyntaxChecker::showUnavailableAlert()
{
    KRAlert alert;
    alert.messageText = unavailableMessage;
    alert.informativeText = unavailableMessage;
    alert.buttonTitles = {QStringLiteral("OK")};
    KRAlertService::current().runModal(alert);
}

KRSyntaxCheckRun KRSyntaxChecker::checkFunctions(const QList<KRSyntaxCheckFunction> &functions)
{
    KRRunLogger::sharedInstance().log(QString(), static_cast<const char *>(Q_FUNC_INFO), __LINE__);
    KRSyntaxCheckRun run;
    if (functions.isEmpty())
        return run;

    const qint64 serverPort = port();
    const KRSyntaxCheckOptions checkOptions = options();
    bool anyErrors = false;
    bool anyUnchecked = false;
    for (const KRSyntaxCheckFunction &function : functions) {
        KRSyntaxCheckFunctionResult result{function.pageID, function.functionID, std::nullopt};
        if (serverPort >= 0)
            result.errors = request(serverPort, checkedText(function.functionSource), checkOptions);
        if (!result.errors)
            anyUnchecked = true;
        else if (!result.errors->isEmpty())
            anyErrors = true;
        run.functions.append(std::move(result));
    }
    if (serverPort < 0)
        KR_LOG(unavailableMessage);
    // One alert for the whole run, whether the server was never there or stopped answering.
    if (anyUnchecked)
        showUnavailableAlert();
    run.outcome = anyErrors      ? KRSyntaxCheckRun::Outcome::ErrorsFound
                  : anyUnchecked ? KRSyntaxCheckRun::Outcome::NotChecked
                                 : KRSyntaxCheckRun::Outcome::NoErrors;
    return run;
}

std::optional<QVariantList> KRSyntaxChecker::checkFunctionSyntax(const QString &text)
{
    const qint64 serverPort = port();
    if (serverPort < 0) {
        KR_LOG(unavailableMessage);
        showUnavailableAlert();
        return std::nullopt;
    }
    return request(serverPort, text, options());
}

std::optional<QVariantList> KRSyntaxChecker::request(qint64 serverPort, const QString &text,
                                                     const KRSyntaxCheckOptions &checkOptions)
{
    return findingsOf(KRRuntimeServer::postJSON(serverPort, QStringLiteral("/__kr_check_syntax"),
                                                requestBody(text, checkOptions), requestTimeOutSeconds));
}

std::shared_ptr<NetHTTPRequest> KRSyntaxChecker::checkFunctionSyntaxAsynchronously(
    const QString &text, std::function<void(std::optional<QVariantList>)> done)
{
    const qint64 serverPort = port();
    if (serverPort < 0) {
        done(std::nullopt);
        return nullptr;
    }
    return KRRuntimeServer::postJSONAsynchronously(
        serverPort, QStringLiteral("/__kr_check_syntax"), requestBody(text, options()), requestTimeOutSeconds,
        [done](const KRResult<QJsonObject> &answer) { done(findingsOf(answer)); });
}

QJsonObject KRSyntaxChecker::requestBody(const QString &text, const KRSyntaxCheckOptions &checkOptions)
{
    return {{QStringLiteral("src"), text}, {QStringLiteral("options"), checkOptions.toJSON()}};
}

std::optional<QVariantList> KRSyntaxChecker::findingsOf(const KRResult<QJsonObject> &answer)
{
    if (!answer) {
        if (answer.error().code() == KRRuntimeServer::NoResponseError)
            KR_LOG(QStringLiteral("Error, no response data received from node during a syntax check."));
        KR_LOG(answer.error().message());
        return std::nullopt;
    }
    const QJsonValue errors = answer->value(QStringLiteral("errors"));
    if (!errors.isArray()) {
        // An answer without the list is no evidence that the text is clean.
        KR_LOG(QStringLiteral("Error, the syntax check's answer holds no \"errors\" list."));
        return std::nullopt;
    }
    QVariantList findings;
    for (const QJsonValue &element : errors.toArray()) {
        if (element.isObject())
            findings.append(element.toObject().toVariantMap());
    }
    return findings;
}

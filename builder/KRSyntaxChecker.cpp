#include "KRSyntaxChecker.h"

#include <builder/KRHelperThreads.h>
#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <iterator>
#include <vector>

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

QString KRSyntaxChecker::ranOutOfTimeExplanation()
{
    return QStringLiteral("The syntax check ran out of time: it took longer than %1 seconds, as a very large function "
                          "can, and was stopped.")
        .arg(requestTimeOutSeconds);
}

void KRSyntaxChecker::showUnavailableAlert(bool timedOut)
{
    KRAlert alert;
    alert.messageText = unavailableMessage;
    alert.informativeText = timedOut ? ranOutOfTimeExplanation() : unavailableMessage;
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
    std::atomic<bool> timedOut{false};
    QList<std::optional<QVariantList>> findings;
    if (m_cache) {
        findings = cachedFindings(serverPort, functions, checkOptions, &timedOut);
    } else {
        for (const KRSyntaxCheckFunction &function : functions) {
            if (serverPort >= 0 && !cancelled())
                findings.append(request(serverPort, checkedText(function.functionSource), checkOptions, &timedOut));
            else
                findings.append(std::nullopt);
            if (m_progress)
                m_progress(int(findings.size()), int(functions.size()));
        }
    }
    for (qsizetype i = 0; i < functions.size(); ++i) {
        KRSyntaxCheckFunctionResult result{functions[i].pageID, functions[i].functionID, findings[i]};
        if (!result.errors)
            anyUnchecked = true;
        else if (!result.errors->isEmpty())
            anyErrors = true;
        run.functions.append(std::move(result));
    }
    if (serverPort < 0)
        KR_LOG(unavailableMessage);
    run.ranOutOfTime = anyUnchecked && timedOut;
    // One alert for the whole run, whether the server was never there, stopped answering or
    // answered too late.
    if (anyUnchecked && m_showsAlerts)
        showUnavailableAlert(run.ranOutOfTime);
    run.outcome = anyErrors      ? KRSyntaxCheckRun::Outcome::ErrorsFound
                  : anyUnchecked ? KRSyntaxCheckRun::Outcome::NotChecked
                                 : KRSyntaxCheckRun::Outcome::NoErrors;
    return run;
}

QList<std::optional<QVariantList>> KRSyntaxChecker::cachedFindings(qint64 serverPort,
                                                                    const QList<KRSyntaxCheckFunction> &functions,
                                                                    const KRSyntaxCheckOptions &checkOptions,
                                                                    std::atomic<bool> *timedOut)
{
    const QString optionsKey = QString::fromUtf8(QJsonDocument(checkOptions.toJSON()).toJson(QJsonDocument::Compact));
    // Written from several threads, each slot by one: no shared container's bookkeeping.
    std::vector<std::optional<QVariantList>> findings(std::size_t(functions.size()));
    std::vector<qsizetype> asked; // the functions the cache has no answer for
    for (qsizetype i = 0; i < functions.size(); ++i) {
        findings[std::size_t(i)] = m_cache->findings(optionsKey, checkedText(functions[i].functionSource));
        if (!findings[std::size_t(i)])
            asked.push_back(i);
    }
    // The texts asked about go in batches, one request each; several requests at once keep
    // the server's checking threads busy.
    std::vector<std::vector<qsizetype>> batches;
    const std::size_t batchSize = std::clamp<std::size_t>(
        (asked.size() + concurrentRequests - 1) / concurrentRequests, 1, functionsPerRequest);
    qsizetype batchCharacters = 0;
    for (const qsizetype i : asked) {
        const qsizetype characters = functions[i].functionSource.size();
        if (batches.empty() || batches.back().size() >= batchSize
            || (batchCharacters + characters > charactersPerRequest && !batches.back().empty())) {
            batches.emplace_back();
            batchCharacters = 0;
        }
        batches.back().push_back(i);
        batchCharacters += characters;
    }
    const int total = int(functions.size());
    std::atomic<int> done{int(functions.size() - qsizetype(asked.size()))};
    if (m_progress)
        m_progress(done.load(), total);
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t n; (n = next.fetch_add(1)) < batches.size();) {
            if (cancelled() || serverPort < 0)
                return; // what is left stays unchecked
            QStringList texts;
            for (const qsizetype i : batches[n])
                texts.append(checkedText(functions[i].functionSource));
            QList<std::optional<QVariantList>> answers = requestAll(serverPort, texts, checkOptions, timedOut);
            for (std::size_t k = 0; k < batches[n].size(); ++k) {
                if (answers[qsizetype(k)])
                    m_cache->setFindings(optionsKey, texts[qsizetype(k)], *answers[qsizetype(k)]);
                findings[std::size_t(batches[n][k])] = std::move(answers[qsizetype(k)]);
            }
            const int count = done += int(batches[n].size());
            if (m_progress)
                m_progress(count, total);
        }
    };
    runOnHelperThreads(batches.size(), concurrentRequests, work);
    return QList<std::optional<QVariantList>>(std::make_move_iterator(findings.begin()),
                                              std::make_move_iterator(findings.end()));
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
                                                     const KRSyntaxCheckOptions &checkOptions, std::atomic<bool> *timedOut)
{
    return findingsOf(KRRuntimeServer::postJSON(serverPort, QStringLiteral("/__kr_check_syntax"),
                                                requestBody(text, checkOptions), requestTimeOutSeconds),
                      timedOut);
}

QList<std::optional<QVariantList>> KRSyntaxChecker::requestAll(qint64 serverPort, const QStringList &texts,
                                                                const KRSyntaxCheckOptions &checkOptions,
                                                                std::atomic<bool> *timedOut)
{
    QList<std::optional<QVariantList>> findings(texts.size());
    const KRResult<QJsonObject> answer = KRRuntimeServer::postJSON(
        serverPort, QStringLiteral("/__kr_check_syntax"),
        {{QStringLiteral("sources"), QJsonArray::fromStringList(texts)}, {QStringLiteral("options"), checkOptions.toJSON()}},
        requestTimeOutSeconds);
    if (!answer) {
        findingsOf(answer, timedOut); // logs why
        return findings;
    }
    const QJsonArray results = answer->value(QStringLiteral("results")).toArray();
    if (results.size() != texts.size()) {
        KR_LOG(QStringLiteral("Error, the syntax check's answer holds no result for each function sent."));
        return findings;
    }
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QJsonObject result = results[i].toObject();
        if (result.contains(QStringLiteral("error")))
            KR_LOG(result.value(QStringLiteral("error")).toString());
        else
            findings[i] = findingsIn(result);
    }
    return findings;
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

std::optional<QVariantList> KRSyntaxChecker::findingsOf(const KRResult<QJsonObject> &answer,
                                                        std::atomic<bool> *timedOut)
{
    if (!answer) {
        if (timedOut && KRRuntimeServer::ranOutOfTime(answer.error()))
            *timedOut = true;
        if (answer.error().code() == KRRuntimeServer::NoResponseError)
            KR_LOG(QStringLiteral("Error, no response data received from node during a syntax check."));
        KR_LOG(answer.error().message());
        return std::nullopt;
    }
    return findingsIn(*answer);
}

std::optional<QVariantList> KRSyntaxChecker::findingsIn(const QJsonObject &answer)
{
    const QJsonValue errors = answer.value(QStringLiteral("errors"));
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

#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <platform/foundation/KRError.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class KRScriptCache;
class NetHTTPRequest;

class KRUserDefaults;

// The lint options of a syntax check, read from the user defaults "JSSyntaxOption…"; "sub" is
// always on, "mixed" always off, and "indent" always 1 (tabs count as one column).
struct KRSyntaxCheckOptions
{
    bool eqeqeq = false;
    bool bitwise = true;
    bool curly = true;
    bool latedef = true;
    bool plusplus = false;

    // The values the application registers for the option defaults.
    static QVariantMap registeredDefaults();
    // Reads the options; a key without a stored or registered value takes its registered default.
    static KRSyntaxCheckOptions fromUserDefaults(const KRUserDefaults &defaults);
    QJsonObject toJSON() const;
};

// One event function to check. `functionSource` is the function's text exactly as the build
// writes it into the generated script: the header line ("application._pages.<page>._events.
// <function> = function(<arguments>) {"), the body, and the closing "};".
struct KRSyntaxCheckFunction
{
    QString pageID;
    QString functionID;
    QString functionSource;
};

// The outcome for one function. `errors` holds the findings in the server's order, each the
// server's record unchanged ("line", "character", "reason", "evidence", …); null when the
// function could not be checked (the caller then keeps what it knew before).
struct KRSyntaxCheckFunctionResult
{
    QString pageID;
    QString functionID;
    std::optional<QVariantList> errors;
};

struct KRSyntaxCheckRun
{
    enum class Outcome {
        NoErrors,    // every function was checked and none has findings
        ErrorsFound, // at least one function has findings
        NotChecked,  // no finding, but at least one function could not be checked
    };
    Outcome outcome = Outcome::NoErrors;
    QList<KRSyntaxCheckFunctionResult> functions;
    // Not checked because a check ran out of time (the server was there, and answered too late
    // or said that it stopped the check at its time limit).
    bool ranOutOfTime = false;

    bool foundErrors() const { return outcome == Outcome::ErrorsFound; }
};

// Lints event functions with the local runtime server ("/__kr_check_syntax"), one synchronous
// request per function, on the main thread.
//
// Line numbers: every function is sent as "//\n" followed by its `functionSource`, so the
// sent text has the same two lines above the body as the function editor shows (its comment
// line and its "function" line). A finding's "line" therefore is the editor's line number as
// it stands, and "character" the 1-based character column in that line (a tab counts as one);
// nothing is subtracted.
//
// When the server has no port, a run shows one alert ("Unable to perform syntax check") and
// reports every function as not checked; when a check runs out of time, the alert says so.
//
// Hooking up the project model: for each page of `sortedPages` and each `KRFunction` among its
// `allObjects`, pass {page id, function id, functionSource()}; store each result's `errors`
// with setSyntaxErrors() only when it has a value; bracket the run with the project's
// will/did-change of "syntaxErrors" and post "KRDidPerformSyntaxCheckDocumentNotification"
// with {"foundErrors": run.foundErrors()}.
class KRSyntaxChecker
{
public:
    using PortProvider = std::function<qint64()>;

    // Without a provider, the application-wide server's port (KRRuntimeServer) is used. The
    // options default to the user defaults' at the time of the check.
    explicit KRSyntaxChecker(PortProvider portProvider = {});

    void setOptions(const KRSyntaxCheckOptions &options) { m_options = options; }

    // With a cache, checkFunctions asks the server only about texts it has not checked with
    // the same options before, several at once, and keeps the answers in the cache (what the
    // cache holds is answered without a server). The cache must outlive the checker.
    void setCache(KRScriptCache *cache) { m_cache = cache; }
    // Off: checkFunctions shows no alert (the caller tells the user from the run's outcome);
    // for a run off the main thread.
    void setShowsAlerts(bool shows) { m_showsAlerts = shows; }
    // Called (on the checking thread) as functions are done: how many, of how many.
    void setProgress(std::function<void(int, int)> progress) { m_progress = std::move(progress); }
    // Once set, the functions not yet checked are left unchecked.
    void setCancelFlag(const std::atomic<bool> *cancelled) { m_cancelled = cancelled; }

    // Checks every function, asking for the port once; at most one alert per run.
    KRSyntaxCheckRun checkFunctions(const QList<KRSyntaxCheckFunction> &functions);

    // Requests a checkFunctions with a cache sends at once; each asks about up to
    // `functionsPerRequest` functions (fewer when their texts are long), which the server
    // checks one by one.
    static constexpr int concurrentRequests = 4;
    static constexpr int functionsPerRequest = 50;
    static constexpr qsizetype charactersPerRequest = 256 * 1024;

    // Checks one text as given (the caller adds the "//\n" line). Null when no check was
    // possible; shows the alert when the server has no port.
    std::optional<QVariantList> checkFunctionSyntax(const QString &text);

    // Checks one text as given without waiting and without any alert: `done` runs on the main
    // thread with the findings, or null when no check was possible. Keep the returned request
    // while waiting (null when there is no server: `done` has run); clearDelegatesAndCancel()
    // drops the answer.
    std::shared_ptr<NetHTTPRequest> checkFunctionSyntaxAsynchronously(
        const QString &text, std::function<void(std::optional<QVariantList>)> done);

    // The text sent for a function.
    static QString checkedText(const QString &functionSource) { return QStringLiteral("//\n") + functionSource; }

    static constexpr double requestTimeOutSeconds = 20.0;
    // Why a check that ran out of time checked nothing, for a person.
    static QString ranOutOfTimeExplanation();

private:
    qint64 port() const;
    KRSyntaxCheckOptions options() const;
    // The requests set *timedOut when the check ran out of time.
    std::optional<QVariantList> request(qint64 port, const QString &text, const KRSyntaxCheckOptions &options,
                                        std::atomic<bool> *timedOut = nullptr);
    // One request about several texts: the findings of each (null: that one was not checked).
    static QList<std::optional<QVariantList>> requestAll(qint64 port, const QStringList &texts,
                                                         const KRSyntaxCheckOptions &options,
                                                         std::atomic<bool> *timedOut);
    static QJsonObject requestBody(const QString &text, const KRSyntaxCheckOptions &options);
    static std::optional<QVariantList> findingsOf(const KRResult<QJsonObject> &answer,
                                                  std::atomic<bool> *timedOut = nullptr);
    static std::optional<QVariantList> findingsIn(const QJsonObject &answer);
    static void showUnavailableAlert(bool timedOut = false);

    bool cancelled() const { return m_cancelled && m_cancelled->load(); }
    // The findings of each function (null: not checked), through the cache.
    QList<std::optional<QVariantList>> cachedFindings(qint64 port, const QList<KRSyntaxCheckFunction> &functions,
                                                     const KRSyntaxCheckOptions &options, std::atomic<bool> *timedOut);

    PortProvider m_portProvider;
    std::optional<KRSyntaxCheckOptions> m_options;
    KRScriptCache *m_cache = nullptr;
    bool m_showsAlerts = true;
    std::function<void(int, int)> m_progress;
    const std::atomic<bool> *m_cancelled = nullptr;
};

#include "KRProjectSyntaxCheck.h"

#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QHash>

namespace {

QString keyOf(const QString &pageID, const QString &functionID)
{
    return pageID + QLatin1Char('\n') + functionID;
}

} // namespace

QList<KRSyntaxCheckFunction> KRProjectSyntaxCheck::functionsToCheck(KRProject &project)
{
    QList<KRSyntaxCheckFunction> functions;
    for (const auto &page : project.sortedPages()) {
        for (const auto &object : page->allObjects()) {
            if (const auto function = std::dynamic_pointer_cast<KRFunction>(object))
                functions.append({page->kr_id(), function->kr_id(), function->functionSource()});
        }
    }
    return functions;
}

void KRProjectSyntaxCheck::applyRun(KRProject &project, const QList<KRSyntaxCheckFunction> &checked,
                                    const KRSyntaxCheckRun &run)
{
    QHash<QString, QString> checkedSources;
    for (const KRSyntaxCheckFunction &function : checked)
        checkedSources.insert(keyOf(function.pageID, function.functionID), function.functionSource);
    QHash<QString, std::shared_ptr<KRFunction>> byKey;
    for (const auto &page : project.sortedPages()) {
        for (const auto &object : page->allObjects()) {
            if (const auto function = std::dynamic_pointer_cast<KRFunction>(object))
                byKey.insert(keyOf(page->kr_id(), function->kr_id()), function);
        }
    }
    const QVariant before = QVariant::fromValue(project.syntaxErrors());
    project.observable().willChange(QStringLiteral("syntaxErrors"), before);
    for (const KRSyntaxCheckFunctionResult &result : run.functions) {
        if (!result.errors)
            continue;
        const QString key = keyOf(result.pageID, result.functionID);
        const auto function = byKey.value(key);
        // A function edited since it was checked keeps what it had: the findings are of
        // another text.
        if (!function || function->functionSource() != checkedSources.value(key))
            continue;
        QList<QVariantMap> errors;
        for (const QVariant &record : *result.errors)
            errors.append(record.toMap());
        function->setSyntaxErrors(errors);
    }
    project.observable().didChange(QStringLiteral("syntaxErrors"), QVariant::fromValue(project.syntaxErrors()));
    // Observers watch the document (the window's), not its project.
    const auto document = project.krDocument();
    KRNotificationCenter::defaultCenter().post(KRDidPerformSyntaxCheckDocumentNotification,
                                               document ? document->identity() : project.identity(),
                                               {{QStringLiteral("foundErrors"), run.foundErrors()}});
}

KRSyntaxCheckRun KRProjectSyntaxCheck::checkFunctionSyntax(KRProject &project, KRSyntaxChecker &checker)
{
    const QList<KRSyntaxCheckFunction> functions = functionsToCheck(project);
    const KRSyntaxCheckRun run = checker.checkFunctions(functions);
    applyRun(project, functions, run);
    return run;
}

#include "KRProjectSyntaxCheck.h"

#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QHash>

KRSyntaxCheckRun KRProjectSyntaxCheck::checkFunctionSyntax(KRProject &project, KRSyntaxChecker &checker)
{
    QList<KRSyntaxCheckFunction> functions;
    QHash<QString, std::shared_ptr<KRFunction>> byKey;
    for (const auto &page : project.sortedPages()) {
        for (const auto &object : page->allObjects()) {
            const auto function = std::dynamic_pointer_cast<KRFunction>(object);
            if (!function)
                continue;
            functions.append({page->kr_id(), function->kr_id(), function->functionSource()});
            byKey.insert(page->kr_id() + QLatin1Char('\n') + function->kr_id(), function);
        }
    }
    const QVariant before = QVariant::fromValue(project.syntaxErrors());
    project.observable().willChange(QStringLiteral("syntaxErrors"), before);
    const KRSyntaxCheckRun run = checker.checkFunctions(functions);
    for (const KRSyntaxCheckFunctionResult &result : run.functions) {
        if (!result.errors)
            continue;
        const auto function = byKey.value(result.pageID + QLatin1Char('\n') + result.functionID);
        if (!function)
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
    return run;
}

#pragma once

#include <builder/KRSyntaxChecker.h>

#include <QString>

class KRProject;

// Posted with the project's document's identity() as sender; user info "foundErrors" (bool).
inline const QString KRDidPerformSyntaxCheckDocumentNotification =
    QStringLiteral("KRDidPerformSyntaxCheckDocumentNotification");

// Checks the syntax of every event function of a project: pages in id order, each page's
// functions in id order. Each checked function keeps the findings of this run; a function
// that could not be checked keeps what it had. Observers of the project's "syntaxErrors" see
// one change around the run.
class KRProjectSyntaxCheck
{
public:
    static KRSyntaxCheckRun checkFunctionSyntax(KRProject &project, KRSyntaxChecker &checker);

    // The two halves of a check run elsewhere (off the main thread): the functions to check,
    // as they are now; then the run's findings stored in the project, as checkFunctionSyntax
    // does, but only in the functions whose text is still the one checked.
    static QList<KRSyntaxCheckFunction> functionsToCheck(KRProject &project);
    static void applyRun(KRProject &project, const QList<KRSyntaxCheckFunction> &checked, const KRSyntaxCheckRun &run);
};

#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One kind of resource the application can edit as text.
struct KREditableResourceType
{
    QStringList extensions;      // without the dot, compared exactly
    QString syntax;              // syntax definition of the editor; empty when the entry names none
    QString templateDescription; // label in the new-resource sheet; empty without a template
    QString templateFile;        // resources-folder path of the template file; empty without one

    bool hasTemplate() const { return !templateFile.isEmpty(); }
    // The syntax the editor colours with: "none" when the entry names none.
    QString syntaxName() const { return syntax.isEmpty() ? QStringLiteral("none") : syntax; }
};

// The table of editable resource types, read from "editable-resources.json" in the
// application's resources: a JSON array of objects {"extensions": [...], "syntax": name,
// "template": {"description": text, "templateFile": path}}.
class KREditableResourceTypes
{
public:
    static constexpr const char *FileName = "editable-resources.json";
    static constexpr const char *ErrorDomain = "KREditableResourceTypes";

    // An error when the text is not JSON (or the file cannot be read). A JSON value other
    // than an array gives an empty table; entries of the wrong shape are logged and skipped.
    static KRResult<KREditableResourceTypes> loadFromData(const QByteArray &json);
    static KRResult<KREditableResourceTypes> loadFromFile(const QString &path);

    // The process-wide table, read on first use. A table file that cannot be read or is not
    // JSON (a damaged installation) is shown once and gives an empty table.
    static const KREditableResourceTypes &shared();

    const QList<KREditableResourceType> &types() const { return m_types; }
    bool isEmpty() const { return m_types.isEmpty(); }
    // The first type whose extensions hold the extension exactly (case-sensitive); null when
    // none. The pointer stays valid as long as the table.
    const KREditableResourceType *typeForExtension(const QString &extension) const;
    // The types that offer a template, in table order (the new-resource sheet's list).
    QList<KREditableResourceType> templates() const;

private:
    QList<KREditableResourceType> m_types;
};

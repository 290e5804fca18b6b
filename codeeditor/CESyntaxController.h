#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// One language the editor can colour: its name, the base name of its definition file and its
// file-name extensions (separated by single spaces).
struct CESyntaxRecord
{
    QString name;
    QString file;
    QString extensions;
    int sortOrder = 0;
};

// The registry of syntax definitions: the shipped index "SyntaxDefinitions.plist" and the one
// in the user's application-support folder, behind the built-in "Standard" and "None".
// Index entries and definition files from the user's folder are read key by key: an entry or
// value of the wrong type is left out, never trusted.
class CESyntaxController
{
public:
    inline static const QString indexFileName = QStringLiteral("SyntaxDefinitions.plist");

    // Shipped definitions from the resources folder "syntax", the user's from the
    // application-support folder.
    static CESyntaxController &sharedInstance();
    CESyntaxController(const QString &shippedDirectory, const QString &userDirectory);

    static QString standardSyntaxDefinitionName() { return QStringLiteral("Standard"); }
    CESyntaxRecord standardSyntaxDefinition() const;
    // Any letter case; a name the registry lacks gives the standard record.
    CESyntaxRecord syntaxDefinitionWithName(const QString &name) const;
    std::optional<CESyntaxRecord> syntaxDefinitionWithExtension(const QString &extension) const;
    // Null when no language claims the extension.
    QString syntaxDefinitionNameWithExtension(const QString &extension) const;
    // The definition dictionary of the language (Standard for a null name), falling back to the
    // standard one; nullopt when not even that can be read.
    std::optional<QVariantMap> syntaxDictionaryWithName(const QString &name) const;
    // The accepted entries' names in index order (a replaced name stays listed).
    QStringList syntaxDefinitionNames() const { return m_names; }
    // One record per language, in index order.
    QList<CESyntaxRecord> records() const { return m_records; }

private:
    void insertSyntaxDefinitions();
    static void addSyntaxDefinitions(QVariantList &entries, const QString &path);
    std::optional<QVariantMap> readDefinition(const CESyntaxRecord &record) const;

    QString m_shippedDirectory;
    QString m_userDirectory;
    QList<CESyntaxRecord> m_records;
    QHash<QString, qsizetype> m_recordByName; // lower-cased name → index in m_records
    QStringList m_names;
};

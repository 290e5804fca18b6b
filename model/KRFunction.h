#pragma once

#include <model/KRObject.h>
#include <model/KRObjectClass.h>

#include <QList>
#include <QVariantMap>

struct KRNotification;

// A JavaScript event handler of a page: its body ("source", stored as the element's own
// text), its parameter list, whether it runs on the server ("Yes"/"No") and the syntax
// errors the last check found.
class KRFunction : public KRObject
{
public:
    using KRObject::KRObject;

    // The registry's record of the class ("KRFunction", id base "function").
    static KRObjectClass objectClass();
    // The function a KRPageDidDeleteObjectNotification tells of; null for any other object,
    // whose deletion changes nothing that follows the page's functions.
    static std::shared_ptr<KRFunction> deletedBy(const KRNotification &notification);

    QString defaultProperty() const override { return QStringLiteral("source"); }
    bool hasJSInstanceVariable() const override { return false; }
    static QString domElementName() { return {}; }

    void initializeDefaultProperties() override;
    // Posts KRPageFunctionDidChangeIDNotification after an id change.
    void setValue(const QString &key, const QString &value) override;

    QString kr_source() const { return value(QStringLiteral("kr_source")); }
    QString kr_arguments() const { return value(QStringLiteral("kr_arguments")); }
    QString kr_serverFunction() const { return value(QStringLiteral("kr_serverFunction")); }
    void setKr_source(const QString &text) { setValue(QStringLiteral("kr_source"), text); }
    void setKr_arguments(const QString &text) { setValue(QStringLiteral("kr_arguments"), text); }
    void setKr_serverFunction(const QString &text) { setValue(QStringLiteral("kr_serverFunction"), text); }

    // "application._pages.<page>._events.<id> = function(<arguments>) {\n<source>\n};\n",
    // with the event's own parameters in place of arguments that are no sound list.
    QString functionSource() const;

    // Whether the text may stand as the function's parameter list in generated code: empty,
    // or JavaScript identifiers, none of them a reserved word, separated by commas (spaces and
    // tabs around them). Anything else would be code run where the script loads.
    // A list of more than MaximumArgumentCount names is none.
    static bool isSoundArgumentList(const QString &text);
    // The most parameters a function may declare: script engines refuse a longer list, and
    // with it the whole script it stands in.
    static constexpr qsizetype MaximumArgumentCount = 65534;
    // Whether the text, read as a list, names more parameters than that.
    static bool hasTooManyArguments(const QString &text);
    // The parameters a handler of the kind is given: "request, response" on the server,
    // "event" in the page.
    static QString eventArguments(bool serverFunction);

    QList<QVariantMap> syntaxErrors() const { return m_syntaxErrors; }
    void setSyntaxErrors(const QList<QVariantMap> &errors) { m_syntaxErrors = errors; }
    // The first error whose "line" reads as the number; empty when none.
    QVariantMap syntaxErrorForLineNumber(int line) const;

private:
    QList<QVariantMap> m_syntaxErrors;
};

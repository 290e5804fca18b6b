#include "KRApplicationDefaults.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QUrl>

namespace KRApplicationDefaults {

QList<std::pair<QString, int>> preferredEditorFonts()
{
    return {{QStringLiteral("Inconsolata"), 16}, {QStringLiteral("Droid Sans Mono"), 14},
            {QStringLiteral("Consolas"), 16}, {QStringLiteral("Menlo"), 14}};
}

QString defaultEditorFont()
{
    const QStringList installed = QFontDatabase::families();
    for (const auto &[family, size] : preferredEditorFonts()) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            QFont font(family);
            font.setPixelSize(size);
            return font.toString();
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
    return font.toString();
}

QFont editorFont(const KRUserDefaults &defaults)
{
    QFont font;
    if (!font.fromString(defaults.stringValue(QStringLiteral("TextFont")))) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(13);
    }
    return font;
}

QList<std::pair<QString, QVariant>> firstRegistration()
{
    return {
        {QStringLiteral("apiURL"), defaultAPIURL},
        {QStringLiteral("openLastProjectOnStartup"), true},
        {QStringLiteral("designViewBackground"), QStringLiteral("KR-design-background-grid")},
        {QStringLiteral("JSCheckSyntax"), true},
        {QStringLiteral("JSSyntaxOptionEqEqEq"), false},
        {QStringLiteral("JSSyntaxOptionBitwise"), true},
        {QStringLiteral("JSSyntaxOptionCurly"), true},
        {QStringLiteral("JSSyntaxOptionLatedef"), true},
        {QStringLiteral("JSSyntaxOptionPlusplus"), false},
        {QStringLiteral("JSMinimize"), true},
        {QStringLiteral("defaultDIVEditMode"), QStringLiteral("Markdown")},
        {QStringLiteral("AutocompleteSuggestAutomatically"), false},
        {QStringLiteral("AutocompleteIncludeStandardWords"), false},
        {QStringLiteral("LineWrapNewDocuments"), false},
        {QStringLiteral("IndentNewLinesAutomatically"), true},
        {QStringLiteral("TabWidth"), 4},
        {QStringLiteral("TextFont"), defaultEditorFont()},
        {QStringLiteral("WebIconDatabaseEnabled"), false},
    };
}

QString insecureSiteURL(const QString &apiURL)
{
    if (apiURL.trimmed().isEmpty())
        return {};
    // The site is served by the service's host: its scheme, host and port, as the user gave
    // them (a service on this machine included), and a slash, so that a relative address is
    // joined below it.
    const QUrl service(apiURL.trimmed(), QUrl::StrictMode);
    if (!service.isValid() || service.host().isEmpty())
        return {};
    return service.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
               .toString()
           + QLatin1Char('/');
}

void registerDefaults(KRUserDefaults &defaults)
{
    QVariantMap first;
    for (const auto &[key, value] : firstRegistration())
        first.insert(key, value);
    defaults.registerDefaults(first);
    defaults.registerDefaults({{QStringLiteral("insecureSiteURL"), insecureSiteURL(defaults.stringValue(QStringLiteral("apiURL")))}});
}

KRObservationToken followServiceAddress(KRUserDefaults &defaults)
{
    return defaults.observe(QStringLiteral("apiURL"), [&defaults](const QString &, const QVariant &value) {
        defaults.registerDefaults({{QStringLiteral("insecureSiteURL"), insecureSiteURL(value.toString())}});
    });
}

QString joinURL(const QString &base, const QString &path)
{
    QString left = base;
    while (left.endsWith(QLatin1Char('/')))
        left.chop(1);
    qsizetype start = 0;
    while (start < path.size() && path.at(start) == QLatin1Char('/'))
        ++start;
    return left + QLatin1Char('/') + path.mid(start);
}

} // namespace KRApplicationDefaults

#include "CodeEditorTestSupport.h"

#include "KRTestSupport.h"

#include <codeeditor/CEDefaults.h>

#include <core/KRPropertyList.h>

#include <QDir>

namespace {

const QList<QPair<QString, QString>> &constructColourKeys()
{
    static const QList<QPair<QString, QString>> keys{
        {"command", CEDefaults::commandsColourWell},   {"comment", CEDefaults::commentsColourWell},
        {"instruction", CEDefaults::instructionsColourWell}, {"keyword", CEDefaults::keywordsColourWell},
        {"autocomplete", CEDefaults::autocompleteColourWell}, {"variable", CEDefaults::variablesColourWell},
        {"string", CEDefaults::stringsColourWell},     {"attribute", CEDefaults::attributesColourWell}};
    return keys;
}

} // namespace

CodeEditorFixture::CodeEditorFixture()
    : userDirectory(KRTest::makeTempDir(QStringLiteral("codeeditor")))
{
    defaults = std::make_unique<KRUserDefaults>(QDir(userDirectory).filePath("defaults.conf"));
}

CESyntaxColouring &CodeEditorFixture::colouring()
{
    if (!m_colouring) {
        controller = std::make_unique<CESyntaxController>(KR_SOURCE_DIR "/resources/syntax", userDirectory);
        m_colouring = std::make_unique<CESyntaxColouring>(*defaults, *controller);
    }
    return *m_colouring;
}

CESyntaxColouring &CodeEditorFixture::colour(const QString &definition, const QString &text)
{
    CESyntaxColouring &engine = colouring();
    engine.setString(text);
    engine.setSyntaxDefinition(definition);
    engine.pageRecolour(true);
    return engine;
}

void CodeEditorFixture::writeUserDefinition(const QString &file, const QVariantMap &definition)
{
    KRPropertyList::writePropertyList(definition, QDir(userDirectory).filePath(file + ".plist"));
}

void CodeEditorFixture::writeUserIndex(const QVariantList &entries)
{
    KRPropertyList::writePropertyList(entries, QDir(userDirectory).filePath(CESyntaxController::indexFileName));
}

QString constructAt(CESyntaxColouring &colouring, qsizetype position)
{
    const QVariant colour = colouring.temporaryAttributes().attributeAt(CETemporaryAttributes::foregroundColour, position);
    if (!colour.isValid())
        return {};
    for (const auto &[name, key] : constructColourKeys()) {
        if (colouring.colourAttributes(key).value(CETemporaryAttributes::foregroundColour) == colour)
            return name;
    }
    return QStringLiteral("?");
}

QString constructOf(CESyntaxColouring &colouring, const QString &needle, qsizetype from)
{
    const qsizetype at = colouring.string().indexOf(needle, from);
    return at < 0 ? QStringLiteral("(missing)") : constructAt(colouring, at);
}

QString colourRuns(CESyntaxColouring &colouring)
{
    QString out;
    const QString &text = colouring.string();
    qsizetype i = 0;
    while (i < text.size()) {
        const QString construct = constructAt(colouring, i);
        qsizetype j = i + 1;
        while (j < text.size() && constructAt(colouring, j) == construct)
            ++j;
        if (!construct.isEmpty()) {
            QString shown = text.mid(i, j - i);
            shown.replace(QLatin1Char('\n'), QLatin1String("\\n"));
            out += QStringLiteral("%1 %2-%3 %4\n").arg(construct).arg(i).arg(j).arg(shown);
        }
        i = j;
    }
    return out;
}

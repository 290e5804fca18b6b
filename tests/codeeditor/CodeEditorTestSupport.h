#pragma once

#include <codeeditor/CESyntaxColouring.h>
#include <codeeditor/CESyntaxController.h>

#include <platform/foundation/KRUserDefaults.h>

#include <QString>

#include <memory>

// A colouring engine on its own defaults file and on the shipped definitions plus a user
// folder of definitions that a test may fill before the engine is made.
struct CodeEditorFixture
{
    CodeEditorFixture();
    QString userDirectory;
    std::unique_ptr<KRUserDefaults> defaults;
    std::unique_ptr<CESyntaxController> controller;
    // Made on first use, after the test has written its user definitions.
    CESyntaxColouring &colouring();
    // Colours `text` in full with the named definition.
    CESyntaxColouring &colour(const QString &definition, const QString &text);
    void writeUserDefinition(const QString &file, const QVariantMap &definition);
    void writeUserIndex(const QVariantList &entries);

private:
    std::unique_ptr<CESyntaxColouring> m_colouring;
};

// The coloured runs of the text, one a line: the construct's name ("keyword", "string",
// "comment", ...), the range and the coloured text with line feeds shown as "\n".
QString colourRuns(CESyntaxColouring &colouring);
// The construct coloured at one position ("" for none).
QString constructAt(CESyntaxColouring &colouring, qsizetype position);
// The construct of the first occurrence of `needle`'s first character.
QString constructOf(CESyntaxColouring &colouring, const QString &needle, qsizetype from = 0);

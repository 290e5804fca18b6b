#pragma once

#include <QColor>
#include <QString>
#include <QVariantMap>

class KRUserDefaults;

// The user-default keys that the colouring engine reads, and their initial values.
namespace CEDefaults {

inline const QString commandsColourWell = QStringLiteral("CommandsColourWell");
inline const QString commentsColourWell = QStringLiteral("CommentsColourWell");
inline const QString instructionsColourWell = QStringLiteral("InstructionsColourWell");
inline const QString keywordsColourWell = QStringLiteral("KeywordsColourWell");
inline const QString autocompleteColourWell = QStringLiteral("AutocompleteColourWell");
inline const QString variablesColourWell = QStringLiteral("VariablesColourWell");
inline const QString stringsColourWell = QStringLiteral("StringsColourWell");
inline const QString attributesColourWell = QStringLiteral("AttributesColourWell");
inline const QString highlightLineColourWell = QStringLiteral("HighlightLineColourWell");
inline const QString colourCommands = QStringLiteral("ColourCommands");
inline const QString colourComments = QStringLiteral("ColourComments");
inline const QString colourInstructions = QStringLiteral("ColourInstructions");
inline const QString colourKeywords = QStringLiteral("ColourKeywords");
inline const QString colourAutocomplete = QStringLiteral("ColourAutocomplete");
inline const QString colourVariables = QStringLiteral("ColourVariables");
inline const QString colourStrings = QStringLiteral("ColourStrings");
inline const QString colourAttributes = QStringLiteral("ColourAttributes");
inline const QString highlightCurrentLine = QStringLiteral("HighlightCurrentLine");
inline const QString onlyColourTillTheEndOfLine = QStringLiteral("OnlyColourTillTheEndOfLine");
inline const QString colourMultiLineStrings = QStringLiteral("ColourMultiLineStrings");
inline const QString colourAutocompleteWordsAsKeywords = QStringLiteral("ColourAutocompleteWordsAsKeywords");
inline const QString syntaxColouringMatrix = QStringLiteral("SyntaxColouringMatrix");
inline const QString syntaxColouringPopUpString = QStringLiteral("SyntaxColouringPopUpString");
inline const QString lineEndingsPopUp = QStringLiteral("LineEndingsPopUp");

// The keys above with their initial values. Colours are "#AARRGGBB" text.
// "ColourAutocompleteWordsAsKeywords" is YES: the words a host adds (the function editor's
// catalogue names) are coloured as keywords.
QVariantMap initialValues();
// Registers initialValues() in the defaults' initial tier.
void registerInitialValues(KRUserDefaults &defaults);
// A colour stored as a QColor or as colour text; invalid when it is neither.
QColor colourValue(const KRUserDefaults &defaults, const QString &key);

} // namespace CEDefaults

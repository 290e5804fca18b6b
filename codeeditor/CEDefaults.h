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

// The keys of the editor widget (its views, typing and commands), registered by CEEditor.
inline const QString backgroundColourWell = QStringLiteral("BackgroundColourWell");
inline const QString textColourWell = QStringLiteral("TextColourWell");
inline const QString gutterTextColourWell = QStringLiteral("GutterTextColourWell");
inline const QString invisibleCharactersColourWell = QStringLiteral("InvisibleCharactersColourWell");
inline const QString liveUpdatePreview = QStringLiteral("LiveUpdatePreview");
inline const QString showFullPathInWindowTitle = QStringLiteral("ShowFullPathInWindowTitle");
inline const QString showLineNumberGutter = QStringLiteral("ShowLineNumberGutter");
inline const QString syntaxColourNewDocuments = QStringLiteral("SyntaxColourNewDocuments");
inline const QString lineWrapNewDocuments = QStringLiteral("LineWrapNewDocuments");
inline const QString indentNewLinesAutomatically = QStringLiteral("IndentNewLinesAutomatically");
inline const QString showMatchingBraces = QStringLiteral("ShowMatchingBraces");
inline const QString showInvisibleCharacters = QStringLiteral("ShowInvisibleCharacters");
inline const QString indentWithSpaces = QStringLiteral("IndentWithSpaces");
inline const QString autocompleteSuggestAutomatically = QStringLiteral("AutocompleteSuggestAutomatically");
inline const QString autocompleteIncludeStandardWords = QStringLiteral("AutocompleteIncludeStandardWords");
inline const QString autoSpellCheck = QStringLiteral("AutoSpellCheck");
inline const QString autoGrammarCheck = QStringLiteral("AutoGrammarCheck");
inline const QString smartInsertDelete = QStringLiteral("SmartInsertDelete");
inline const QString automaticLinkDetection = QStringLiteral("AutomaticLinkDetection");
inline const QString automaticQuoteSubstitution = QStringLiteral("AutomaticQuoteSubstitution");
inline const QString useTabStops = QStringLiteral("UseTabStops");
inline const QString automaticallyIndentBraces = QStringLiteral("AutomaticallyIndentBraces");
inline const QString autoInsertAClosingParenthesis = QStringLiteral("AutoInsertAClosingParenthesis");
inline const QString autoInsertAClosingBrace = QStringLiteral("AutoInsertAClosingBrace");
inline const QString gutterWidth = QStringLiteral("GutterWidth");
inline const QString tabWidth = QStringLiteral("TabWidth");
inline const QString indentWidth = QStringLiteral("IndentWidth");
inline const QString showPageGuideAtColumn = QStringLiteral("ShowPageGuideAtColumn");
inline const QString autocompleteAfterDelay = QStringLiteral("AutocompleteAfterDelay");
inline const QString liveUpdatePreviewDelay = QStringLiteral("LiveUpdatePreviewDelay");
inline const QString textFont = QStringLiteral("TextFont");
inline const QString spacesPerTabEntabDetab = QStringLiteral("SpacesPerTabEntabDetab");
inline const QString showPageGuide = QStringLiteral("ShowPageGuide");

// The keys above with their initial values. Colours are "#AARRGGBB" text.
// "ColourAutocompleteWordsAsKeywords" is YES: the words a host adds (the function editor's
// catalogue names) are coloured as keywords.
QVariantMap initialValues();
// Registers initialValues() in the defaults' initial tier.
void registerInitialValues(KRUserDefaults &defaults);
// A colour stored as a QColor or as colour text; invalid when it is neither.
QColor colourValue(const KRUserDefaults &defaults, const QString &key);

// The defaults' typed values as the editor reads them while typing: kept from one read to the
// next until the defaults announce a change, since a read of the settings file is slow. Reads
// off the defaults' thread go to the defaults themselves.
bool boolValue(const KRUserDefaults &defaults, const QString &key);
qint64 integerValue(const KRUserDefaults &defaults, const QString &key);

} // namespace CEDefaults

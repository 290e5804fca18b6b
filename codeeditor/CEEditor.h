#pragma once

#include "CEEditorDelegate.h"
#include "CETextCommands.h"
#include "CETextPerformer.h"

#include <platform/foundation/KRObservationToken.h>

#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

class CEFindBar;
class CEGutterView;
class CESyntaxColouring;
class CESyntaxController;
class CETextView;
class KRSpecialUndoManager;
class KRUndoManager;
class KRUserDefaults;
class QDialog;
class QMenu;
class QWidget;

// Names of the editor's settings.
namespace CEKeys {
inline const QString isSyntaxColoured = QStringLiteral("isSyntaxColoured");
inline const QString showLineNumberGutter = QStringLiteral("showLineNumberGutter");
inline const QString isEdited = QStringLiteral("isEdited");
inline const QString syntaxDefinition = QStringLiteral("syntaxDefinition");
inline const QString name = QStringLiteral("name");
inline const QString gutterWidth = QStringLiteral("gutterWidth");
inline const QString firstTextView = QStringLiteral("firstTextView");
inline const QString firstTextScrollView = QStringLiteral("firstTextScrollView");
inline const QString firstGutterScrollView = QStringLiteral("firstGutterScrollView");
inline const QString delegate = QStringLiteral("delegate");
inline const QString lineNumbers = QStringLiteral("lineNumbers");
inline const QString syntaxColouring = QStringLiteral("syntaxColouring");
inline const QString lineWrapNewDocuments = QStringLiteral("LineWrapNewDocuments");
inline const QString lineEndings = QStringLiteral("lineEndings");
inline const QString encoding = QStringLiteral("encoding");
inline const QString encodingName = QStringLiteral("encodingName");
inline const QString hasManuallyChangedSyntaxDefinition = QStringLiteral("hasManuallyChangedSyntaxDefinition");
} // namespace CEKeys

// One embeddable code editor: a text view with its gutter and its syntax colouring, shared
// state in a settings dictionary, and the editing and setting commands. The facade made or
// focused last is the current instance, on which menu commands act.
class CEEditor : public QObject
{
    Q_OBJECT

public:
    // The shared defaults and definitions; tests pass their own.
    explicit CEEditor(KRUserDefaults *defaults = nullptr, CESyntaxController *controller = nullptr,
                      QObject *parent = nullptr);
    ~CEEditor() override;

    static CEEditor *currentInstance();
    static void setCurrentInstance(CEEditor *editor);
    // Registers the editor's initial user defaults once per defaults object.
    static void initializeValues(KRUserDefaults &defaults);

    // Settable keys are stored (an invalid value removes); anything else is ignored. The host's
    // delegate is set with setDelegate, the colouring read with colouring().
    void setObject(const QVariant &value, const QString &key);
    // Readable keys only; the views come back as QObject pointers.
    QVariant objectForKey(const QString &key) const;
    const QVariantMap &settings() const { return m_settings; }
    // Writes any key, as the editor's own parts do (isEdited, gutterWidth, lineEndings ...).
    void setSetting(const QString &key, const QVariant &value);

    CEEditorDelegate *delegate() const { return m_delegate; }
    void setDelegate(CEEditorDelegate *delegate) { m_delegate = delegate; }
    // Where typing and commands record their undo: the project document's scoped manager
    // (without one, a history of the editor's own).
    void setUndoManagerProvider(std::function<KRSpecialUndoManager *()> provider);
    KRSpecialUndoManager *undoManager();

    // Builds the editor in the host widget; once per facade.
    void embedInView(QWidget *host);
    CETextView *textView() const;
    CEGutterView *gutterView() const;
    CESyntaxColouring *colouring() const { return m_colouring.get(); }
    KRUserDefaults &defaults() const { return *m_defaults; }
    CESyntaxController &syntaxController() const { return *m_controller; }

    // The text as the editor holds it (line feeds only). setString takes the line endings of
    // the given text into "lineEndings" and forgets the editor's undo records; with undo it
    // is one undoable "Content Change" instead.
    QString string() const;
    void setString(const QString &text, bool undoable = false);
    // The text with the line endings of the settings; a text loaded with mixed endings keeps
    // each line's own, and new lines get the style most lines had ("lineEndings").
    QString stringWithLineEndings() const;
    // The text was loaded with lines ending in different ways, and no style was chosen since.
    bool hasMixedLineEndings() const { return !m_lineEndings.isEmpty(); }
    void recolor();
    void relayout();

    // Commands on the current selection. Each returns false when it only beeped.
    bool shiftLeft();
    bool shiftRight();
    bool removeNeedlessWhitespace();
    bool commentOrUncomment();
    bool entab();
    bool detab();
    bool removeLineEndings();
    bool changeCase(CETextCommands::CaseChange change);
    bool goToLine(qint64 number);
    bool closeTag();
    bool prepareForXML();
    bool transpose();
    // Whether a command of the given name can run now: only while the text view has the focus
    // (unless told otherwise, for the view's own context menu), some only with a selection.
    bool validateCommand(const QString &command, bool requireFocus = true) const;

    // Find: the bar under the text and searches for what it holds, wrapping round the text.
    // A search without a search string opens the bar.
    void showFindBar();
    void hideFindBar();
    CEFindBar *findBar() const;
    bool isFindBarShown() const { return m_findBarShown; }
    bool findNext(bool backwards = false);
    // A selected match becomes the replacement, then the next match is selected.
    bool replaceSelection();
    // Every match becomes the replacement, as one undo step; the number replaced.
    int replaceAll();

    // Setting commands. Encoding and line endings are undoable, each change one step that
    // restores the previous setting and text exactly.
    void changeEncoding(const QString &ianaName);
    // Records the encoding the text was read in, without an undo step.
    void setEncoding(const QString &ianaName);
    // Asks the host to read its text again in the named encoding.
    void reloadText(const QString &ianaName);
    void changeLineEndings(int style);
    void changeSyntaxDefinition(const QString &name);
    // Fills menus with the registry's definitions and the offered encodings; the chosen item
    // is checked.
    void fillSyntaxDefinitionMenu(QMenu *menu);
    void fillEncodingMenu(QMenu *menu);
    void fillReloadEncodingMenu(QMenu *menu);
    void fillLineEndingsMenu(QMenu *menu);
    static QStringList offeredEncodings();
    // The entab, detab and go-to-line sheets (window-modal).
    void showEntabSheet();
    void showDetabSheet();
    void showGoToLineSheet();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void settingChanged(const QString &key);
    void textEncodingChanged();
    void syntaxDefinitionChanged();
    void lineEndingsChanged();
    void reloadTextRequested(const QString &ianaName);

private:
    friend class CETextView;
    CECommandResult runCommand(const QString &actionName,
                               const std::function<CECommandResult(CETextEditTarget &)> &command, bool refreshGutter);
    void setEdited(bool edited);
    // The view replaced `removed` line breaks with `inserted` ones, after `line` breaks.
    void lineBreaksReplaced(qsizetype line, qsizetype removed, qsizetype inserted);
    void applyLineEndings(int style, const QByteArray &endings);
    void observeUndoManager(KRSpecialUndoManager *manager);
    QDialog *makeSpacesSheet(bool entab);
    void fillEncodings(QMenu *menu, bool reload);

    KRUserDefaults *m_defaults;
    CESyntaxController *m_controller;
    QVariantMap m_settings;
    CEEditorDelegate *m_delegate = nullptr;
    std::function<KRSpecialUndoManager *()> m_undoProvider;
    std::unique_ptr<KRUndoManager> m_ownUndo;
    std::unique_ptr<KRSpecialUndoManager> m_ownSpecial;
    QPointer<QObject> m_observedUndo;
    QPointer<QWidget> m_host;
    QPointer<CETextView> m_textView;
    QPointer<CEGutterView> m_gutter;
    QPointer<CEFindBar> m_findBar;
    bool m_findBarShown = false;
    std::unique_ptr<CESyntaxColouring> m_colouring;
    // The style of each line break of a text loaded with mixed endings; empty otherwise.
    QByteArray m_lineEndings;
    std::vector<KRObservationToken> m_observations;
};

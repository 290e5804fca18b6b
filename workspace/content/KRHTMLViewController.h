#pragma once

#include <codeeditor/CEEditorDelegate.h>
#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QComboBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

class CEEditor;
class KRDocument;
class KRObject;
class KRUndoManager;

// What the tab that hosts a content editor is to it. The editor asks nothing of its host.
class KRHTMLViewDelegate
{
public:
    virtual ~KRHTMLViewDelegate() = default;
};

// The strip above the editor that carries the mode pop-up: the light grey gradient, lighter at
// the top, and a grey line along its bottom edge.
class KRHTMLViewHeaderView : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Edits one content property of one object as Markdown or HTML in the code editor. The mode
// is stored with the content as a "markdown:" or "html:" prefix of the value; empty content is
// the empty string whatever the mode. Switching the mode of non-empty content discards it after
// a question, as one undo step; switching the mode of empty content asks nothing and is an
// undo step as well.
class KRHTMLViewController : public KRCachingViewController, private CEEditorDelegate
{
    Q_OBJECT

public:
    static inline const QString MarkdownMode = QStringLiteral("Markdown");
    static inline const QString HTMLMode = QStringLiteral("HTML");

    KRHTMLViewController();
    ~KRHTMLViewController() override;

    QString nibName() const override { return QStringLiteral("KRHTMLView"); }

    KRHTMLViewDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRHTMLViewDelegate *delegate) { m_delegate = delegate; }

    // Binds the tab to the object's content property; called once, right after creation.
    void setObject(const std::shared_ptr<KRObject> &object, const QString &propertyKey);
    std::shared_ptr<KRObject> object() const { return m_object.lock(); }
    QString propertyKey() const { return m_propertyKey; }

    // The editor's text view; null after close().
    QWidget *textView() const;
    CEEditor *codeEditor() const { return m_codeEditor.get(); }
    QComboBox *modePopUp() const { return m_modePopUp; }
    // The pop-up's current title.
    QString editMode() const;

    // The user chose a mode in the pop-up.
    void modePopUpAction();
    // Switches to the mode and empties the content, as one undo step "Edit Mode Change".
    void changeMode(const QString &mode);
    // Shows the mode in the pop-up; while undoing or redoing also records the way back.
    void setEditMode(const QString &mode);

    // Writes the editor's text into the object (prefixed by the mode, or empty).
    void saveContents();
    // Writes the text back and lets go of the editor.
    void close();

protected:
    void awakeFromNib() override;

private:
    void textDidChange(CETextView *) override;
    void textDidEndEditing(CETextView *) override;
    std::shared_ptr<KRDocument> document() const;
    void stopObserving();

    std::weak_ptr<KRObject> m_object;
    QString m_propertyKey;
    KRHTMLViewDelegate *m_delegate = nullptr; // not owned
    std::unique_ptr<CEEditor> m_codeEditor;
    QPointer<QComboBox> m_modePopUp;       // part of view()
    QString m_editMode = MarkdownMode;     // the mode in effect (the pop-up shows it between choices)
    QPointer<QWidget> m_editorView;        // part of view()
    std::weak_ptr<KRDocument> m_document;  // whose undo manager records the edits
    KRObservationToken m_willSaveObservation;
    bool m_saving = false;
};

#pragma once

#include <ui/KRCachingViewController.h>
#include <codeeditor/CEEditorDelegate.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservationToken.h>

#include <QPointer>
#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

class CEEditor;
class CETextView;
class QPushButton;
class KRProject;
class KRProjectResource;
class KRResourceTabPaneViewController;

// The text editor of one resource file. Edits go into the project's cache of modified
// resources (under the resource's relative path, with its encoding under the path + "//enc")
// and reach the file when the project is saved. The file keeps its own line endings, encoding
// and byte-order mark; a bar under the text shows them with the syntax colouring, and changes
// them or reads the file again in another encoding.
class KRResourceViewController : public KRCachingViewController, public CEEditorDelegate
{
    Q_OBJECT

public:
    KRResourceViewController();
    ~KRResourceViewController() override;
    QString nibName() const override { return QStringLiteral("KRResourceView"); }

    // Shows the resource: its cached edits when there are any, else its file.
    void setResource(const std::shared_ptr<KRProjectResource> &resource);
    std::shared_ptr<KRProjectResource> resource() const { return m_resource; }
    CEEditor *codeEditor() const { return m_codeEditor.get(); }
    CETextView *textView() const;
    // The name of the text's encoding ("UTF-8", "ISO-8859-1", ...).
    QString encoding() const { return m_encoding; }

    // Reads a text file, recognising its encoding: UTF-8 when the bytes are valid UTF-8 (or
    // carry a byte-order mark), else the encoding a character-set detector names. Nullopt
    // when the file cannot be read.
    struct DecodedText
    {
        QString text;
        QString encoding;
        bool byteOrderMark = false; // the bytes began with one
    };
    static KRResult<DecodedText> readText(const QString &path);
    // The text in the named encoding, after a byte-order mark when asked for one (Unicode
    // encodings only); nullopt when some character cannot be written in it.
    static std::optional<QByteArray> encode(const QString &text, const QString &encoding, bool byteOrderMark = false);
    // Whether the bytes begin with the byte-order mark of the named encoding.
    static bool startsWithByteOrderMark(const QByteArray &bytes, const QString &encoding);

    // Edited since the project was last saved.
    bool isDirty() const { return m_isDirty; }
    void setIsDirty(bool dirty) { m_isDirty = dirty; }
    KRResourceTabPaneViewController *delegate() const { return m_delegate; }
    void setDelegate(KRResourceTabPaneViewController *delegate) { m_delegate = delegate; }

    // Stores the text in the project's cache. False (and the cache keeps what it had) when
    // the text's encoding cannot hold it; the user is told once per such state.
    bool saveContents();
    void discardChanges();
    // The tab closed: the undo records made through the document's scoped manager go.
    void didClose();

    void textDidChange();
    void textDidEndEditing();
    void willSaveDocument();
    // Reads the file again in the named encoding, after asking when that drops edits. False
    // when nothing was read (cancelled, unreadable, or not text in that encoding; told).
    bool reloadText(const QString &encoding);

    // --- CEEditorDelegate
    void textDidChange(CETextView *) override { textDidChange(); }
    void textDidEndEditing(CETextView *) override { textDidEndEditing(); }

protected:
    void awakeFromNib() override;

private:
    std::shared_ptr<KRProject> krProject();
    // The editor's encoding or line endings changed by command (or its undo): the file is
    // written anew.
    void encodingChanged();
    void lineEndingsChanged();
    void updateBar();

    std::unique_ptr<CEEditor> m_codeEditor;
    std::shared_ptr<KRProjectResource> m_resource;
    QString m_encoding = QStringLiteral("UTF-8");
    bool m_byteOrderMark = false; // the file began with one
    QWidget *m_editorView = nullptr; // part of view()
    QPushButton *m_syntaxButton = nullptr;
    QPushButton *m_encodingButton = nullptr;
    QPushButton *m_lineEndingsButton = nullptr;
    KRResourceTabPaneViewController *m_delegate = nullptr; // not owned
    std::vector<KRObservationToken> m_observations;
    bool m_isDirty = false;
    bool m_toldUnencodable = false;
    bool m_loading = false;
};

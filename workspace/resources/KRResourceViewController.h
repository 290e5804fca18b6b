#pragma once

#include <core/ui/KRCachingViewController.h>
#include <codeeditor/CEEditorDelegate.h>
#include <platform/foundation/KRObservationToken.h>

#include <QPointer>
#include <QStringConverter>

#include <memory>
#include <optional>
#include <vector>

class CEEditor;
class CETextView;
class KRProject;
class KRProjectResource;
class KRResourceTabPaneViewController;

// The text editor of one resource file. Edits go into the project's cache of modified
// resources (under the resource's relative path, with its encoding under the path + "//enc")
// and reach the file when the project is saved.
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
    // The encoding of the text, as QStringConverter names it.
    QStringConverter::Encoding encoding() const { return m_encoding; }

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

protected:
    void awakeFromNib() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::shared_ptr<KRProject> krProject();

    std::unique_ptr<CEEditor> m_codeEditor;
    std::shared_ptr<KRProjectResource> m_resource;
    QStringConverter::Encoding m_encoding = QStringConverter::Utf8;
    KRResourceTabPaneViewController *m_delegate = nullptr; // not owned
    std::vector<KRObservationToken> m_observations;
    bool m_isDirty = false;
    bool m_toldUnencodable = false;
};

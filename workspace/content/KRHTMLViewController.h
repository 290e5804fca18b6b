#pragma once

#include <core/ui/KRCachingViewController.h>

#include <QString>
#include <QWidget>

#include <memory>

class KRObject;

// What the tab that hosts a content editor is to it. The editor asks nothing of its host.
class KRHTMLViewDelegate
{
public:
    virtual ~KRHTMLViewDelegate() = default;
};

// Edits one content property of one object as Markdown or HTML in the code editor. The mode is
// stored with the content as a "markdown:" or "html:" prefix of the value.
class KRHTMLViewController : public KRCachingViewController
{
    Q_OBJECT

public:
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

    // Writes the text back and lets go of the editor.
    void close();

protected:
    void awakeFromNib() override;

private:
    std::weak_ptr<KRObject> m_object;
    QString m_propertyKey;
    KRHTMLViewDelegate *m_delegate = nullptr; // not owned
};

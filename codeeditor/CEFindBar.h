#pragma once

#include <QWidget>

class CEEditor;
class QCheckBox;
class QLineEdit;

// The find bar under an editor's text: a search field with the next and previous match, a
// replace field with Replace and Replace All, and a case toggle. Return in the search field
// finds the next match (with Shift the previous one), F3 and Shift+F3 do the same anywhere in
// the bar, and Escape closes it and gives the focus back to the text. The searching itself is
// the editor's.
class CEFindBar : public QWidget
{
    Q_OBJECT

public:
    explicit CEFindBar(CEEditor &editor, QWidget *parent = nullptr);

    CEEditor &editor() const { return m_editor; }
    QString searchString() const;
    QString replacement() const;
    Qt::CaseSensitivity caseSensitivity() const;
    // Puts the focus in the search field with its text selected, after putting `search` there
    // when it is not empty.
    void activate(const QString &search);
    // Tints the search field while its text is nowhere in the editor.
    void setNotFound(bool notFound);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    CEEditor &m_editor;
    QLineEdit *m_findField = nullptr;
    QLineEdit *m_replaceField = nullptr;
    QCheckBox *m_matchCase = nullptr;
};

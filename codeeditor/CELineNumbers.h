#pragma once

#include <QList>
#include <QVariantMap>
#include <QWidget>

class CEEditor;
class CETextView;

// One label of the gutter: a line number, or "·" for a wrapped continuation, at the top of
// its line in view coordinates.
struct CELineNumberEntry
{
    QString label;
    qreal top = 0;
    qreal height = 0;
    QVariantMap attributes;
};

namespace CELineNumbers {
// The labels of the lines in view; the host's line attributes are asked for each number.
QList<CELineNumberEntry> entries(CEEditor &editor, CETextView &view);
} // namespace CELineNumbers

// The gutter beside the text: the numbers right-aligned, a dotted right edge. It widens (never
// narrows) when the numbers need more room, and lays the editor out again.
class CEGutterView : public QWidget
{
    Q_OBJECT

public:
    explicit CEGutterView(CEEditor &editor, QWidget *parent = nullptr);

    // Renumbers; with checkWidth the width may grow; with recolour the visible text lines are
    // recoloured too.
    void updateLineNumbers(bool checkWidth, bool recolour);
    // After a text change: the width is checked at once, the labels when next painted.
    void setNeedsNumbering(bool checkWidth);
    const QList<CELineNumberEntry> &entries();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CEEditor &m_editor;
    QList<CELineNumberEntry> m_entries;
    bool m_updating = false;
    bool m_stale = false;
    void checkWidth();
};

#pragma once

#include <QFont>
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
    // recoloured too. Only the rows whose label, place or marks changed are drawn again.
    void updateLineNumbers(bool checkWidth, bool recolour);
    // After a text change: the width is checked at once, the labels at the end of the event
    // turn (or when asked for before). A change within one block (`editedBlock`, its number)
    // that left its lines as they were and that carries no mark of the host keeps the labels.
    void setNeedsNumbering(bool checkWidth, int editedBlock = -1);
    const QList<CELineNumberEntry> &entries();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    CEEditor &m_editor;
    QList<CELineNumberEntry> m_entries;
    bool m_updating = false;
    bool m_stale = false;
    bool m_numberingQueued = false;
    int m_numberedBlocks = -1;   // the document's blocks when the labels were made
    struct WidthCheck
    {
        int blocks = -1;
        int width = 0;
        bool stored = false;
        QFont font;
        bool operator==(const WidthCheck &other) const
        {
            return blocks == other.blocks && width == other.width && stored == other.stored && font == other.font;
        }
    };
    WidthCheck m_widthChecked; // what the last width check depended on
    void checkWidth();
    bool keepsLabels(int editedBlock) const;
    void renumber();
    // The gutter's row of an entry.
    QRect rowRect(const CELineNumberEntry &entry) const;
    qreal rowShift() const;
};

#include "CELineNumbers.h"

#include "CEDefaults.h"
#include "CEEditor.h"
#include "CESyntaxColouring.h"
#include "CETextView.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QPaintEvent>
#include <QPainter>
#include <QTextDocument>
#include <QTextBlock>
#include <QTextLayout>

namespace CELineNumbers {

QList<CELineNumberEntry> entries(CEEditor &editor, CETextView &view)
{
    QList<CELineNumberEntry> result;
    const qreal bottom = view.viewport()->height();
    CETemporaryAttributes *store = editor.colouring() ? &editor.colouring()->temporaryAttributes() : nullptr;
    view.visitBlocksInView([&](const QTextBlock &block, const QRectF &box) {
        if (box.top() > bottom)
            return false;
        if (!block.isVisible())
            return true;
        const int number = block.blockNumber() + 1;
        QVariantMap attributes = editor.delegate() ? editor.delegate()->attributesForLineNumber(number) : QVariantMap();
        if (!attributes.isEmpty() && store)
            store->addAttributes(attributes, {block.position(), block.length()});
        const QTextLayout *layout = block.layout();
        const int lines = std::max(1, layout ? layout->lineCount() : 1);
        for (int i = 0; i < lines; ++i) {
            CELineNumberEntry entry;
            const QTextLine line = layout && layout->lineCount() ? layout->lineAt(i) : QTextLine();
            entry.top = box.top() + (line.isValid() ? line.y() : 0);
            entry.height = line.isValid() ? line.height() : box.height();
            entry.label = i == 0 ? QString::number(number) : QStringLiteral("\u00B7");
            entry.attributes = attributes;
            result.append(entry);
        }
        return true;
    });
    return result;
}

} // namespace CELineNumbers

CEGutterView::CEGutterView(CEEditor &editor, QWidget *parent)
    : QWidget(parent)
    , m_editor(editor)
{
    setAutoFillBackground(false);
}

void CEGutterView::updateLineNumbers(bool checkWidth, bool recolour)
{
    CETextView *view = m_editor.textView();
    if (m_updating || !view)
        return;
    m_updating = true;
    renumber();
    if (checkWidth)
        this->checkWidth();
    if (recolour)
        view->recolourVisible();
    m_updating = false;
}

qreal CEGutterView::rowShift() const
{
    // The text view's top edge sits at the gutter's top.
    const CETextView *view = m_editor.textView();
    return view->mapTo(parentWidget(), QPoint(0, 0)).y() + view->viewport()->y() - y();
}

QRect CEGutterView::rowRect(const CELineNumberEntry &entry) const
{
    return QRectF(0, entry.top + rowShift(), width(), entry.height).toAlignedRect();
}

// The rows that differ from those shown are drawn again; typing within a line leaves every
// row as it was.
void CEGutterView::renumber()
{
    QList<CELineNumberEntry> entries = CELineNumbers::entries(m_editor, *m_editor.textView());
    m_stale = false;
    m_numberedBlocks = m_editor.textView()->document()->blockCount();
    QRegion changed;
    const qsizetype rows = std::max(entries.size(), m_entries.size());
    for (qsizetype i = 0; i < rows; ++i) {
        const CELineNumberEntry *now = i < entries.size() ? &entries.at(i) : nullptr;
        const CELineNumberEntry *before = i < m_entries.size() ? &m_entries.at(i) : nullptr;
        if (now && before && now->label == before->label && now->top == before->top && now->height == before->height
            && now->attributes == before->attributes)
            continue;
        if (now)
            changed += rowRect(*now);
        if (before)
            changed += rowRect(*before);
    }
    m_entries = std::move(entries);
    if (!changed.isEmpty())
        update(changed);
}

bool CEGutterView::keepsLabels(int editedBlock) const
{
    const CETextView *view = m_editor.textView();
    if (editedBlock < 0 || m_stale || m_numberedBlocks != view->document()->blockCount())
        return false;
    const QString number = QString::number(editedBlock + 1);
    qsizetype first = 0;
    while (first < m_entries.size() && m_entries.at(first).label != number)
        ++first;
    if (first == m_entries.size())
        return true; // the block is out of view
    qsizetype lines = 0;
    for (qsizetype i = first; i < m_entries.size() && (i == first || m_entries.at(i).label == QStringLiteral("\u00B7")); ++i) {
        if (!m_entries.at(i).attributes.isEmpty())
            return false;
        ++lines;
    }
    const QTextLayout *layout = view->document()->findBlockByNumber(editedBlock).layout();
    return lines == std::max(1, layout ? layout->lineCount() : 1);
}

void CEGutterView::setNeedsNumbering(bool checkWidth, int editedBlock)
{
    if (checkWidth)
        this->checkWidth();
    if (keepsLabels(editedBlock))
        return;
    m_stale = true;
    if (std::exchange(m_numberingQueued, true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_numberingQueued = false;
        if (m_stale && !m_updating)
            updateLineNumbers(false, false);
    }, Qt::QueuedConnection);
}

const QList<CELineNumberEntry> &CEGutterView::entries()
{
    if (m_stale && !m_updating)
        updateLineNumbers(false, false);
    return m_entries;
}

// The gutter only ever widens: to the widest number plus 20 once it comes within 14 points.
void CEGutterView::checkWidth()
{
    CETextView *view = m_editor.textView();
    const int current = m_editor.settings().value(CEKeys::gutterWidth,
                                                  int(CEDefaults::integerValue(m_editor.defaults(), CEDefaults::gutterWidth))).toInt();
    // The same number of blocks in the same font against the same width needs no new look.
    const WidthCheck checking{view->document()->blockCount(), current, m_editor.settings().contains(CEKeys::gutterWidth),
                              view->font()};
    if (checking == m_widthChecked)
        return;
    m_widthChecked = checking;
    const QFontMetrics metrics(view->font());
    const int needed = metrics.horizontalAdvance(QString::number(view->document()->blockCount()));
    if (needed > current - 14) {
        m_editor.setSetting(CEKeys::gutterWidth, needed + 20);
        m_editor.relayout();
    } else if (!m_editor.settings().contains(CEKeys::gutterWidth)) {
        m_editor.setSetting(CEKeys::gutterWidth, current);
    }
}

void CEGutterView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QColor background = CEDefaults::colourValue(m_editor.defaults(), CEDefaults::backgroundColourWell);
    painter.fillRect(event->rect(), background.isValid() ? background : QColor(Qt::white));
    CETextView *view = m_editor.textView();
    if (!view)
        return;
    QFont font = view->font();
    painter.setFont(font);
    const QColor numberColour = CEDefaults::colourValue(m_editor.defaults(), CEDefaults::gutterTextColourWell);
    const qreal shift = rowShift();
    const QRectF dirty = event->rect();
    for (const CELineNumberEntry &entry : entries()) {
        const QRectF box(0, entry.top + shift, width() - 5, entry.height);
        if (box.bottom() < dirty.top() || box.top() > dirty.bottom())
            continue;
        const QColor back = entry.attributes.value(CETemporaryAttributes::backgroundColour).value<QColor>();
        if (back.isValid())
            painter.fillRect(QRectF(0, box.top(), width(), box.height()), back);
        const QColor fore = entry.attributes.value(CETemporaryAttributes::foregroundColour).value<QColor>();
        painter.setPen(fore.isValid() ? fore : numberColour);
        painter.drawText(box, Qt::AlignRight | Qt::AlignTop, entry.label);
    }
    QPen edge(QColor(0, 0, 0, 90));
    edge.setStyle(Qt::DotLine);
    painter.setPen(edge);
    painter.drawLine(QPointF(width() - 0.5, 0), QPointF(width() - 0.5, height()));
}

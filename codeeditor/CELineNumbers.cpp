#include "CELineNumbers.h"

#include "CEDefaults.h"
#include "CEEditor.h"
#include "CESyntaxColouring.h"
#include "CETextView.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QPainter>
#include <QTextBlock>
#include <QTextLayout>

namespace CELineNumbers {

QList<CELineNumberEntry> entries(CEEditor &editor, CETextView &view)
{
    QList<CELineNumberEntry> result;
    const qreal bottom = view.viewport()->height();
    CETemporaryAttributes *store = editor.colouring() ? &editor.colouring()->temporaryAttributes() : nullptr;
    for (QTextBlock block = view.firstVisibleBlock(); block.isValid(); block = block.next()) {
        const QRectF box = view.blockBoundingGeometry(block).translated(view.contentOffset());
        if (box.top() > bottom)
            break;
        if (!block.isVisible())
            continue;
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
    }
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
    m_entries = CELineNumbers::entries(m_editor, *view);
    m_stale = false;
    if (checkWidth)
        this->checkWidth();
    if (recolour)
        view->recolourVisible();
    update();
    m_updating = false;
}

void CEGutterView::setNeedsNumbering(bool checkWidth)
{
    m_stale = true;
    if (checkWidth)
        this->checkWidth();
    update();
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
    const QFontMetrics metrics(view->font());
    const int needed = metrics.horizontalAdvance(QString::number(view->document()->blockCount()));
    const int current = m_editor.settings().value(CEKeys::gutterWidth,
                                                  int(m_editor.defaults().integerValue(CEDefaults::gutterWidth))).toInt();
    if (needed > current - 14) {
        m_editor.setSetting(CEKeys::gutterWidth, needed + 20);
        m_editor.relayout();
    } else if (!m_editor.settings().contains(CEKeys::gutterWidth)) {
        m_editor.setSetting(CEKeys::gutterWidth, current);
    }
}

void CEGutterView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor background = CEDefaults::colourValue(m_editor.defaults(), CEDefaults::backgroundColourWell);
    painter.fillRect(rect(), background.isValid() ? background : QColor(Qt::white));
    CETextView *view = m_editor.textView();
    if (!view)
        return;
    QFont font = view->font();
    painter.setFont(font);
    const QColor numberColour = CEDefaults::colourValue(m_editor.defaults(), CEDefaults::gutterTextColourWell);
    // The text view's top edge sits at the gutter's top.
    const qreal shift = view->mapTo(parentWidget(), QPoint(0, 0)).y() + view->viewport()->y() - y();
    for (const CELineNumberEntry &entry : entries()) {
        const QRectF box(0, entry.top + shift, width() - 5, entry.height);
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

#include "TBTabBarCell.h"

#include "TBTabBarButtons.h"
#include "TBTabBarControl.h"
#include "TBTabBarControlDelegate.h"
#include "TBTabStyle.h"

#include <QFontMetricsF>
#include <QGuiApplication>

TBTabBarCell::TBTabBarCell(TBTabBarControl *control)
    : m_control(control), m_indicator(new TBProgressIndicator)
{
}

TBTabBarCell::TBTabBarCell(const QRectF &frame, bool expanded, TBTabBarControl *control)
    : m_control(control), m_currentStep(expanded ? 7 : 0), m_placeholder(true)
{
    QRectF f = frame;
    if (!expanded) {
        if (control && control->orientation() == TBTabBarOrientation::Vertical)
            f.setHeight(0);
        else
            f.setWidth(0);
    }
    m_frame = f;
}

TBTabBarCell::~TBTabBarCell()
{
    delete m_indicator.data();
}

void TBTabBarCell::setFrame(const QRectF &frame)
{
    m_frame = frame;
    if (m_indicator && !m_indicator->isSpinnerHidden() && m_control && !m_control->isTabBarHidden())
        m_indicator->setGeometry(indicatorRectForFrame(frame).toAlignedRect());
}

void TBTabBarCell::setStringValue(const QString &title)
{
    m_title = title;
    const TBStyledText text = attributedStringValue();
    m_stringSize = QFontMetricsF(text.font).size(Qt::TextSingleLine, text.text);
    if (m_control)
        m_control->updateTabs();
}

TBStyledText TBTabBarCell::attributedStringValue() const
{
    if (m_control && m_control->style())
        return m_control->style()->attributedStringValueForTabCell(*this);
    return TBStyledText{m_title, QFont(), QColor(), QColor(), QPointF(), false};
}

void TBTabBarCell::setIsInOverflowMenu(bool value)
{
    if (m_inOverflowMenu == value)
        return;
    m_inOverflowMenu = value;
    if (m_control && m_control->delegate())
        m_control->delegate()->tabViewItemIsInOverflowMenu(m_control, m_item, value);
}

bool TBTabBarCell::closeButtonOver() const
{
    if (!m_closeButtonOver)
        return false;
    return (m_control && m_control->allowsBackgroundTabClosing()) || (m_tabState & TBTabState::Selected)
        || (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier);
}

bool TBTabBarCell::indicatorVisible() const
{
    return m_indicator && !m_indicator->isSpinnerHidden();
}

QRectF TBTabBarCell::indicatorRectForFrame(const QRectF &) const
{
    return m_control && m_control->style() ? m_control->style()->indicatorRectForTabCell(*this) : QRectF();
}

QRectF TBTabBarCell::closeButtonRectForFrame(const QRectF &frame) const
{
    return m_control && m_control->style() ? m_control->style()->closeButtonRectForTabCell(*this, frame) : QRectF();
}

double TBTabBarCell::minimumWidthOfCell() const
{
    return m_control && m_control->style() ? m_control->style()->minimumWidthOfTabCell(*this) : 0;
}

double TBTabBarCell::desiredWidthOfCell() const
{
    return m_control && m_control->style() ? m_control->style()->desiredWidthOfTabCell(*this) : 0;
}

QString TBTabBarCell::accessibilityHelp() const
{
    if (m_control && m_control->delegate() && m_control->tabView()) {
        if (auto word = m_control->delegate()->accessibilityStringForTabView(m_control->tabView(), m_count))
            return QStringLiteral("%1, %2 %3").arg(m_title).arg(m_count).arg(*word);
    }
    return m_title;
}

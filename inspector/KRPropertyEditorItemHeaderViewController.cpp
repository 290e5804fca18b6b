#include "KRPropertyEditorItemHeaderViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QLabel>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QToolButton>

namespace {


// The disclosure triangle of a section header: the arrow alone, without the button's panel,
// hovered, pressed or checked. Drawn as a style sheet with no border and no background draws
// it, without the cost of giving every header a style sheet of its own.
class KRDisclosureButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStyleOptionToolButton option;
        initStyleOption(&option);
        QPainter painter(this);
        style()->drawControl(QStyle::CE_ToolButtonLabel, &option, &painter, this);
    }
};

} // namespace

QWidget *KRPropertyEditorItemHeaderViewController::buildView()
{
    auto *view = new KRPropertyEditorItemView(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(22);
    m_disclosureButton = new KRDisclosureButton(view);
    m_disclosureButton->setCheckable(true);
    m_disclosureButton->setAutoRaise(true);
    m_disclosureButton->setArrowType(Qt::RightArrow);
    m_disclosureButton->setFocusPolicy(Qt::NoFocus);
    m_disclosureButton->setGeometry(4, 3, 16, 16);
    m_label = new KRPropertyEditorRowLabel(view);
    QFont font = m_label->font();
    font.setPixelSize(12);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setGeometry(22, 2, 220, 18);
    QObject::connect(m_disclosureButton, &QToolButton::toggled, m_disclosureButton, [this](bool open) {
        m_disclosureButton->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    QObject::connect(m_disclosureButton, &QToolButton::clicked, m_disclosureButton,
                     [this] { disclosureButtonAction(); });
    return view;
}

bool KRPropertyEditorItemHeaderViewController::isOpen() const
{
    return m_disclosureButton->isChecked();
}

void KRPropertyEditorItemHeaderViewController::setOpen(bool open)
{
    m_disclosureButton->setChecked(open);
}

void KRPropertyEditorItemHeaderViewController::setHelpButtonIdentifier(const QString &identifier)
{
    // Only headers with help (the object's title) have the button.
    trackHelpButton(identifier, QPoint(248, 3), {m_label});
}

void KRPropertyEditorItemHeaderViewController::addObject(KRPropertyEditorItemViewController *row)
{
    row->setVisible(isOpen());
    m_children.append(row);
}

void KRPropertyEditorItemHeaderViewController::hideDisclosureButton()
{
    m_disclosureButton->hide();
    m_label->move(m_disclosureButton->x(), m_label->y());
}

void KRPropertyEditorItemHeaderViewController::disclosureButtonAction()
{
    const bool open = isOpen();
    for (KRPropertyEditorItemViewController *row : std::as_const(m_children))
        row->setVisible(open);
    if (delegate())
        delegate()->reloadTable();
}

#include "KRPropertyEditorItemMLTableViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QApplication>
#include <QDropEvent>
#include <QListWidget>
#include <QToolButton>

namespace {

// Reorders its own rows only; drops from any other table are refused.
class KRMLTableListWidget : public QListWidget
{
public:
    std::function<void(int from, int to)> moved;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        if (event->source() != this || selectedItems().isEmpty()) {
            event->ignore();
            return;
        }
        const QListWidgetItem *target = itemAt(event->position().toPoint());
        int dropRow = target ? row(target) : count();
        if (target && event->position().toPoint().y() > visualItemRect(target).center().y())
            ++dropRow;
        const int from = row(selectedItems().first());
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
        if (moved)
            moved(from, dropRow);
    }
};

} // namespace

QWidget *KRPropertyEditorItemMLTableViewController::buildView()
{
    QWidget *view = makeRowView(67);
    auto *table = new KRMLTableListWidget;
    table->setParent(view);
    m_table = table;
    m_table->setGeometry(KRRowLabelWidth, 2, 134, 44);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setDragDropMode(QAbstractItemView::InternalMove);
    m_table->setDefaultDropAction(Qt::MoveAction);
    table->moved = [this](int from, int to) { moveRow(from, to); };
    auto *add = new QToolButton(view);
    add->setText(QStringLiteral("+"));
    add->setObjectName(QStringLiteral("addButton"));
    add->setGeometry(KRRowLabelWidth, 47, 20, 18);
    auto *remove = new QToolButton(view);
    remove->setText(QStringLiteral("−"));
    remove->setObjectName(QStringLiteral("removeButton"));
    remove->setGeometry(KRRowLabelWidth + 20, 47, 20, 18);
    // A press on a button takes the focus to it rather than to the scroll area around the
    // rows, so that the open row stays open under the pointer (see setup()); Tab reaches them.
    for (QToolButton *button : {add, remove})
        button->setFocusPolicy(Qt::StrongFocus);
    m_addButton = add;
    m_removeButton = remove;
    QObject::connect(add, &QToolButton::clicked, add, [this] { addRow(); });
    QObject::connect(remove, &QToolButton::clicked, remove, [this] { removeRow(); });
    QObject::connect(m_table, &QListWidget::itemChanged, m_table, [this](QListWidgetItem *item) {
        if (!m_reloading)
            setLine(m_table->row(item), item->text());
    });
    return view;
}

QWidget *KRPropertyEditorItemMLTableViewController::editControl() const
{
    return m_table;
}

KRPropertyEditorItemMLTableViewController::~KRPropertyEditorItemMLTableViewController()
{
    // The view goes later, with the base: focus changes while it goes must not reach here.
    QObject::disconnect(m_focusConnection);
}

void KRPropertyEditorItemMLTableViewController::setup()
{
    // The row grows while the keyboard focus is inside the table (a cell editor included), and
    // stays open while the focus moves on to its own "+" and "−": the press on them would
    // otherwise shrink the row and move them from under the pointer before the release.
    m_focusConnection = QObject::connect(qApp, &QApplication::focusChanged, m_table, [this](QWidget *, QWidget *now) {
        const bool inTable = now && (now == m_table || m_table->isAncestorOf(now));
        const bool onButtons = now && (now == m_addButton || now == m_removeButton);
        const bool inside = inTable || (m_open && onButtons);
        if (inside == m_open)
            return;
        m_open = inside;
        setViewHeight(inside ? 150 : 67);
        m_table->resize(m_table->width(), inside ? 127 : 44);
        for (auto *button : view()->findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
            if (!button->objectName().startsWith(QLatin1String("helpButton_")))
                button->move(button->x(), inside ? 130 : 47);
        notifySizeChanged();
    });
    readLines();
    m_observation = observeValue([this](const QString &) {
        if (!m_reloading)
            readLines();
    });
}

void KRPropertyEditorItemMLTableViewController::readLines()
{
    const QString text = storedValue();
    m_lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::reloadTable()
{
    m_reloading = true;
    m_table->clear();
    for (const QString &line : std::as_const(m_lines)) {
        auto *item = new QListWidgetItem(line, m_table);
        item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    }
    m_reloading = false;
}

void KRPropertyEditorItemMLTableViewController::updateModel()
{
    m_reloading = true;
    writeValue(m_lines.join(QLatin1Char('\n')));
    m_reloading = false;
}

void KRPropertyEditorItemMLTableViewController::addRow()
{
    m_lines.append(QObject::tr("(new)"));
    updateModel();
    reloadTable();
    m_table->setCurrentRow(int(m_lines.size()) - 1);
    m_table->editItem(m_table->item(int(m_lines.size()) - 1));
}

void KRPropertyEditorItemMLTableViewController::removeRow()
{
    int lowest = -1;
    for (const QListWidgetItem *item : m_table->selectedItems())
        lowest = lowest < 0 ? m_table->row(item) : qMin(lowest, m_table->row(item));
    if (lowest < 0 || lowest >= m_lines.size())
        return;
    m_lines.removeAt(lowest);
    updateModel();
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::moveRow(int from, int dropRow)
{
    if (from < 0 || from >= m_lines.size() || dropRow < 0 || dropRow > m_lines.size())
        return;
    const QString line = m_lines.takeAt(from);
    m_lines.insert(dropRow > from ? dropRow - 1 : dropRow, line);
    updateModel();
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::setLine(int row, const QString &text)
{
    if (row < 0 || row >= m_lines.size())
        return;
    m_lines[row] = text;
    updateModel();
}

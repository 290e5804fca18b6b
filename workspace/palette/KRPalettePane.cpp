#include "KRPalettePane.h"

#include "KRPaletteObjectViewController.h"

#include <ui/KRUIColors.h>
#include <controls/KRPluginLoader.h>
#include <model/KRObjectInfo.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/views/KRPaneHeaderView.h>

#include <QDrag>
#include <QLabel>
#include <QMouseEvent>
#include <QMimeData>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString KRPaletteMimeType = QStringLiteral("KRObject");
const QString KRPaletteCompactKey = QStringLiteral("compactObjectPalette");

// A row: the gradient background with its light top and grey bottom lines, the icon, a
// divider, the name and (when not compact) the description.
class KRPaletteRowDelegate : public QStyledItemDelegate
{
public:
    KRPaletteRowDelegate(const KRPalettePane *pane, QObject *parent) : QStyledItemDelegate(parent), m_pane(pane) {}

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override
    {
        // No width of its own: the list gives every row its full width, with or without the
        // scroll bar.
        return QSize(0, m_pane->rowHeight());
    }

    // A row's view (see KRPaletteObjectViewController) covers the whole row.
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        editor->setGeometry(option.rect);
    }

    void paint(QPainter *p, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QRect r = option.rect;
        const bool compact = m_pane->isCompact();
        p->save();
        p->fillRect(r, KRUIColors::lightGrayGradient().linearGradient(r, 90.0));
        if (option.state & QStyle::State_Selected)
            p->fillRect(r, QColor(0x3b, 0x7b, 0xd8, 60));
        p->setPen(KRUIColors::grayLineColor());
        p->drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p->setPen(Qt::white);
        p->drawLine(r.left(), r.top(), r.right(), r.top());

        const QImage icon = index.data(Qt::DecorationRole).value<QImage>();
        const QRect iconRect = compact ? QRect(r.left() + 3, r.top() + 3, 22, 22) : QRect(r.left() + 4, r.top() + 4, 32, 32);
        if (!icon.isNull()) {
            p->setRenderHint(QPainter::SmoothPixmapTransform);
            p->drawImage(iconRect, icon);
        }
        const int lineX = r.left() + (compact ? 30 : 40);
        p->setPen(KRUIColors::grayLineColor());
        p->drawLine(lineX, r.top() + 1, lineX, r.bottom() - 1);

        QFont font = option.font;
        font.setPixelSize(compact ? 11 : 12);
        font.setBold(!compact);
        p->setFont(font);
        p->setPen(QColor(0x20, 0x20, 0x20));
        const int textX = r.left() + (compact ? 34 : 44);
        if (compact) {
            p->drawText(QRect(textX, r.top(), r.width() - textX, r.height()), Qt::AlignVCenter | Qt::AlignLeft,
                        index.data(Qt::DisplayRole).toString());
        } else {
            p->drawText(QRect(textX, r.top() + 3, r.width() - textX - 4, 16), Qt::AlignVCenter | Qt::AlignLeft,
                        index.data(Qt::DisplayRole).toString());
            QFont small = option.font;
            small.setPixelSize(10);
            p->setFont(small);
            p->setPen(QColor(0x55, 0x55, 0x55));
            const QString description = p->fontMetrics().elidedText(
                index.data(KRPaletteModel::DescriptionRole).toString(), Qt::ElideRight, r.width() - textX - 4);
            p->drawText(QRect(textX, r.top() + 20, r.width() - textX - 4, 16), Qt::AlignVCenter | Qt::AlignLeft, description);
        }
        p->restore();
    }

private:
    const KRPalettePane *m_pane;
};

} // namespace

KRPaletteModel::KRPaletteModel(QObject *parent) : QAbstractListModel(parent)
{
    m_classes = builtInClasses() + KRObjectInfo::sharedInstance().pluginObjects();
}

QStringList KRPaletteModel::builtInClasses()
{
    return {QStringLiteral("JQMButton"),         QStringLiteral("JQMTextbox"),        QStringLiteral("JQMTextArea"),
            QStringLiteral("JQMSlider"),         QStringLiteral("JQMSlideToggle"),    QStringLiteral("JQMCheckboxGroup"),
            QStringLiteral("JQMRadioButtonGroup"), QStringLiteral("JQMSelect"),       QStringLiteral("JQMListView"),
            QStringLiteral("JQMHeaderToolbar"),  QStringLiteral("JQMFooterToolbar"),  QStringLiteral("JQMSimplePopup"),
            QStringLiteral("KRLabel"),           QStringLiteral("KRButton"),          QStringLiteral("KRTextbox"),
            QStringLiteral("KRTextArea"),        QStringLiteral("KRCheckbox"),        QStringLiteral("KRRadioButton"),
            QStringLiteral("KRSelect"),          QStringLiteral("KRTable"),           QStringLiteral("KRImage"),
            QStringLiteral("KRDiv"),             QStringLiteral("KRPhotoSwipe"),      QStringLiteral("KRCanvas"),
            QStringLiteral("KRTimer"),           QStringLiteral("KRFunction"),        QStringLiteral("KRStyleClass")};
}

int KRPaletteModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_classes.size());
}

QVariant KRPaletteModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_classes.size())
        return {};
    const QString &className = m_classes[index.row()];
    const KRObjectInfo &info = KRObjectInfo::sharedInstance();
    switch (role) {
    case Qt::DisplayRole:
    case ClassNameRole:
        return className;
    case Qt::DecorationRole:
        return info.objectIcon(className);
    case DescriptionRole:
    case Qt::ToolTipRole:
        return info.objectDescription(className);
    case HelpRole:
        return info.objectHelpHTML(className);
    default:
        return {};
    }
}

Qt::ItemFlags KRPaletteModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled : Qt::NoItemFlags;
}

QStringList KRPaletteModel::mimeTypes() const
{
    return {KRPaletteMimeType};
}

QMimeData *KRPaletteModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty() || !indexes.first().isValid())
        return nullptr;
    const QString className = m_classes.value(indexes.first().row());
    emit willDragObject(className);
    auto *data = new QMimeData;
    data->setData(KRPaletteMimeType, className.toUtf8());
    return data;
}

// The list starts drags with the row's icon at 32 × 32 as the picture.
class KRPaletteListView : public QListView
{
public:
    using QListView::QListView;

protected:
    void startDrag(Qt::DropActions) override
    {
        const QModelIndexList indexes = selectedIndexes();
        QMimeData *data = indexes.isEmpty() ? nullptr : model()->mimeData(indexes);
        if (!data)
            return;
        auto *drag = new QDrag(this);
        drag->setMimeData(data);
        const QImage icon = indexes.first().data(Qt::DecorationRole).value<QImage>();
        if (!icon.isNull())
            drag->setPixmap(QPixmap::fromImage(icon.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        drag->exec(Qt::CopyAction);
    }
};

KRPalettePane::KRPalettePane(KRUserDefaults &defaults, QWidget *parent)
    : QWidget(parent), m_defaults(defaults), m_model(new KRPaletteModel(this))
{
    auto *header = new KRPaneHeaderView(this);
    header->setLabelText(QStringLiteral("Object Palette"));
    m_list = new KRPaletteListView(this);
    m_list->setAccessibleName(QStringLiteral("Object Palette"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new KRPaletteRowDelegate(this, m_list));
    m_list->setDragEnabled(true);
    m_list->setDragDropMode(QAbstractItemView::DragOnly);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(m_list, 1);
    addPluginProblems(layout);

    connect(m_model, &KRPaletteModel::willDragObject, this, &KRPalettePane::willDragObject);

    // Each row has its help button; the rows learn where the pointer is from the list, which
    // takes the mouse everywhere but on the buttons.
    QWidget *viewport = m_list->viewport();
    for (int row = 0; row < m_model->rowCount(); ++row) {
        auto *object = new KRPaletteObjectViewController(viewport, this);
        object->setKrClassName(m_model->classNames().value(row));
        m_paletteObjects.append(object);
        m_list->setIndexWidget(m_model->index(row), object->view());
    }
    viewport->setMouseTracking(true);
    viewport->installEventFilter(this);
    for (KRPaletteObjectViewController *object : std::as_const(m_paletteObjects))
        object->helpButton()->installEventFilter(this);
    setCompactMode(m_defaults.boolValue(KRPaletteCompactKey));
    connect(&m_defaults, &KRUserDefaults::valueChanged, this, [this](const QString &key) {
        if (key == KRPaletteCompactKey)
            setCompactMode(m_defaults.boolValue(KRPaletteCompactKey));
    });
}

// Plug-ins of the plug-ins folder that were not loaded, or not all their classes, are named
// under the list with why, so that a class missing from it does not go unexplained. Their
// names and words come from the plug-in: shown as plain text, each line cut short.
void KRPalettePane::addPluginProblems(QVBoxLayout *layout)
{
    const QStringList problems = KRPluginLoader::pluginsFolderProblems();
    if (problems.isEmpty())
        return;
    constexpr qsizetype shown = 5;
    QStringList lines{problems.size() == 1
                          ? QStringLiteral("Not loaded from the plug-ins folder:")
                          : QStringLiteral("Not loaded from the plug-ins folder (%1):").arg(problems.size())};
    for (const QString &problem : problems.mid(0, shown))
        lines.append(problem.size() > 300 ? problem.left(300) + QChar(0x2026) : problem);
    if (problems.size() > shown)
        lines.append(QStringLiteral("and %1 more, which the run log names").arg(problems.size() - shown));
    m_pluginProblems = new QLabel(lines.join(QLatin1Char('\n')), this);
    m_pluginProblems->setObjectName(QStringLiteral("pluginProblems"));
    m_pluginProblems->setTextFormat(Qt::PlainText);
    m_pluginProblems->setWordWrap(true);
    m_pluginProblems->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pluginProblems->setContentsMargins(6, 4, 6, 4);
    QFont font = m_pluginProblems->font();
    font.setPixelSize(11);
    m_pluginProblems->setFont(font);
    m_pluginProblems->setStyleSheet(QStringLiteral("QLabel { background: #fff4d6; color: #5a3d00; "
                                                   "border-top: 1px solid #d9b24c; }"));
    layout->addWidget(m_pluginProblems);
}

void KRPalettePane::setCompactMode(bool compact)
{
    if (compact == m_compact)
        return;
    m_compact = compact;
    for (KRPaletteObjectViewController *object : std::as_const(m_paletteObjects))
        object->setCompactMode(compact);
    // A new layout asks the delegate for the row height again and moves the rows' views.
    m_list->doItemsLayout();
    m_list->viewport()->update();
}

bool KRPalettePane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list->viewport()) {
        if (event->type() == QEvent::MouseMove) {
            const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
            for (KRPaletteObjectViewController *object : std::as_const(m_paletteObjects))
                object->pointerMoved(pos);
        } else if (event->type() == QEvent::Leave) {
            pointerMaybeLeft();
        }
    } else if (event->type() == QEvent::Leave && qobject_cast<QToolButton *>(watched)) {
        pointerMaybeLeft();
    }
    return QWidget::eventFilter(watched, event);
}

void KRPalettePane::pointerMaybeLeft()
{
    // The list may be told of a leave when the pointer only moves onto a help button, and a
    // button of one when the pointer goes back to the rows; once the enters have been handed
    // out as well, whoever has the pointer decides.
    QTimer::singleShot(0, this, [this] {
        if (m_list->viewport()->underMouse())
            return;
        for (KRPaletteObjectViewController *object : std::as_const(m_paletteObjects))
            if (object->helpButton() && object->helpButton()->underMouse())
                return;
        for (KRPaletteObjectViewController *object : std::as_const(m_paletteObjects))
            object->pointerMoved(QPoint(), false);
    });
}

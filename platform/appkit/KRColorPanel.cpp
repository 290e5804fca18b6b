#include "KRColorPanel.h"

#include <QApplication>
#include <QColorDialog>
#include <QScreen>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QVBoxLayout>

#include <algorithm>

namespace {

KRColorPanel *g_sharedColorPanel = nullptr;
KRColorPanel::KeptVisibleArea g_keptVisibleArea;

void deleteShared()
{
    delete g_sharedColorPanel;
    g_sharedColorPanel = nullptr;
}

} // namespace

KRColorPanel &KRColorPanel::shared()
{
    if (!g_sharedColorPanel) {
        g_sharedColorPanel = new KRColorPanel;
        qAddPostRoutine(deleteShared);
    }
    return *g_sharedColorPanel;
}

QStringList KRColorPanel::htmlColorNames()
{
    QStringList names = QColor::colorNames();
    // The one name CSS added after the SVG list.
    if (!names.contains(QLatin1String("rebeccapurple"))) {
        names.append(QStringLiteral("rebeccapurple"));
        names.sort();
    }
    return names;
}

QColor KRColorPanel::htmlColor(const QString &name)
{
    if (name == QLatin1String("rebeccapurple"))
        return QColor(0x66, 0x33, 0x99);
    return QColor::fromString(name);
}

KRColorPanel::KRColorPanel(QWidget *parent)
    : QWidget(parent, Qt::Tool)
{
    setWindowTitle(tr("Colors"));

    m_dialog = new QColorDialog;
    m_dialog->setOptions(QColorDialog::NoButtons | QColorDialog::ShowAlphaChannel
                         | QColorDialog::DontUseNativeDialog);
    m_dialog->setWindowFlags(Qt::Widget);

    auto *listTitle = new QLabel(tr("HTML Colors"));
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("HTMLColors"));
    m_list->setUniformItemSizes(true);
    for (const QString &name : htmlColorNames()) {
        QPixmap swatch(12, 12);
        swatch.fill(htmlColor(name));
        auto *item = new QListWidgetItem(QIcon(swatch), name, m_list);
        item->setData(Qt::UserRole, htmlColor(name));
    }

    // Wide enough for the longest name beside its swatch and the scroll bar.
    int longest = 0;
    for (const QString &name : htmlColorNames())
        longest = std::max(longest, m_list->fontMetrics().horizontalAdvance(name));
    m_list->setMinimumWidth(longest + m_list->iconSize().width() + 48);

    auto *listColumn = new QVBoxLayout;
    listColumn->addWidget(listTitle);
    listColumn->addWidget(m_list);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_dialog, 1);
    layout->addLayout(listColumn);

    connect(m_dialog, &QColorDialog::currentColorChanged, this, [this](const QColor &color) {
        if (!m_target.isShowingQuietly())
            report(color);
    });
    connect(m_list, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        // Picking a name sets the chooser, which reports the colour.
        m_dialog->setCurrentColor(item->data(Qt::UserRole).value<QColor>());
    });
}

void KRColorPanel::setTarget(QObject *owner, std::function<void(const QColor &)> callback)
{
    disconnect(m_targetGone);
    m_target.set(owner, std::move(callback));
    if (owner)
        m_targetGone = connect(owner, &QObject::destroyed, this, [this] {
            m_target.clear();
            hide();
        });
}

void KRColorPanel::clearTarget()
{
    disconnect(m_targetGone);
    m_target.clear();
}

void KRColorPanel::setColor(const QColor &color)
{
    m_target.showQuietly([&] { m_dialog->setCurrentColor(color); });
}

QColor KRColorPanel::color() const
{
    return m_dialog->currentColor();
}

void KRColorPanel::orderFront()
{
    // Opened beside the window that asked for it (a window manager would put a window with no
    // place of its own in the screen's corner); where the user moved it, it stays after.
    QWidget *asker = QApplication::activeWindow();
    if (!isVisible() && asker && asker != this) {
        adjustSize();
        const QRect owner = asker->frameGeometry();
        QRect available = asker->screen() ? asker->screen()->availableGeometry() : QRect();
        if (available.isEmpty())
            available = owner;
        // Its frame, before it has one of its own, taken to be as the asker's.
        const QSize frame = asker->frameGeometry().size() - asker->geometry().size();
        const QSize size = frameGeometry().size().expandedTo(sizeHint() + frame);
        QPoint at(owner.right() + 1, owner.top());
        if (at.x() + size.width() > available.right() + 1)
            at.setX(owner.left() - size.width()); // on the left when the right has no room
        if (at.x() < available.left())
            at.setX(owner.right() + 1 - size.width()); // over the window's right edge
        const auto onScreen = [&](QPoint point) {
            point.setX(std::clamp(point.x(), available.left(),
                                  std::max(available.left(), available.right() + 1 - size.width())));
            point.setY(std::clamp(point.y(), available.top(),
                                  std::max(available.top(), available.bottom() + 1 - size.height())));
            return point;
        };
        at = onScreen(at);
        // Never over what is being coloured: beside it, on a side with room (right, left,
        // below, above), else where the least of it is covered.
        const QRect kept = g_keptVisibleArea ? g_keptVisibleArea(asker) : QRect();
        if (!kept.isEmpty() && QRect(at, size).intersects(kept)) {
            constexpr int gap = 12;
            const QPoint sides[] = {{kept.right() + 1 + gap, at.y()},
                                    {kept.left() - gap - size.width(), at.y()},
                                    {at.x(), kept.bottom() + 1 + gap},
                                    {at.x(), kept.top() - gap - size.height()}};
            qint64 leastCovered = -1;
            for (const QPoint &side : sides) {
                const QPoint placed = onScreen(side);
                const QRect covered = QRect(placed, size).intersected(kept);
                const qint64 area = covered.isEmpty() ? 0 : qint64(covered.width()) * covered.height();
                if (leastCovered < 0 || area < leastCovered) {
                    leastCovered = area;
                    at = placed;
                }
                if (area == 0)
                    break;
            }
        }
        move(at);
    }
    show();
    raise();
    activateWindow();
}

void KRColorPanel::setKeptVisibleArea(KeptVisibleArea area)
{
    g_keptVisibleArea = std::move(area);
}

void KRColorPanel::report(const QColor &color)
{
    emit colorPicked(color);
    m_target.report(color);
}

#include "TabBarTestSupport.h"

#include <QApplication>
#include <QTest>

#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

BarWindow::BarWindow(int width, const QString &style, bool fit) : window(std::make_unique<QWidget>())
{
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    bar = new TBTabBarControl;
    bar->setFixedHeight(22);
    tabView = new TBTabView;
    layout->addWidget(bar);
    layout->addWidget(tabView);
    bar->setTabView(tabView);
    bar->setDelegate(&delegate);
    bar->setPartnerView(tabView);
    bar->setStyleNamed(style);
    bar->setSizeCellsToFit(fit);
    window->resize(width, 80);
    window->show();
    QApplication::setActiveWindow(window.get());
    QTest::qWait(1);
}

void BarWindow::addTabs(const QStringList &titles)
{
    for (const QString &title : titles)
        tabView->addItem(title, title);
}

QStringList BarWindow::labels() const
{
    QStringList out;
    for (TBTabViewItem *item : tabView->items())
        out << item->label();
    return out;
}

QStringList BarWindow::visibleTitles() const
{
    QStringList out;
    for (TBTabBarCell *cell : bar->cells())
        if (!cell->isInOverflowMenu() && !cell->isPlaceholder())
            out << cell->stringValue();
    return out;
}

QPoint cellCentre(const TBTabBarCell *cell)
{
    return cell->frame().center().toPoint();
}

QPoint closeButtonCentre(const TBTabBarCell *cell)
{
    return cell->closeButtonRectForFrame(cell->frame()).center().toPoint();
}

QImage renderWidget(QWidget &widget)
{
    return KRTest::renderWidget(widget, {1, QColor(236, 236, 236)});
}

void screenshot(QWidget &widget, const QString &name)
{
    KRTest::saveScreenshot(widget, QStringLiteral("tabbar"), name, {2, QColor(236, 236, 236)});
}

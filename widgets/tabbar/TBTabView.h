#pragma once

// A stack of views, one per item, without tabs of its own: a tab bar draws the tabs over it.
// Items carry an identifier (the host's key for the tab), a label and a view.

#include <QPointer>
#include <QStackedWidget>
#include <QVariant>

#include <memory>
#include <optional>

class TBTabView;

class TBTabViewItem : public QObject
{
    Q_OBJECT
public:
    // Without a view the item gets an empty one.
    explicit TBTabViewItem(const QVariant &identifier = {}, const QString &label = {}, QWidget *view = nullptr);
    ~TBTabViewItem() override;

    QVariant identifier() const { return m_identifier; }
    void setIdentifier(const QVariant &identifier);
    QString label() const { return m_label; }
    void setLabel(const QString &label);
    QWidget *view() const { return m_view; }
    TBTabView *tabView() const { return m_tabView; }

signals:
    void labelChanged(const QString &label);
    void identifierChanged();

private:
    friend class TBTabView;
    QVariant m_identifier;
    QString m_label;
    QPointer<QWidget> m_view;
    TBTabView *m_tabView = nullptr;
};

// Every call is optional: an answer of nullopt means "not implemented".
class TBTabViewDelegate
{
public:
    virtual ~TBTabViewDelegate() = default;
    virtual std::optional<bool> tabViewShouldSelectItem(TBTabView *, TBTabViewItem *) { return std::nullopt; }
    virtual void tabViewWillSelectItem(TBTabView *, TBTabViewItem *) {}
    virtual void tabViewDidSelectItem(TBTabView *, TBTabViewItem *) {}
    virtual void tabViewDidChangeNumberOfItems(TBTabView *) {}
};

class TBTabView : public QStackedWidget
{
    Q_OBJECT
public:
    explicit TBTabView(QWidget *parent = nullptr);
    ~TBTabView() override;

    TBTabViewDelegate *delegate() const { return m_delegate; }
    void setDelegate(TBTabViewDelegate *delegate) { m_delegate = delegate; }

    int numberOfItems() const { return int(m_items.size()); }
    const QList<TBTabViewItem *> &items() const { return m_items; }
    TBTabViewItem *itemAt(int index) const;
    int indexOfItem(const TBTabViewItem *item) const;
    int indexOfItemWithIdentifier(const QVariant &identifier) const;
    TBTabViewItem *itemWithIdentifier(const QVariant &identifier) const;

    // The view owns its items. Adding to an empty view selects the new item.
    TBTabViewItem *addItem(std::unique_ptr<TBTabViewItem> item);
    TBTabViewItem *addItem(const QVariant &identifier, const QString &label, QWidget *view = nullptr);
    TBTabViewItem *insertItem(std::unique_ptr<TBTabViewItem> item, int index);
    // Hands the item (and its view) back to the caller. When it was selected, the item that
    // takes its place is selected, else the one before it.
    std::unique_ptr<TBTabViewItem> takeItem(TBTabViewItem *item);
    // Takes the item out and deletes it once control returns to the event loop.
    void removeItem(TBTabViewItem *item);

    TBTabViewItem *selectedItem() const { return m_selected; }
    void selectItem(TBTabViewItem *item);
    void selectItemAtIndex(int index) { selectItem(itemAt(index)); }
    bool selectItemWithIdentifier(const QVariant &identifier);

signals:
    void selectedItemChanged(TBTabViewItem *item);

private:
    void changeSelection(TBTabViewItem *item, bool ask);
    // Forgets the redraws the page and its widgets asked for (not those of windows among them).
    static void dropPendingRedraws(QWidget *page);

    QList<TBTabViewItem *> m_items;
    TBTabViewItem *m_selected = nullptr;
    TBTabViewDelegate *m_delegate = nullptr;
};

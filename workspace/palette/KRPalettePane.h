#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QListView>
#include <QStringList>
#include <QWidget>

class KRPaletteObjectViewController;
class QLabel;
class QVBoxLayout;
class KRUserDefaults;
class KRPaneHeaderView;

// The classes of the object palette, built-in ones first, then the catalogue's plug-ins. A
// dragged row carries its class name under the "KRObject" type; listeners hear of the class
// before the data is made (so they can show the right tab for it).
class KRPaletteModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { ClassNameRole = Qt::UserRole + 1, DescriptionRole, HelpRole };

    explicit KRPaletteModel(QObject *parent = nullptr);

    static QStringList builtInClasses();
    QStringList classNames() const { return m_classes; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

signals:
    void willDragObject(const QString &className) const;

private:
    QStringList m_classes;
};

// The "Object Palette" pane: one row per class with its icon, name, description and help button,
// 40 points high, or 28 without the description in compact mode, which follows the
// "compactObjectPalette" default while the pane lives.
class KRPalettePane : public QWidget
{
    Q_OBJECT

public:
    explicit KRPalettePane(KRUserDefaults &defaults, QWidget *parent = nullptr);

    KRPaletteModel *model() const { return m_model; }
    QListView *list() const { return m_list; }
    bool isCompact() const { return m_compact; }
    int rowHeight() const { return m_compact ? 28 : 40; }
    // The rows, in the model's order.
    const QList<KRPaletteObjectViewController *> &paletteObjects() const { return m_paletteObjects; }
    // The plug-ins of the plug-ins folder not loaded, and why, under the rows; null when
    // every one was.
    QLabel *pluginProblems() const { return m_pluginProblems; }

signals:
    void willDragObject(const QString &className);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addPluginProblems(QVBoxLayout *layout);
    void setCompactMode(bool compact);
    void pointerMaybeLeft();

    KRUserDefaults &m_defaults;
    KRPaletteModel *m_model;
    QListView *m_list;
    QList<KRPaletteObjectViewController *> m_paletteObjects;
    QLabel *m_pluginProblems = nullptr;
    bool m_compact = false;
};

#pragma once

#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>

#include <memory>
#include <vector>

class KRBinding;
class KRHelpButtonController;
class KRProject;
class KRProjectSettingsViewController;
class QAbstractButton;
class QLabel;
class QMimeData;
class QRadioButton;

// One include list's table: a single editable column whose rows are reordered by dragging them
// between other rows. Dragging and dropping ask the settings controller.
class KRProjectSettingsIncludeTable : public QTableWidget
{
public:
    KRProjectSettingsIncludeTable(KRProjectSettingsViewController &controller, QWidget *parent);
    // The row a drop at that viewport position lands above, and whether it falls onto a row
    // rather than between two.
    int dropRow(const QPoint &pos, bool *onRow) const;

protected:
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QList<QTableWidgetItem *> &items) const override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    KRProjectSettingsViewController &m_controller;
};

// The project's settings, edited in a pop-over from the project outline's header. Every change
// is written to the project at once (and is undoable there); the controls follow the project,
// undo included.
class KRProjectSettingsViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    // The pasteboard type of rows dragged within an include table.
    static inline const QString RowDataType = QStringLiteral("KRProjectSettingsViewController.rowData");

    enum class DropOperation { Above, On };

    KRProjectSettingsViewController();
    ~KRProjectSettingsViewController() override;

    QString nibName() const override { return QStringLiteral("KRProjectSettingsView"); }

    // The project whose settings are shown; setting it fills the controls from it.
    void setProject(const std::shared_ptr<KRProject> &project);
    std::shared_ptr<KRProject> project() const { return m_settingsProject.lock(); }

    // --- Outlets
    QComboBox *designTargetPopup() const { return m_designTargetPopup; }
    QComboBox *autoAdjustObjectsPopup() const { return m_autoAdjustObjectsPopup; }
    QComboBox *startPagePopup() const { return m_startPagePopup; }
    QComboBox *defaultThemePopup() const { return m_defaultThemePopup; }
    QComboBox *jqmVersionPopup() const { return m_jqmVersionPopup; }
    QComboBox *singlePageDeployPopup() const { return m_singlePageDeployPopup; }
    KRProjectSettingsIncludeTable *javascriptIncludesTableView() const { return m_javascriptTable; }
    KRProjectSettingsIncludeTable *cssIncludesTableView() const { return m_cssTable; }
    QPushButton *javascriptIncludesAddButton() const { return m_javascriptAddButton; }
    QPushButton *cssIncludesAddButton() const { return m_cssAddButton; }
    const std::vector<std::unique_ptr<KRHelpButtonController>> &helpButtonControllers() const
    {
        return m_helpButtonControllers;
    }

    // --- Actions
    void designTargetPopupChanged();
    void autoAdjustObjectsPopupChanged();
    void addJavascriptIncludeAction();
    void removeJavascriptIncludeAction();
    void addCssIncludeAction();
    void removeCssIncludeAction();

    // --- The include tables' data source
    int numberOfRows(const QTableWidget *table) const;
    QString objectValue(const QTableWidget *table, int row) const;
    void setObjectValue(const QTableWidget *table, const QVariant &value, int row);
    // The dragged rows for the pasteboard (null when the table is none of ours).
    QMimeData *writeRows(const QTableWidget *table, const QList<int> &rows) const;
    bool validateDrop(const QTableWidget *table, const QMimeData *data, int row, DropOperation operation) const;
    bool acceptDrop(QTableWidget *table, const QMimeData *data, int row, DropOperation operation);

protected:
    void awakeFromNib() override;

private:
    QStringList includes(const QTableWidget *table) const;
    void setIncludes(const QTableWidget *table, const QStringList &list);
    void addInclude(QTableWidget *table, const QString &name);
    void removeInclude(QTableWidget *table);
    void reloadTable(QTableWidget *table);
    void fillDesignTargets();
    void fillPages();
    void fillThemes();
    void showAutoAdjust();
    void bindSettings();
    void makeHelpButtonControllers();

    std::weak_ptr<KRProject> m_settingsProject;
    QPointer<QComboBox> m_designTargetPopup;
    QPointer<QComboBox> m_autoAdjustObjectsPopup;
    QPointer<QComboBox> m_startPagePopup;
    QPointer<QComboBox> m_defaultThemePopup;
    QPointer<QComboBox> m_jqmVersionPopup;
    QPointer<QComboBox> m_singlePageDeployPopup;
    QPointer<KRProjectSettingsIncludeTable> m_javascriptTable;
    QPointer<KRProjectSettingsIncludeTable> m_cssTable;
    QPointer<QPushButton> m_javascriptAddButton;
    QPointer<QPushButton> m_cssAddButton;
    std::vector<std::unique_ptr<KRHelpButtonController>> m_helpButtonControllers;
    std::vector<std::unique_ptr<KRBinding>> m_bindings;
    std::vector<KRObservationToken> m_observations;
    bool m_reloading = false;
};

#include "KRProjectSettingsViewController.h"

#include <model/KRDeviceInformation.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/appkit/KRBinding.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRObservable.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QCheckBox>
#include <QDataStream>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Names of a setting's label, help button and help text: the rows of the form in order.
struct KRProjectSettingsRow
{
    const char *name;    // prefix of the outlets' names
    const char *title;   // the label
    const char *helpKey; // the catalogue's help entry
};

const KRProjectSettingsRow krProjectSettingsRows[] = {
    {"designTarget", "Design target:", "designTarget"},
    {"autoAdjustObjects", "Objects:", "autoAdjustObjects"},
    {"startPage", "Start page:", "startPage"},
    {"defaultTheme", "Default theme:", "defaultTheme"},
    {"homescreenIcon", "Home screen icon:", "homeScreenIconURL"},
    {"cacheManifest", "Cache manifest:", "generateCacheManifest"},
    {"sitemap", "Sitemap:", "sitemap"},
    {"ajaxPageLoading", "Page loading:", "ajaxPageLoading"},
    {"exportJQuery", "jQuery sources:", "exportJQuery"},
    {"singlePageDeploy", "Deploy:", "singlePageDeploy"},
    {"javascriptIncludes", "JavaScript includes:", "javascriptIncludes"},
    {"cssIncludes", "CSS includes:", "cssIncludes"},
};

QLabel *krProjectSettingsLabel(const QString &text, const QString &name, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QToolButton *krProjectSettingsHelpButton(const QString &name, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(QIcon(KRHelpButtonController::helpButtonImage()));
    button->setFixedSize(16, 16);
    return button;
}

template <typename Widget>
Widget *krProjectSettingsControl(const QString &name, QWidget *parent)
{
    auto *widget = new Widget(parent);
    widget->setObjectName(name);
    return widget;
}

// The form: a label, a control and a help button per row; the include lists with their add
// and remove buttons at the bottom.
QWidget *krProjectSettingsBuild(QObject *owner)
{
    auto *controller = qobject_cast<KRProjectSettingsViewController *>(owner);
    auto *root = new QWidget;
    QFont font = root->font();
    font.setPixelSize(12);
    root->setFont(font);
    auto *grid = new QGridLayout(root);
    grid->setContentsMargins(14, 14, 10, 14);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(7);
    grid->setColumnStretch(1, 1);

    int line = 0;
    auto place = [&](const KRProjectSettingsRow &row, QWidget *control, Qt::Alignment labelAlignment = {}) {
        QLabel *label = krProjectSettingsLabel(QString::fromLatin1(row.title), QString::fromLatin1(row.name) + "Label", root);
        if (labelAlignment)
            label->setAlignment(labelAlignment);
        // The label names its control for a screen reader (the pop-ups read only their value).
        if (control->focusPolicy() != Qt::NoFocus)
            label->setBuddy(control);
        grid->addWidget(label, line, 0, labelAlignment ? Qt::AlignTop : Qt::Alignment());
        grid->addWidget(control, line, 1);
        grid->addWidget(krProjectSettingsHelpButton(QString::fromLatin1(row.name) + "HelpButton", root), line, 2,
                        labelAlignment ? Qt::AlignTop : Qt::AlignVCenter);
        ++line;
    };

    place(krProjectSettingsRows[0], krProjectSettingsControl<QComboBox>(QStringLiteral("designTargetPopup"), root));
    place(krProjectSettingsRows[1], krProjectSettingsControl<QComboBox>(QStringLiteral("autoAdjustObjectsPopup"), root));
    place(krProjectSettingsRows[2], krProjectSettingsControl<QComboBox>(QStringLiteral("startPagePopup"), root));
    place(krProjectSettingsRows[3], krProjectSettingsControl<QComboBox>(QStringLiteral("defaultThemePopup"), root));

    // The version has no help of its own.
    QLabel *versionLabel =
        krProjectSettingsLabel(QStringLiteral("jQuery Mobile:"), QStringLiteral("jqmVersionLabel"), root);
    auto *versionPopup = krProjectSettingsControl<QComboBox>(QStringLiteral("jqmVersionPopup"), root);
    versionLabel->setBuddy(versionPopup);
    grid->addWidget(versionLabel, line, 0);
    grid->addWidget(versionPopup, line, 1);
    ++line;

    auto *icon = krProjectSettingsControl<QLineEdit>(QStringLiteral("homescreenIconField"), root);
    icon->setPlaceholderText(QStringLiteral("icon.png"));
    place(krProjectSettingsRows[4], icon);
    auto *manifest = krProjectSettingsControl<QCheckBox>(QStringLiteral("cacheManifestCheckBox"), root);
    manifest->setText(QStringLiteral("Generate a cache manifest"));
    place(krProjectSettingsRows[5], manifest);
    auto *sitemap = krProjectSettingsControl<QCheckBox>(QStringLiteral("sitemapCheckBox"), root);
    sitemap->setText(QStringLiteral("Generate sitemap.xml"));
    place(krProjectSettingsRows[6], sitemap);
    auto *ajax = krProjectSettingsControl<QCheckBox>(QStringLiteral("ajaxPageLoadingCheckBox"), root);
    ajax->setText(QStringLiteral("Load pages with AJAX"));
    place(krProjectSettingsRows[7], ajax);

    auto *radioGroup = krProjectSettingsControl<QWidget>(QStringLiteral("exportJQueryRadioGroup"), root);
    auto *radios = new QVBoxLayout(radioGroup);
    radios->setContentsMargins(0, 0, 0, 0);
    radios->setSpacing(2);
    auto *hosted = krProjectSettingsControl<QRadioButton>(QStringLiteral("exportJQueryHostedRadio"), radioGroup);
    hosted->setText(QStringLiteral("Link to the hosted jQuery sources"));
    auto *local = krProjectSettingsControl<QRadioButton>(QStringLiteral("exportJQueryLocalRadio"), radioGroup);
    local->setText(QStringLiteral("Export local copies of the jQuery sources"));
    radios->addWidget(hosted);
    radios->addWidget(local);
    place(krProjectSettingsRows[8], radioGroup, Qt::AlignRight | Qt::AlignTop);
    place(krProjectSettingsRows[9], krProjectSettingsControl<QComboBox>(QStringLiteral("singlePageDeployPopup"), root));

    for (int i : {10, 11}) {
        const QString name = QString::fromLatin1(krProjectSettingsRows[i].name);
        auto *box = new QWidget(root);
        auto *column = new QVBoxLayout(box);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(3);
        auto *table = new KRProjectSettingsIncludeTable(*controller, box);
        table->setObjectName(name + "TableView");
        table->setFixedHeight(78);
        column->addWidget(table);
        auto *buttons = new QHBoxLayout;
        buttons->setSpacing(4);
        auto *add = krProjectSettingsControl<QPushButton>(name + "AddButton", box);
        add->setText(QStringLiteral("+"));
        add->setFixedSize(26, 20);
        auto *remove = krProjectSettingsControl<QPushButton>(name + "RemoveButton", box);
        remove->setText(QStringLiteral("\u2212"));
        remove->setFixedSize(26, 20);
        buttons->addWidget(add);
        buttons->addWidget(remove);
        buttons->addStretch(1);
        column->addLayout(buttons);
        place(krProjectSettingsRows[i], box, Qt::AlignRight | Qt::AlignTop);
    }
    root->setFixedWidth(460);
    return root;
}

// The dragged rows when they come from that table (rows move within their own list only).
QList<int> krProjectSettingsRowsFromData(const QMimeData *data, const QTableWidget *table)
{
    QList<int> rows;
    QString source;
    if (!data || !table || !data->hasFormat(KRProjectSettingsViewController::RowDataType))
        return rows;
    QDataStream stream(data->data(KRProjectSettingsViewController::RowDataType));
    stream >> source >> rows;
    if (stream.status() != QDataStream::Ok || source != table->objectName())
        return {};
    return rows;
}

} // namespace

// --- The include table

KRProjectSettingsIncludeTable::KRProjectSettingsIncludeTable(KRProjectSettingsViewController &controller, QWidget *parent)
    : QTableWidget(0, 1, parent), m_controller(controller)
{
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(18);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(false);
    setAlternatingRowColors(true);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::SelectedClicked);
}

int KRProjectSettingsIncludeTable::dropRow(const QPoint &pos, bool *onRow) const
{
    const int row = rowAt(pos.y());
    *onRow = false;
    if (row < 0)
        return rowCount();
    const QRect r = visualRect(model()->index(row, 0));
    const int third = std::max(1, r.height() / 3);
    if (pos.y() < r.top() + third)
        return row;
    if (pos.y() >= r.bottom() + 1 - third)
        return row + 1;
    *onRow = true;
    return row;
}

QStringList KRProjectSettingsIncludeTable::mimeTypes() const
{
    return {KRProjectSettingsViewController::RowDataType};
}

QMimeData *KRProjectSettingsIncludeTable::mimeData(const QList<QTableWidgetItem *> &items) const
{
    QList<int> rows;
    for (const QTableWidgetItem *item : items)
        if (!rows.contains(item->row()))
            rows.append(item->row());
    std::sort(rows.begin(), rows.end());
    return m_controller.writeRows(this, rows);
}

void KRProjectSettingsIncludeTable::dragEnterEvent(QDragEnterEvent *event)
{
    if (!krProjectSettingsRowsFromData(event->mimeData(), this).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void KRProjectSettingsIncludeTable::dragMoveEvent(QDragMoveEvent *event)
{
    bool onRow = false;
    const int row = dropRow(event->position().toPoint(), &onRow);
    const auto operation = onRow ? KRProjectSettingsViewController::DropOperation::On
                                 : KRProjectSettingsViewController::DropOperation::Above;
    if (m_controller.validateDrop(this, event->mimeData(), row, operation))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KRProjectSettingsIncludeTable::dropEvent(QDropEvent *event)
{
    bool onRow = false;
    const int row = dropRow(event->position().toPoint(), &onRow);
    const auto operation = onRow ? KRProjectSettingsViewController::DropOperation::On
                                 : KRProjectSettingsViewController::DropOperation::Above;
    if (!m_controller.validateDrop(this, event->mimeData(), row, operation) ||
        !m_controller.acceptDrop(this, event->mimeData(), row, operation)) {
        event->ignore();
        return;
    }
    // The list already holds the new order: a move answer would have the view remove the
    // dragged rows once more.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// --- The controller

KRProjectSettingsViewController::KRProjectSettingsViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRProjectSettingsView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRProjectSettingsView"), krProjectSettingsBuild);
}

KRProjectSettingsViewController::~KRProjectSettingsViewController()
{
    m_observations.clear();
    m_bindings.clear();
    m_helpButtonControllers.clear();
}

void KRProjectSettingsViewController::awakeFromNib()
{
    QWidget *root = view();
    m_designTargetPopup = root->findChild<QComboBox *>(QStringLiteral("designTargetPopup"));
    m_autoAdjustObjectsPopup = root->findChild<QComboBox *>(QStringLiteral("autoAdjustObjectsPopup"));
    m_startPagePopup = root->findChild<QComboBox *>(QStringLiteral("startPagePopup"));
    m_defaultThemePopup = root->findChild<QComboBox *>(QStringLiteral("defaultThemePopup"));
    m_jqmVersionPopup = root->findChild<QComboBox *>(QStringLiteral("jqmVersionPopup"));
    m_singlePageDeployPopup = root->findChild<QComboBox *>(QStringLiteral("singlePageDeployPopup"));
    m_javascriptTable = root->findChild<KRProjectSettingsIncludeTable *>(QStringLiteral("javascriptIncludesTableView"));
    m_cssTable = root->findChild<KRProjectSettingsIncludeTable *>(QStringLiteral("cssIncludesTableView"));
    m_javascriptAddButton = root->findChild<QPushButton *>(QStringLiteral("javascriptIncludesAddButton"));
    m_cssAddButton = root->findChild<QPushButton *>(QStringLiteral("cssIncludesAddButton"));

    m_autoAdjustObjectsPopup->addItem(QStringLiteral("Fixed, regardless of device"), QStringLiteral("fixed"));
    m_autoAdjustObjectsPopup->addItem(QStringLiteral("Customized for each device type"), QStringLiteral("automatic"));
    // Only the shipped release is offered. A project that names another (or none) shows no
    // entry, and keeps what it names until the user picks the shipped one.
    m_jqmVersionPopup->addItem(QStringLiteral("Version %1").arg(KRProject::shippedJQMVersion()), KRProject::shippedJQMVersion());
    m_jqmVersionPopup->setPlaceholderText(QStringLiteral("Not shipped: runs on %1").arg(KRProject::shippedJQMVersion()));
    m_singlePageDeployPopup->addItem(QStringLiteral("A file for each page"), false);
    m_singlePageDeployPopup->addItem(QStringLiteral("All pages in one file"), true);

    connect(m_designTargetPopup, &QComboBox::activated, this, [this] { designTargetPopupChanged(); });
    connect(m_autoAdjustObjectsPopup, &QComboBox::activated, this, [this] { autoAdjustObjectsPopupChanged(); });
    connect(m_javascriptAddButton, &QPushButton::clicked, this, [this] { addJavascriptIncludeAction(); });
    connect(m_cssAddButton, &QPushButton::clicked, this, [this] { addCssIncludeAction(); });
    connect(root->findChild<QPushButton *>(QStringLiteral("javascriptIncludesRemoveButton")), &QPushButton::clicked, this,
            [this] { removeJavascriptIncludeAction(); });
    connect(root->findChild<QPushButton *>(QStringLiteral("cssIncludesRemoveButton")), &QPushButton::clicked, this,
            [this] { removeCssIncludeAction(); });
    for (KRProjectSettingsIncludeTable *table : {m_javascriptTable.data(), m_cssTable.data()}) {
        connect(table, &QTableWidget::itemChanged, this, [this, table](QTableWidgetItem *item) {
            if (m_reloading)
                return;
            // The table is refilled after the editor has let go of the item.
            const int row = item->row();
            const QString text = item->text();
            QTimer::singleShot(0, this, [this, table, row, text] { setObjectValue(table, text, row); });
        });
    }
    makeHelpButtonControllers();
}

void KRProjectSettingsViewController::makeHelpButtonControllers()
{
    QWidget *root = view();
    for (const KRProjectSettingsRow &row : krProjectSettingsRows) {
        const QString name = QString::fromLatin1(row.name);
        auto *button = root->findChild<QAbstractButton *>(name + "HelpButton");
        QList<QWidget *> controls{root->findChild<QWidget *>(name + "Label"), button};
        if (name.endsWith(QLatin1String("Includes")))
            controls << root->findChild<QWidget *>(name + "AddButton");
        if (name == QLatin1String("exportJQuery"))
            controls << root->findChild<QWidget *>(QStringLiteral("exportJQueryRadioGroup"));
        const QString helpKey = QString::fromLatin1(row.helpKey);
        m_helpButtonControllers.push_back(std::make_unique<KRHelpButtonController>(
            root, QRect(), button, controls, KRPopover::RightEdge,
            [helpKey] { return KRObjectInfo::sharedInstance().otherHelpHTML(helpKey); }));
    }
}

void KRProjectSettingsViewController::setProject(const std::shared_ptr<KRProject> &project)
{
    m_observations.clear();
    m_bindings.clear();
    m_settingsProject = project;
    KRCachingViewController::setProject(project);
    if (!project)
        return;
    fillDesignTargets();
    showAutoAdjust();
    fillPages();
    fillThemes();
    reloadTable(m_javascriptTable);
    reloadTable(m_cssTable);
    bindSettings();

    KRObservable &settings = project->observable();
    auto follow = [this](void (KRProjectSettingsViewController::*refresh)()) {
        return [this, refresh](const void *, const QString &, const QVariant &, const QVariant &) { (this->*refresh)(); };
    };
    m_observations.push_back(settings.observe(QStringLiteral("designTarget"), follow(&KRProjectSettingsViewController::fillDesignTargets)));
    m_observations.push_back(settings.observe(QStringLiteral("autoAdjustObjects"), follow(&KRProjectSettingsViewController::showAutoAdjust)));
    m_observations.push_back(settings.observe(QStringLiteral("javascriptIncludes"),
                                              [this](const void *, const QString &, const QVariant &, const QVariant &) {
                                                  reloadTable(m_javascriptTable);
                                              }));
    m_observations.push_back(settings.observe(QStringLiteral("cssIncludes"),
                                              [this](const void *, const QString &, const QVariant &, const QVariant &) {
                                                  reloadTable(m_cssTable);
                                              }));
}

void KRProjectSettingsViewController::fillDesignTargets()
{
    const auto p = project();
    if (!p || !m_designTargetPopup)
        return;
    const QSignalBlocker blocker(m_designTargetPopup);
    m_designTargetPopup->clear();
    const auto devices = KRObjectInfo::sharedInstance().deviceInformation();
    for (const auto &device : devices.allValues()) {
        if (!device || device->name == QLatin1String("Design View"))
            continue;
        m_designTargetPopup->addItem(device->name, device->deviceID);
    }
    m_designTargetPopup->setCurrentIndex(m_designTargetPopup->findData(p->designTarget()));
}

void KRProjectSettingsViewController::showAutoAdjust()
{
    const auto p = project();
    if (!p || !m_autoAdjustObjectsPopup)
        return;
    const QSignalBlocker blocker(m_autoAdjustObjectsPopup);
    m_autoAdjustObjectsPopup->setCurrentIndex(p->autoAdjustObjects() ? 1 : 0);
}

void KRProjectSettingsViewController::fillPages()
{
    const auto p = project();
    const QSignalBlocker blocker(m_startPagePopup);
    m_startPagePopup->clear();
    for (const auto &page : p->sortedPages())
        m_startPagePopup->addItem(page->kr_id(), page->kr_id());
}

void KRProjectSettingsViewController::fillThemes()
{
    const auto p = project();
    const QSignalBlocker blocker(m_defaultThemePopup);
    m_defaultThemePopup->clear();
    m_defaultThemePopup->addItem(QStringLiteral("(default)"), QString());
    for (const QString &theme : p->themes())
        m_defaultThemePopup->addItem(theme, theme);
}

void KRProjectSettingsViewController::bindSettings()
{
    const auto p = project();
    const std::weak_ptr<KRProject> weak = p;
    QWidget *root = view();
    // A setting read and written through the project's typed accessors; a write of the value
    // already there records nothing.
    auto model = [&](const QString &key, std::function<QVariant(KRProject &)> get,
                     std::function<void(KRProject &, const QVariant &)> set) {
        return KRBinding::observable(
            p->observable(), key,
            [weak, get] {
                const auto project = weak.lock();
                return project ? get(*project) : QVariant();
            },
            [weak, get, set](const QVariant &value) {
                const auto project = weak.lock();
                if (project && get(*project) != value)
                    set(*project, value);
            });
    };
    auto bind = [&](QWidget *widget, KRBinding::Model m, const QByteArray &property = {}) {
        m_bindings.push_back(std::make_unique<KRBinding>(widget, std::move(m), property));
        return m_bindings.back().get();
    };
    // A pop-up whose items carry the stored values.
    auto bindPopup = [&](QComboBox *popUp, KRBinding::Model m) {
        KRBinding *binding = bind(popUp, std::move(m), "currentIndex");
        QPointer<QComboBox> guard(popUp);
        binding->setTransformer(
            [guard](const QVariant &value) -> std::optional<QVariant> {
                if (!guard)
                    return std::nullopt;
                for (int i = 0; i < guard->count(); ++i)
                    if (guard->itemData(i) == value)
                        return i;
                return -1;
            },
            [guard](const QVariant &index) -> std::optional<QVariant> {
                if (!guard || index.toInt() < 0)
                    return std::nullopt;
                return guard->itemData(index.toInt());
            });
        binding->refresh();
    };

    bindPopup(m_startPagePopup,
              model(QStringLiteral("startPage"), [](KRProject &x) { return QVariant(x.startPage()); },
                    [](KRProject &x, const QVariant &v) { x.setStartPage(v.toString()); }));
    bindPopup(m_defaultThemePopup,
              model(QStringLiteral("defaultTheme"), [](KRProject &x) { return QVariant(x.defaultTheme()); },
                    [](KRProject &x, const QVariant &v) { x.setDefaultTheme(v.toString()); }));
    bindPopup(m_jqmVersionPopup,
              model(QStringLiteral("JQMVersion"), [](KRProject &x) { return QVariant(x.JQMVersion()); },
                    [](KRProject &x, const QVariant &v) { x.setJQMVersion(v.toString()); }));
    bindPopup(m_singlePageDeployPopup,
              model(QStringLiteral("singlePageDeploy"), [](KRProject &x) { return QVariant(x.singlePageDeploy()); },
                    [](KRProject &x, const QVariant &v) { x.setSinglePageDeploy(v.toBool()); }));
    bind(root->findChild<QLineEdit *>(QStringLiteral("homescreenIconField")),
         model(QStringLiteral("appleTouchIcon"), [](KRProject &x) { return QVariant(x.appleTouchIcon()); },
               [](KRProject &x, const QVariant &v) { x.setAppleTouchIcon(v.toString()); }));
    bind(root->findChild<QCheckBox *>(QStringLiteral("cacheManifestCheckBox")),
         model(QStringLiteral("generateManifest"), [](KRProject &x) { return QVariant(x.generateManifest()); },
               [](KRProject &x, const QVariant &v) { x.setGenerateManifest(v.toBool()); }));
    bind(root->findChild<QCheckBox *>(QStringLiteral("sitemapCheckBox")),
         model(QStringLiteral("sitemap"), [](KRProject &x) { return QVariant(x.sitemap()); },
               [](KRProject &x, const QVariant &v) { x.setSitemap(v.toBool()); }));
    bind(root->findChild<QCheckBox *>(QStringLiteral("ajaxPageLoadingCheckBox")),
         model(QStringLiteral("ajaxPageLoading"), [](KRProject &x) { return QVariant(x.ajaxPageLoading()); },
               [](KRProject &x, const QVariant &v) { x.setAjaxPageLoading(v.toBool()); }));
    // The two choices of the radio group: each button shows one side of the setting.
    auto exportModel = [&] {
        return model(QStringLiteral("exportLocalJQuerySources"),
                     [](KRProject &x) { return QVariant(x.exportLocalJQuerySources()); },
                     [](KRProject &x, const QVariant &v) { x.setExportLocalJQuerySources(v.toBool()); });
    };
    bind(root->findChild<QRadioButton *>(QStringLiteral("exportJQueryLocalRadio")), exportModel());
    KRBinding *hosted = bind(root->findChild<QRadioButton *>(QStringLiteral("exportJQueryHostedRadio")), exportModel());
    const auto negate = [](const QVariant &v) -> std::optional<QVariant> { return !v.toBool(); };
    hosted->setTransformer(negate, negate);
    hosted->refresh();
}

// --- Design target and objects per device

void KRProjectSettingsViewController::designTargetPopupChanged()
{
    const auto p = project();
    const QString device = m_designTargetPopup->currentData().toString();
    if (p && !device.isEmpty() && device != p->designTarget())
        p->setDesignTarget(device);
}

void KRProjectSettingsViewController::autoAdjustObjectsPopupChanged()
{
    const auto p = project();
    if (!p)
        return;
    const bool automatic = m_autoAdjustObjectsPopup->currentData().toString() == QLatin1String("automatic");
    if (p->autoAdjustObjects() && !automatic) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Switch to fixed objects?");
        alert.informativeText = QStringLiteral("Switching to fixed objects will discard any per-device customizations "
                                               "you've made to your project's design.");
        alert.buttonTitles = {QStringLiteral("Discard Customizations"), QStringLiteral("Cancel")};
        alert.destructive = true;
        // The alert runs an event loop. The pop-over holding this pane stays open and alive while
        // it is up, but the pane is checked again before it is touched; the answer is applied to
        // the project (held here) either way.
        const QPointer<KRProjectSettingsViewController> alive(this);
        if (KRAlertService::current().runModal(alert) != KRAlertService::FirstButtonReturn) {
            if (alive && m_autoAdjustObjectsPopup) {
                const QSignalBlocker blocker(m_autoAdjustObjectsPopup);
                m_autoAdjustObjectsPopup->setCurrentIndex(1);
            }
            return;
        }
    }
    if (automatic != p->autoAdjustObjects())
        p->setAutoAdjustObjects(automatic);
}

// --- Include lists

QStringList KRProjectSettingsViewController::includes(const QTableWidget *table) const
{
    const auto p = project();
    if (!p)
        return {};
    if (table == m_javascriptTable)
        return p->javascriptIncludes();
    if (table == m_cssTable)
        return p->cssIncludes();
    return {};
}

void KRProjectSettingsViewController::setIncludes(const QTableWidget *table, const QStringList &list)
{
    const auto p = project();
    if (!p)
        return;
    if (table == m_javascriptTable)
        p->setJavascriptIncludes(list);
    else if (table == m_cssTable)
        p->setCssIncludes(list);
    reloadTable(const_cast<QTableWidget *>(table));
}

void KRProjectSettingsViewController::reloadTable(QTableWidget *table)
{
    if (!table)
        return;
    m_reloading = true;
    const int rows = numberOfRows(table);
    table->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        QTableWidgetItem *item = table->item(row, 0);
        if (!item) {
            item = new QTableWidgetItem;
            table->setItem(row, 0, item);
        }
        item->setText(objectValue(table, row));
    }
    m_reloading = false;
}

void KRProjectSettingsViewController::addInclude(QTableWidget *table, const QString &name)
{
    QStringList list = includes(table);
    list.append(name);
    setIncludes(table, list);
    const int row = int(includes(table).indexOf(name));
    if (row < 0)
        return;
    table->setFocus();
    table->setCurrentCell(row, 0);
    table->editItem(table->item(row, 0));
    if (auto *editor = table->viewport()->findChild<QLineEdit *>())
        editor->selectAll();
}

void KRProjectSettingsViewController::removeInclude(QTableWidget *table)
{
    const QList<QTableWidgetItem *> selected = table->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = selected.first()->row();
    QStringList list = includes(table);
    if (row < 0 || row >= list.size())
        return;
    list.removeAt(row);
    setIncludes(table, list);
}

void KRProjectSettingsViewController::addJavascriptIncludeAction()
{
    addInclude(m_javascriptTable, QStringLiteral("javascript.js"));
}

void KRProjectSettingsViewController::removeJavascriptIncludeAction()
{
    removeInclude(m_javascriptTable);
}

void KRProjectSettingsViewController::addCssIncludeAction()
{
    addInclude(m_cssTable, QStringLiteral("style.css"));
}

void KRProjectSettingsViewController::removeCssIncludeAction()
{
    removeInclude(m_cssTable);
}

int KRProjectSettingsViewController::numberOfRows(const QTableWidget *table) const
{
    return int(includes(table).size());
}

QString KRProjectSettingsViewController::objectValue(const QTableWidget *table, int row) const
{
    return includes(table).value(row);
}

void KRProjectSettingsViewController::setObjectValue(const QTableWidget *table, const QVariant &value, int row)
{
    QStringList list = includes(table);
    if (row < 0 || row >= list.size())
        return;
    const bool isText = value.typeId() == QMetaType::QString;
    if (isText && !value.toString().isEmpty()) {
        if (list.at(row) == value.toString())
            return;
        list[row] = value.toString();
    } else {
        list.removeAt(row);
    }
    setIncludes(table, list);
}

QMimeData *KRProjectSettingsViewController::writeRows(const QTableWidget *table, const QList<int> &rows) const
{
    if (table != m_javascriptTable && table != m_cssTable)
        return nullptr;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << table->objectName() << rows;
    auto *data = new QMimeData;
    data->setData(RowDataType, bytes);
    return data;
}

bool KRProjectSettingsViewController::validateDrop(const QTableWidget *table, const QMimeData *data, int row,
                                                   DropOperation operation) const
{
    Q_UNUSED(row);
    return (table == m_javascriptTable || table == m_cssTable) && operation == DropOperation::Above &&
           !krProjectSettingsRowsFromData(data, table).isEmpty();
}

bool KRProjectSettingsViewController::acceptDrop(QTableWidget *table, const QMimeData *data, int row, DropOperation operation)
{
    if (!validateDrop(table, data, row, operation))
        return false;
    QStringList list = includes(table);
    const int from = krProjectSettingsRowsFromData(data, table).first();
    if (from < 0 || from >= list.size() || row < 0 || row > list.size())
        return false;
    if (from >= row) {
        const QString moved = list.takeAt(from);
        list.insert(row, moved);
    } else {
        // Lands just above the row it was dropped above.
        list.insert(row, list.at(from));
        list.removeAt(from);
    }
    setIncludes(table, list);
    return true;
}

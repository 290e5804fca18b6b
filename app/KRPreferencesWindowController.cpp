#include "KRPreferencesWindowController.h"

#include "KRApplicationDefaults.h"
#include "KRApplicationDelegate.h"

#include <core/KRPasswordValueTransformer.h>
#include <core/KRRunLogger.h>
#include <ui/KRMainMenu.h>
#include <model/KRObjectInfo.h>
#include <platform/appkit/KRBinding.h>
#include <platform/appkit/KRFontPanel.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString prefsBaseTitle = QStringLiteral("Preferences");

QWidget *prefsPane(const QString &label)
{
    auto *pane = new QWidget;
    pane->setObjectName(label);
    pane->setProperty("krPaneLabel", label);
    return pane;
}

} // namespace

KRPreferencesWindowController::KRPreferencesWindowController(QObject *parent)
    : KRPreferencesWindowController(KRUserDefaults::sharedInstance(), parent)
{
}

KRPreferencesWindowController::KRPreferencesWindowController(KRUserDefaults &defaults, QObject *parent)
    : KRWindowControllerBase(parent)
    , m_defaults(defaults)
{
    build();
}

KRPreferencesWindowController::~KRPreferencesWindowController()
{
    // The help buttons watch widgets of the window; they go first.
    qDeleteAll(m_helpButtonControllers);
}

QCheckBox *KRPreferencesWindowController::bindCheckBox(const QString &key, const QString &title)
{
    auto *box = new QCheckBox(title);
    box->setObjectName(key);
    m_bindings.append(new KRBinding(box, KRBinding::userDefault(m_defaults, key), {}, this));
    m_bindings.last()->setTransformer([](const QVariant &value) -> std::optional<QVariant> {
        const QString text = value.toString().toLower();
        return QVariant(value.typeId() == QMetaType::Bool ? value.toBool() : (text == QLatin1String("true") || text == QLatin1String("yes") || text.toInt() != 0));
    }, {});
    m_bindings.last()->refresh();
    checkBoxes.insert(key, box);
    return box;
}

QLayout *KRPreferencesWindowController::withHelpButton(QWidget *host, const QString &helpKey, QWidget *control)
{
    auto *button = new QToolButton(host);
    button->setObjectName(QStringLiteral("help-") + helpKey);
    button->setIcon(KRHelpButtonController::helpButtonImage());
    button->setAutoRaise(true);
    button->setFixedSize(18, 18);
    button->setToolTip(QStringLiteral("Help"));
    button->setAccessibleName(QStringLiteral("Help"));
    m_helpButtonControllers.append(new KRHelpButtonController(
        host, QRect(), button, {button, control}, KRPopover::RightEdge,
        [helpKey] { return KRObjectInfo::sharedInstance().otherHelpHTML(helpKey); }));
    // The button stands right after its control, on the control's row, so that the button shown
    // while the pointer rests on a setting is the one clicked, and shows that setting's help.
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(control);
    row->addWidget(button, 0, Qt::AlignVCenter);
    if (!qobject_cast<QLineEdit *>(control))
        row->addStretch(1);
    return row;
}

void KRPreferencesWindowController::build()
{
    auto *window = new QMainWindow;
    window->setObjectName(QStringLiteral("KRPreferencesWindow"));
    window->setWindowTitle(prefsBaseTitle);
    window->installEventFilter(this);
    setWindow(window);
    KRMainMenu::shared().createMenuBar(window);

    toolbar = new QToolBar(QObject::tr("Preference Panes"));
    toolbar->setObjectName(QStringLiteral("com.korvane.preferences.prefspanel.toolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    window->addToolBar(toolbar);
    tabView = new QStackedWidget;
    window->setCentralWidget(tabView);

    // General.
    QWidget *general = prefsPane(QStringLiteral("General"));
    auto *generalForm = new QFormLayout(general);
    QCheckBox *openLast = bindCheckBox(QStringLiteral("openLastProjectOnStartup"), QStringLiteral("Open the last project on start-up"));
    generalForm->addRow(QString(), openLast);
    designViewBackgroundPopup = new QComboBox;
    designViewBackgroundPopup->setObjectName(QStringLiteral("designViewBackground"));
    const OrderedDictionary<QString, QString> backgrounds = KRObjectInfo::sharedInstance().enumOptions(QStringLiteral("designViewBackgrounds"));
    for (const QString &key : backgrounds.allKeys())
        m_backgroundContents.append(QVariantMap{{QStringLiteral("value"), key}, {QStringLiteral("description"), backgrounds.objectForKey(key)}});
    std::stable_sort(m_backgroundContents.begin(), m_backgroundContents.end(), [](const QVariantMap &a, const QVariantMap &b) {
        return a.value(QStringLiteral("description")).toString() < b.value(QStringLiteral("description")).toString();
    });
    for (const QVariantMap &entry : m_backgroundContents)
        designViewBackgroundPopup->addItem(entry.value(QStringLiteral("description")).toString(), entry.value(QStringLiteral("value")));
    designViewBackgroundPopup->setCurrentIndex(std::max(0, designViewBackgroundPopup->findData(m_defaults.stringValue(QStringLiteral("designViewBackground")))));
    connect(designViewBackgroundPopup, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_backgroundContents.size())
            setDesignViewBackground(m_backgroundContents.at(index));
    });
    generalForm->addRow(QStringLiteral("Design background:"), designViewBackgroundPopup);
    editModesPopupMenu = new QComboBox;
    editModesPopupMenu->setObjectName(QStringLiteral("defaultDIVEditMode"));
    editModesPopupMenu->addItems({QStringLiteral("Markdown"), QStringLiteral("HTML")});
    editModesPopupMenu->setCurrentIndex(std::max(0, editModesPopupMenu->findText(m_defaults.stringValue(QStringLiteral("defaultDIVEditMode")))));
    connect(editModesPopupMenu, &QComboBox::activated, this, &KRPreferencesWindowController::editModePopupButtonAction);
    generalForm->addRow(QStringLiteral("Edit new content as:"), editModesPopupMenu);
    tabView->addWidget(general);

    // Editor.
    QWidget *editor = prefsPane(QStringLiteral("Editor"));
    auto *editorForm = new QFormLayout(editor);
    auto *fontRow = new QHBoxLayout;
    editorFontField = new QLineEdit;
    editorFontField->setObjectName(QStringLiteral("editorFontField"));
    editorFontField->setReadOnly(true);
    editorFontSelectButton = new QPushButton(QStringLiteral("Select…"));
    connect(editorFontSelectButton, &QPushButton::clicked, this, &KRPreferencesWindowController::editorFontButton);
    fontRow->addWidget(editorFontField, 1);
    fontRow->addWidget(editorFontSelectButton);
    editorForm->addRow(QStringLiteral("Editor font:"), fontRow);
    tabWidthField = new QSpinBox;
    tabWidthField->setObjectName(QStringLiteral("TabWidth"));
    tabWidthField->setRange(1, 16);
    m_bindings.append(new KRBinding(tabWidthField, KRBinding::userDefault(m_defaults, QStringLiteral("TabWidth")), {}, this));
    m_bindings.last()->setTransformer([](const QVariant &v) -> std::optional<QVariant> { return QVariant(v.toInt()); }, {});
    m_bindings.last()->refresh();
    editorForm->addRow(QStringLiteral("Tab width:"), tabWidthField);
    editorForm->addRow(QString(), bindCheckBox(QStringLiteral("AutocompleteSuggestAutomatically"), QStringLiteral("Suggest completions automatically")));
    editorForm->addRow(QString(), bindCheckBox(QStringLiteral("AutocompleteIncludeStandardWords"), QStringLiteral("Include standard words in completions")));
    editorForm->addRow(QString(), bindCheckBox(QStringLiteral("LineWrapNewDocuments"), QStringLiteral("Wrap lines")));
    editorForm->addRow(QString(), bindCheckBox(QStringLiteral("IndentNewLinesAutomatically"), QStringLiteral("Indent new lines automatically")));
    tabView->addWidget(editor);
    updateEditorFont();

    // JavaScript.
    QWidget *javaScript = prefsPane(QStringLiteral("JavaScript"));
    auto *jsLayout = new QVBoxLayout(javaScript);
    const QList<std::tuple<QString, QString, QString>> jsOptions{
        {QStringLiteral("JSCheckSyntax"), QStringLiteral("Check the syntax before building"), QStringLiteral("jsCheckSyntax")},
        {QStringLiteral("JSSyntaxOptionEqEqEq"), QStringLiteral("Require === and !== (eqeqeq)"), QStringLiteral("jsEqEqEq")},
        {QStringLiteral("JSSyntaxOptionBitwise"), QStringLiteral("Forbid bitwise operators (bitwise)"), QStringLiteral("jsBitwise")},
        {QStringLiteral("JSSyntaxOptionCurly"), QStringLiteral("Require braces around blocks (curly)"), QStringLiteral("jsCurly")},
        {QStringLiteral("JSSyntaxOptionLatedef"), QStringLiteral("Forbid use before definition (latedef)"), QStringLiteral("jsLatedef")},
        {QStringLiteral("JSSyntaxOptionPlusplus"), QStringLiteral("Forbid ++ and -- (plusplus)"), QStringLiteral("jsPlusplus")},
        {QStringLiteral("JSMinimize"), QStringLiteral("Minify the generated script"), QStringLiteral("jsMinimize")},
    };
    for (const auto &[key, title, help] : jsOptions)
        jsLayout->addLayout(withHelpButton(javaScript, help, bindCheckBox(key, title)));
    jsLayout->addStretch();
    tabView->addWidget(javaScript);

    // Devices.
    QWidget *devices = prefsPane(QStringLiteral("Devices"));
    auto *devicesLayout = new QVBoxLayout(devices);
    devicesTable = new QTableWidget(0, 4);
    devicesTable->setObjectName(QStringLiteral("devicesTable"));
    devicesTable->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Width"), QStringLiteral("Height")});
    devicesTable->horizontalHeader()->setStretchLastSection(true);
    devicesTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    devicesTable->setSelectionMode(QAbstractItemView::SingleSelection);
    devicesTable->verticalHeader()->setVisible(false);
    connect(devicesTable, &QTableWidget::cellChanged, this, &KRPreferencesWindowController::deviceCellChanged);
    devicesLayout->addWidget(devicesTable, 1);
    auto *deviceButtons = new QHBoxLayout;
    addDeviceButton = new QPushButton(QStringLiteral("+"));
    removeDeviceButton = new QPushButton(QStringLiteral("−"));
    addDeviceButton->setFixedWidth(32);
    removeDeviceButton->setFixedWidth(32);
    connect(addDeviceButton, &QPushButton::clicked, this, &KRPreferencesWindowController::addDeviceAction);
    connect(removeDeviceButton, &QPushButton::clicked, this, &KRPreferencesWindowController::removeDeviceAction);
    deviceButtons->addWidget(addDeviceButton);
    deviceButtons->addWidget(removeDeviceButton);
    deviceButtons->addStretch();
    devicesLayout->addLayout(deviceButtons);
    // Stored devices that cannot be read are said to be so where the user looks for them, and
    // in the run log, rather than shown as none.
    devicesNoticeLabel = new QLabel;
    devicesNoticeLabel->setObjectName(QStringLiteral("devicesNoticeLabel"));
    devicesNoticeLabel->setTextFormat(Qt::PlainText); // the reason may quote the settings
    devicesNoticeLabel->setWordWrap(true);
    devicesLayout->insertWidget(0, devicesNoticeLabel);
    const auto stored = KRUserDeviceInformation::readStoredDevices(m_defaults);
    if (stored) {
        m_devices = stored.value();
        devicesNoticeLabel->hide();
    } else {
        KR_LOG(QStringLiteral("The devices in the setting %1 of %2 could not be read. %3")
                   .arg(KRUserDeviceInformation::UserDevicesKey, m_defaults.filePath(), stored.error().message()));
        devicesNoticeLabel->setText(QStringLiteral("The devices stored in the settings could not be read. %1 Adding or "
                                                   "changing a device here replaces them.")
                                        .arg(stored.error().message().left(300)));
    }
    for (const auto &device : m_devices)
        device->delegate = this;
    reloadDevicesTable();
    tabView->addWidget(devices);

    // Hosting.
    QWidget *hosting = prefsPane(QStringLiteral("Hosting"));
    auto *hostingForm = new QFormLayout(hosting);
    useHostingButton = bindCheckBox(QStringLiteral("useHosting"), QStringLiteral("Publish to my hosting account"));
    hostingForm->addRow(QString(), withHelpButton(hosting, QStringLiteral("hosting"), useHostingButton));
    auto bindText = [this](const QString &key) {
        auto *field = new QLineEdit;
        field->setObjectName(key);
        m_bindings.append(new KRBinding(field, KRBinding::userDefault(m_defaults, key), {}, this));
        m_textBindings.append(m_bindings.last());
        return field;
    };
    hostingEmail = bindText(QStringLiteral("hostingEmail"));
    m_bindings.last()->refresh();
    hostingPassword = bindText(QStringLiteral("hostingPassword"));
    hostingPassword->setEchoMode(QLineEdit::Password);
    // Stored enciphered; the field shows the plain text.
    m_bindings.last()->setTransformer(
        [](const QVariant &stored) -> std::optional<QVariant> {
            const QString plain = KRPasswordValueTransformer().transformedValue(stored.toString());
            return QVariant(plain.isNull() ? QString() : plain);
        },
        [](const QVariant &plain) -> std::optional<QVariant> {
            const QString stored = KRPasswordValueTransformer().reverseTransformedValue(plain.toString());
            if (stored.isNull())
                return std::nullopt;
            return QVariant(stored);
        });
    m_bindings.last()->refresh();
    hostingDomain = bindText(QStringLiteral("hostingDomain"));
    m_bindings.last()->refresh();
    hostingForm->addRow(QStringLiteral("Email:"), withHelpButton(hosting, QStringLiteral("hostingEmail"), hostingEmail));
    hostingForm->addRow(QStringLiteral("Password:"), withHelpButton(hosting, QStringLiteral("hostingPassword"), hostingPassword));
    hostingForm->addRow(QStringLiteral("Domain:"), withHelpButton(hosting, QStringLiteral("hostingDomain"), hostingDomain));
    serviceAddressField = bindText(QStringLiteral("apiURL"));
    serviceAddressField->setPlaceholderText(QStringLiteral("None: no service is asked for anything"));
    m_bindings.last()->setValidator([](const QVariant &value, QString *message) {
        if (value.toString().isEmpty())
            return true; // no service
        const QUrl url(value.toString(), QUrl::StrictMode);
        if (url.isValid() && (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http")) && !url.host().isEmpty())
            return true;
        *message = QStringLiteral("The service address must be an http or https address, or empty for none.");
        return false;
    });
    m_bindings.last()->refresh();
    hostingForm->addRow(QStringLiteral("Service address:"), serviceAddressField);
    auto *accountButtons = new QHBoxLayout;
    createHostingButton = new QPushButton(QStringLiteral("Create Hosting Account…"));
    forgotPasswordButton = new QPushButton(QStringLiteral("Forgot Password"));
    connect(createHostingButton, &QPushButton::clicked, this, &KRPreferencesWindowController::createHostingAccountAction);
    connect(forgotPasswordButton, &QPushButton::clicked, this, &KRPreferencesWindowController::forgotPasswordAction);
    QLayout *createRow = withHelpButton(hosting, QStringLiteral("createHostingAccount"), createHostingButton);
    delete createRow->takeAt(createRow->count() - 1); // the stretch: the next button follows
    accountButtons->addLayout(createRow);
    accountButtons->addWidget(forgotPasswordButton);
    accountButtons->addStretch();
    hostingForm->addRow(QString(), accountButtons);
    // The password page belongs to the service: without a service address there is none.
    updateForgotPasswordButton();
    tabView->addWidget(hosting);
    for (const QString &key : {QStringLiteral("useHosting"), QStringLiteral("hostingEmail"), QStringLiteral("hostingPassword"),
                               QStringLiteral("hostingDomain")})
        m_hostingObservations.push_back(m_defaults.observe(key, [this](const QString &, const QVariant &) { m_hostingValuesDidChange = true; }));
    m_hostingObservations.push_back(m_defaults.observe(QStringLiteral("insecureSiteURL"), [this](const QString &, const QVariant &) {
        updateForgotPasswordButton();
    }));

    // The toolbar: one selectable item per pane.
    m_paneActions = new QActionGroup(this);
    m_paneActions->setExclusive(true);
    for (int index = 0; index < tabView->count(); ++index) {
        const QString label = tabView->widget(index)->property("krPaneLabel").toString();
        QAction *action = toolbar->addAction(label);
        action->setObjectName(label);
        action->setCheckable(true);
        action->setToolTip(label);
        m_paneActions->addAction(action);
        connect(action, &QAction::triggered, this, [this, label] { selectTabViewItemWithLabel(label); });
    }
    selectTabViewItemWithLabel(QStringLiteral("General"));
    window->resize(560, 420);
}

QStringList KRPreferencesWindowController::paneLabels() const
{
    QStringList labels;
    for (int index = 0; index < tabView->count(); ++index)
        labels.append(tabView->widget(index)->property("krPaneLabel").toString());
    return labels;
}

QString KRPreferencesWindowController::selectedPaneLabel() const
{
    return tabView->currentWidget() ? tabView->currentWidget()->property("krPaneLabel").toString() : QString();
}

void KRPreferencesWindowController::selectTabViewItemWithLabel(const QString &label)
{
    const int index = paneLabels().indexOf(label);
    if (index < 0)
        return;
    tabView->setCurrentIndex(index);
    m_paneActions->actions().at(index)->setChecked(true);
    window()->setWindowTitle(prefsBaseTitle + QStringLiteral(" : ") + label);
}

void KRPreferencesWindowController::editorFontButton()
{
    // The application's font panel reports each font picked until another target takes over.
    KRFontPanel &panel = KRFontPanel::shared();
    panel.setTarget(this, [this](const QFont &font) { changeFont(font); });
    panel.setPanelFont(KRApplicationDefaults::editorFont(m_defaults));
    panel.orderFront();
}

void KRPreferencesWindowController::changeFont(const QFont &chosen)
{
    QFont font = chosen;
    if (font.family().isEmpty()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(14);
    }
    // Sizes are kept in pixels, like every font of the application.
    if (font.pixelSize() <= 0)
        font.setPixelSize(std::max(1, qRound(font.pointSizeF() > 0 ? font.pointSizeF() : 13)));
    m_defaults.setValue(QStringLiteral("TextFont"), font.toString());
    updateEditorFont();
}

void KRPreferencesWindowController::updateEditorFont()
{
    const QFont font = KRApplicationDefaults::editorFont(m_defaults);
    editorFontField->setFont(font);
    editorFontField->setText(QStringLiteral("%1 %2").arg(font.family()).arg(font.pixelSize() > 0 ? font.pixelSize() : qRound(font.pointSizeF())));
}

QVariantMap KRPreferencesWindowController::designViewBackground() const
{
    const QString stored = m_defaults.stringValue(QStringLiteral("designViewBackground"));
    for (const QVariantMap &entry : m_backgroundContents) {
        if (entry.value(QStringLiteral("value")).toString() == stored)
            return entry;
    }
    return m_backgroundContents.isEmpty() ? QVariantMap() : m_backgroundContents.first();
}

void KRPreferencesWindowController::setDesignViewBackground(const QVariant &entry)
{
    if (entry.typeId() != QMetaType::QVariantMap)
        return;
    m_defaults.setValue(QStringLiteral("designViewBackground"), entry.toMap().value(QStringLiteral("value")).toString());
}

void KRPreferencesWindowController::editModePopupButtonAction()
{
    m_defaults.setValue(QStringLiteral("defaultDIVEditMode"), editModesPopupMenu->currentText());
}

void KRPreferencesWindowController::reloadDevicesTable()
{
    m_fillingDevices = true;
    devicesTable->setRowCount(int(m_devices.size()));
    for (int row = 0; row < m_devices.size(); ++row) {
        const auto &device = m_devices.at(row);
        devicesTable->setItem(row, 0, new QTableWidgetItem(device->deviceID));
        devicesTable->setItem(row, 1, new QTableWidgetItem(device->name));
        devicesTable->setItem(row, 2, new QTableWidgetItem(QString::number(device->width)));
        devicesTable->setItem(row, 3, new QTableWidgetItem(QString::number(device->height)));
    }
    m_fillingDevices = false;
}

void KRPreferencesWindowController::deviceCellChanged(int row, int column)
{
    if (m_fillingDevices || row < 0 || row >= m_devices.size())
        return;
    static const QStringList keys{QStringLiteral("deviceID"), QStringLiteral("name"), QStringLiteral("width"), QStringLiteral("height")};
    const QString text = devicesTable->item(row, column)->text();
    const auto &device = m_devices.at(row);
    bool applied = false;
    if (column >= 2) {
        bool ok = false;
        const int value = text.toInt(&ok);
        applied = ok && value > 0 && device->setValue(keys.at(column), value, m_defaults);
    } else if (column == 0) {
        const KRResult<void> valid = device->validateDeviceID(text, m_defaults);
        if (!valid) {
            KRAlert alert;
            alert.messageText = valid.error().message();
            KRAlertService::current().runModal(alert);
        } else {
            applied = device->setValue(keys.at(column), text, m_defaults);
        }
    } else {
        applied = device->setValue(keys.at(column), text, m_defaults);
    }
    if (!applied)
        QTimer::singleShot(0, this, &KRPreferencesWindowController::reloadDevicesTable); // back to the record
}

void KRPreferencesWindowController::addDeviceAction()
{
    auto device = std::make_shared<KRUserDeviceInformation>();
    device->name = QStringLiteral("Device");
    device->width = 320;
    device->height = 480;
    device->delegate = this;
    for (int n = 1; n <= 999; ++n) {
        const QString candidate = QStringLiteral("device%1").arg(n);
        if (std::none_of(m_devices.begin(), m_devices.end(), [&](const auto &d) { return d->deviceID == candidate; })) {
            device->deviceID = candidate;
            break;
        }
    }
    m_devices.append(device);
    reloadDevicesTable();
    devicesTable->selectRow(int(m_devices.size()) - 1);
    // Stored at once: a device the user added is not lost when the window closes next.
    saveUserDevices();
}

void KRPreferencesWindowController::removeDeviceAction()
{
    if (!m_defaults.boolValue(QStringLiteral("suppressRemoveUserDeviceAlert"))) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Remove Device?");
        alert.informativeText = QStringLiteral("Use caution when removing devices.  This can have adverse effects if you've "
                                               "already created projects using this device.");
        alert.buttonTitles = {QStringLiteral("Remove Device"), QStringLiteral("Keep Device")};
        alert.destructive = true;
        alert.suppressionButtonTitle = QStringLiteral("Do not show this message again");
        const int answer = KRAlertService::current().runModal(alert);
        if (*alert.suppressionButtonChecked)
            m_defaults.setValue(QStringLiteral("suppressRemoveUserDeviceAlert"), true);
        if (answer != KRAlertService::FirstButtonReturn)
            return;
    }
    const int row = devicesTable->currentRow();
    if (row < 0 || row >= m_devices.size())
        return;
    m_devices.removeAt(row);
    reloadDevicesTable();
    saveUserDevices();
}

void KRPreferencesWindowController::saveUserDevices()
{
    KRUserDeviceInformation::storeDevices(m_devices, m_defaults);
    devicesNoticeLabel->hide(); // what could not be read is replaced
}

void KRPreferencesWindowController::userDeviceDidChange(KRUserDeviceInformation *)
{
    saveUserDevices();
}

void KRPreferencesWindowController::createHostingAccountAction()
{
    if (KRApplicationDelegate *delegate = KRApplicationDelegate::shared())
        delegate->orderFrontCreateHostingAccount();
}

QUrl KRPreferencesWindowController::forgotPasswordURL() const
{
    const QString site = m_defaults.stringValue(QStringLiteral("insecureSiteURL")).trimmed();
    if (site.isEmpty())
        return {};
    const QUrl page(KRApplicationDefaults::joinURL(site, QStringLiteral("password?utm_source=app")), QUrl::StrictMode);
    // Only a web page is opened: the address comes from a setting anyone may have written.
    if (!page.isValid() || (page.scheme() != QLatin1String("http") && page.scheme() != QLatin1String("https")) || page.host().isEmpty())
        return {};
    return page;
}

void KRPreferencesWindowController::updateForgotPasswordButton()
{
    if (forgotPasswordButton)
        forgotPasswordButton->setVisible(forgotPasswordURL().isValid());
}

void KRPreferencesWindowController::forgotPasswordAction()
{
    KR_LOG(QString());
    const QUrl page = forgotPasswordURL();
    if (!page.isValid())
        return; // the button is hidden then
    KROpenURLService::current().openURL(page);
}

bool KRPreferencesWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Close) {
        // An edit still in a field is kept.
        for (KRBinding *binding : m_textBindings)
            binding->commit();
        QTimer::singleShot(0, this, &KRPreferencesWindowController::windowClosed);
    }
    return KRWindowControllerBase::eventFilter(watched, event);
}

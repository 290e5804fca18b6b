#pragma once

#include <ui/KRWindowControllerBase.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/foundation/KRObservationToken.h>

#include <QList>
#include <QMap>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <vector>

class KRBinding;
class KRHelpButtonController;
class KRUserDefaults;
class QAbstractButton;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTableWidget;
class QToolBar;

// The preferences window ("KRPreferencesWindow"): panes chosen from a toolbar, each control
// bound to its user default so that a change takes effect at once in every editor and design
// view. The title reads "Preferences : <pane>".
//
// User devices are stored whenever the list changes, an added device included.
class KRPreferencesWindowController : public KRWindowControllerBase, public KRUserDeviceInformationDelegate
{
    Q_OBJECT

public:
    explicit KRPreferencesWindowController(QObject *parent = nullptr);
    KRPreferencesWindowController(KRUserDefaults &defaults, QObject *parent);
    ~KRPreferencesWindowController() override;

    // Panes.
    QStringList paneLabels() const;
    void selectTabViewItemWithLabel(const QString &label);
    QString selectedPaneLabel() const;

    // Editor font.
    void editorFontButton();
    void changeFont(const QFont &font);
    void updateEditorFont();

    // Design background: {"value", "description"} entries sorted by description.
    QList<QVariantMap> designViewBackgroundContents() const { return m_backgroundContents; }
    QVariantMap designViewBackground() const;
    void setDesignViewBackground(const QVariant &entry);

    // User devices.
    const QList<std::shared_ptr<KRUserDeviceInformation>> &devicesContent() const { return m_devices; }
    void addDeviceAction();
    void removeDeviceAction();
    void saveUserDevices();
    void userDeviceDidChange(KRUserDeviceInformation *device) override;

    void editModePopupButtonAction();
    void createHostingAccountAction();
    // Opens the service's password page in the browser; the button is hidden while no
    // service address is set.
    void forgotPasswordAction();
    // The service's password page; invalid without a service address.
    QUrl forgotPasswordURL() const;
    bool hostingValuesDidChange() const { return m_hostingValuesDidChange; }

    // Outlets.
    QToolBar *toolbar = nullptr;
    QStackedWidget *tabView = nullptr;
    QLineEdit *editorFontField = nullptr;
    QPushButton *editorFontSelectButton = nullptr;
    QComboBox *designViewBackgroundPopup = nullptr;
    QComboBox *editModesPopupMenu = nullptr;
    QTableWidget *devicesTable = nullptr;
    // Above the table while the stored devices cannot be read: why, and that a change here
    // replaces them.
    QLabel *devicesNoticeLabel = nullptr;
    QPushButton *addDeviceButton = nullptr;
    QPushButton *removeDeviceButton = nullptr;
    QCheckBox *useHostingButton = nullptr;
    QLineEdit *hostingEmail = nullptr;
    QLineEdit *hostingPassword = nullptr;
    QLineEdit *hostingDomain = nullptr;
    QLineEdit *serviceAddressField = nullptr; // "apiURL"
    QPushButton *createHostingButton = nullptr;
    QPushButton *forgotPasswordButton = nullptr;
    // Check boxes by user-default key.
    QMap<QString, QCheckBox *> checkBoxes;
    QSpinBox *tabWidthField = nullptr;

signals:
    void windowClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    QCheckBox *bindCheckBox(const QString &key, const QString &title);
    // The control and, right after it, a help button showing the help of helpKey.
    QLayout *withHelpButton(QWidget *host, const QString &helpKey, QWidget *control);
    void reloadDevicesTable();
    void deviceCellChanged(int row, int column);
    void updateForgotPasswordButton();

    KRUserDefaults &m_defaults;
    QList<KRBinding *> m_bindings;
    QList<KRBinding *> m_textBindings; // the fields, committed when the window closes
    QList<KRHelpButtonController *> m_helpButtonControllers;
    QList<QVariantMap> m_backgroundContents;
    QList<std::shared_ptr<KRUserDeviceInformation>> m_devices;
    std::vector<KRObservationToken> m_hostingObservations;
    QActionGroup *m_paneActions = nullptr;
    bool m_hostingValuesDidChange = false;
    bool m_fillingDevices = false;
};

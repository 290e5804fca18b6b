#pragma once

// The rows of the property inspector. Each row is a small controller with its own widgets,
// built through the interface registry under the row class's interface name; it edits one
// property (or, for the geometry row, a handful) of its weakly held target object.
//
// Rows never write what they merely show: a value reaches the model only from a user action,
// and only when it differs from the stored text (a missing value counts as empty).

#include "KRValueTransformers.h"

#include <core/ui/KRCachingViewController.h>
#include <model/KRPropertyInfo.h>
#include <platform/foundation/KRObservationToken.h>

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class KRBinding;
class KRHelpButtonController;
class KRObject;
class KRPropertyEditorViewController;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QSpinBox;
class QToolButton;

// The background of rows that can unfold.
class KRPropertyEditorItemView : public QWidget
{
public:
    using QWidget::QWidget;
    bool viewOpen() const { return m_viewOpen; }
    void setViewOpen(bool open);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool m_viewOpen = false;
};

// While an inspector makes its rows, their views are made straight inside its table: a view
// made on its own and moved in later takes every one of its controls along (their focus, their
// look and a repaint), which made the first screenful slow to show.
class KRPropertyEditorRowParentScope
{
public:
    explicit KRPropertyEditorRowParentScope(QWidget *parent);
    ~KRPropertyEditorRowParentScope();
    KRPropertyEditorRowParentScope(const KRPropertyEditorRowParentScope &) = delete;
    KRPropertyEditorRowParentScope &operator=(const KRPropertyEditorRowParentScope &) = delete;
    // The widget the row views made now belong in; null outside an inspector's making.
    static QWidget *current();

private:
    QWidget *m_previous;
};

// A small up/down button pair that steps a number.
class KRStepper : public QWidget
{
public:
    explicit KRStepper(QWidget *parent = nullptr);
    double minimum = -1e9;
    double maximum = 1e9;
    double increment = 1.0;
    // Called with +1 or -1 when the user clicks an arrow.
    std::function<void(int)> stepped;
    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

private:
    QToolButton *m_up;
    QToolButton *m_down;
};

// The undo name of an edit of the property the inspector labels `title` ("Change <title>").
QString krPropertyChangeActionName(const QString &title);

// Widget pointers held by the rows below are parts of the row's view(), which owns them.
class KRPropertyEditorItemViewController : public KRCachingViewController
{
public:
    ~KRPropertyEditorItemViewController() override;

    std::shared_ptr<KRObject> targetObject() const { return m_targetObject.lock(); }
    void setTargetObject(const std::shared_ptr<KRObject> &object) { m_targetObject = object; }
    KRPropertyEditorViewController *delegate() const { return m_delegate; }
    void setDelegate(KRPropertyEditorViewController *delegate) { m_delegate = delegate; }
    bool visible() const { return m_visible; }
    virtual void setVisible(bool visible) { m_visible = visible; }
    double viewHeight() const { return m_viewHeight; }
    void setViewHeight(double height);

    // Makes the row's control for the property the focus; false when the row has none.
    virtual bool editProperty(const QString &name);
    // The property the row edits ("" for rows without one).
    virtual QString propertyName() const { return QString(); }
    // A short name of the row's kind, for layout listings ("String", "Header", ...).
    virtual QString kindName() const = 0;
    // Focus helpers of the Tab loop: the first and last focusable control of the row.
    bool focusFirstControl();
    bool focusLastControl();

    // Shows a help button at `at` in the row while the pointer rests over the controls or that
    // spot; the identifier ("helpButton_<name>") chooses the help text. The button is made the
    // first time the pointer comes: an inspector has many rows and few are ever pointed at.
    void trackHelpButton(const QString &identifier, const QPoint &at, const QList<QWidget *> &controls);
    const std::vector<std::unique_ptr<KRHelpButtonController>> &helpButtonControllers() const
    {
        return m_helpButtonControllers;
    }
    // The help text of a button identifier for the row's target ("" when it has none).
    QString helpContent(const QString &identifier) const;

    static KREnumOptions enumOptions(const OrderedDictionary<QString, QString> &options);

    // Makes a bound text field of the class's property tell what it refuses: a CSS length is
    // stored the way the model writes it and other text is refused; every refused edit (an id
    // already taken, say) shows the reason once the edit has finished, and the field shows
    // the stored value again.
    static void guardFieldEdits(KRBinding &binding, QLineEdit *field, const QString &className,
                                const QString &propertyName);

    // Builds the row's widgets; the interface registry calls it for the row's interface name.
    virtual QWidget *buildView() = 0;
    // Registers every row interface (once).
    static void registerInterfaces();

protected:
    KRPropertyEditorItemViewController() = default;
    void awakeFromNib() override;
    QList<QWidget *> focusableControls() const;

private:
    std::weak_ptr<KRObject> m_targetObject;
    QPointer<KRPropertyEditorViewController> m_delegate;
    bool m_visible = true;
    double m_viewHeight = 0;
    std::vector<std::unique_ptr<KRHelpButtonController>> m_helpButtonControllers;
};

class KRPropertyEditorItemHeaderViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemHeader"); }
    QString kindName() const override { return QStringLiteral("Header"); }
    QWidget *buildView() override;

    QLabel *label() const { return m_label; }
    QToolButton *disclosureButton() const { return m_disclosureButton; }
    bool isOpen() const;
    void setOpen(bool open);
    QList<KRPropertyEditorItemViewController *> childViewControllers() const { return m_children; }
    void setHelpButtonIdentifier(const QString &identifier);
    void addObject(KRPropertyEditorItemViewController *row);
    void hideDisclosureButton();
    void disclosureButtonAction();

private:
    friend class KRPropertyEditorItemViewController;
    QLabel *m_label = nullptr;
    QToolButton *m_disclosureButton = nullptr;
    QList<KRPropertyEditorItemViewController *> m_children;
};

class KRPropertyEditorItemHLineViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemHLine"); }
    QString kindName() const override { return QStringLiteral("HLine"); }
    QWidget *buildView() override;
};

// Left, top, width, height, visible, locked, z-index and opacity of a control.
class KRPropertyEditorItemControlViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemControl"); }
    QString kindName() const override { return QStringLiteral("Control"); }
    QWidget *buildView() override;
    bool editProperty(const QString &name) override;
    void setup();
    QLineEdit *textField(const QString &name) const;
    QCheckBox *checkbox(const QString &name) const;
    KRStepper *opacityStepper() const { return m_opacityStepper; }

private:
    QList<QPair<QString, QLineEdit *>> m_fields;
    QList<QPair<QString, QCheckBox *>> m_checkboxes;
    KRStepper *m_opacityStepper = nullptr;
    KRStepperValueTransformer m_opacityTransformer;
    std::vector<std::unique_ptr<KRBinding>> m_bindings;
    KRObservationToken m_opacityObservation;
    QList<QPair<QString, QPoint>> m_helpSpots; // a property's name and where its help button goes
};

// The common part of the rows that edit one named property.
class KRPropertyEditorItemTypedViewController : public KRPropertyEditorItemViewController
{
public:
    QString propertyName() const override { return m_propertyName; }
    QString key() const { return QStringLiteral("kr_") + m_propertyName; }
    void setPropertyName(const QString &name);
    const KRPropertyInfo &propertyInfo() const { return m_propertyInfo; }
    QLabel *label() const { return m_label; }
    bool editProperty(const QString &name) override;

    // The stored text ("" when missing or when the target is gone).
    QString storedValue() const;
    // Writes the text unless it equals the stored one; false when nothing was written.
    bool writeValue(const QString &text);

protected:
    virtual void setup() = 0;
    // The widget that takes the focus for editProperty().
    virtual QWidget *editControl() const { return nullptr; }
    // What editProperty() does once the name matches: by default focuses editControl();
    // false when the row has nothing to edit.
    virtual bool beginEditing();
    // Shows the row closed at the default height or open at openHeight, and tells the inspector.
    void showDefaultState(bool useDefault, int openHeight);
    // Row view with the property's label and help button at the left.
    QWidget *makeRowView(int height);
    // Calls back after each change of the row's key (undo and other editors included).
    KRObservationToken observeValue(std::function<void(const QString &)> changed);
    std::unique_ptr<KRBinding> bindLineEdit(QLineEdit *field);
    void notifySizeChanged();

    QString m_propertyName;
    KRPropertyInfo m_propertyInfo;
    QLabel *m_label = nullptr;
    bool m_hasHelpButton = false; // a row made by makeRowView
};

class KRPropertyEditorItemStringViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemString"); }
    QString kindName() const override { return QStringLiteral("String"); }
    QWidget *buildView() override;
    QLineEdit *textField() const { return m_textField; }
    // Null unless the property is a number.
    KRStepper *stepper() const { return m_stepper; }
    KRStepperValueTransformer &transformer() { return m_transformer; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    QLineEdit *m_textField = nullptr;
    KRStepper *m_stepper = nullptr;
    KRStepperValueTransformer m_transformer;
    std::unique_ptr<KRBinding> m_binding;
};

class KRPropertyEditorItemColorViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemColor"); }
    QString kindName() const override { return QStringLiteral("Colour"); }
    QWidget *buildView() override;
    bool useDefault() const { return m_useDefault; }
    void setUseDefault(bool on);
    QCheckBox *defaultCheckbox() const { return m_defaultCheckbox; }
    QToolButton *colorWell() const { return m_colorWell; }
    // What the colour panel does when the user picks a colour.
    void takeColor(const QColor &colour);

protected:
    void setup() override;

private:
    void showColour();
    QCheckBox *m_defaultCheckbox = nullptr;
    QToolButton *m_colorWell = nullptr;
    bool m_useDefault = true;
    bool m_echoGuard = false;
    KRObservationToken m_observation;
};

class KRPropertyEditorItemEnumViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEnum"); }
    QString kindName() const override { return QStringLiteral("Enum"); }
    QWidget *buildView() override;
    virtual KREnumOptions enumerationContent() const;
    virtual std::optional<QString> nullPlaceholder() const;
    void reloadContent();
    QComboBox *popupButton() const { return m_popupButton; }
    // Picks the option as the user would.
    virtual void chooseIndex(int index);

protected:
    void setup() override;
    QWidget *editControl() const override;
    virtual void showValue();
    QComboBox *m_popupButton = nullptr;
    KRDictionaryValueTransformer2 m_vt;
    KRObservationToken m_observation;
};

class KRPropertyEditorItemEnumComboViewController : public KRPropertyEditorItemEnumViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEnumCombo"); }
    QString kindName() const override { return QStringLiteral("EnumCombo"); }
    QWidget *buildView() override;
    void chooseIndex(int index) override;
    // Stores typed text as the user's edit does.
    void commitText(const QString &text);

protected:
    void showValue() override;
};

class KRPropertyEditorItemPageViewController : public KRPropertyEditorItemEnumViewController
{
public:
    QString kindName() const override { return QStringLiteral("Page"); }
    KREnumOptions enumerationContent() const override;
    std::optional<QString> nullPlaceholder() const override { return QString(QLatin1String("")); }

protected:
    void setup() override;

private:
    std::vector<KRObservationToken> m_pageObservations;
};

class KRPropertyEditorItemContentViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemContent"); }
    QString kindName() const override { return QStringLiteral("Content"); }
    QWidget *buildView() override;
    void editButtonAction();
    QLineEdit *textField() const { return m_textField; }
    QToolButton *editButton() const { return m_editButton; }

protected:
    void setup() override;
    bool beginEditing() override;

private:
    void showValue();
    QLineEdit *m_textField = nullptr;
    QToolButton *m_editButton = nullptr;
    KRContentDescValueTransformer m_vt;
    bool m_textFieldBound = false;
    KRObservationToken m_observation;
};

class KRPropertyEditorItemBooleanViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemBoolean"); }
    QString kindName() const override { return QStringLiteral("Boolean"); }
    QWidget *buildView() override;
    QCheckBox *checkbox() const { return m_checkbox; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    QCheckBox *m_checkbox = nullptr;
    std::unique_ptr<KRBinding> m_binding;
};

// Handler of one event: none, one of the page's functions, or a new one made on request.
class KRPropertyEditorItemEventViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEvent"); }
    QString kindName() const override { return QStringLiteral("Event"); }
    QWidget *buildView() override;
    QComboBox *popupButton() const { return m_popupButton; }
    QToolButton *actionButton() const { return m_button; }
    // Opens the chosen handler or, with none, makes one and opens it.
    void buttonAction();
    void chooseIndex(int index);
    void rebuildMenu();

protected:
    void setup() override;
    QWidget *editControl() const override;
    bool beginEditing() override;

private:
    void selectCurrent();
    QComboBox *m_popupButton = nullptr;
    QToolButton *m_button = nullptr;
    bool m_invalidEntry = false;
    bool m_echoGuard = false;
    KRObservationToken m_observation;
    std::vector<KRObservationToken> m_pageObservations;
};

class KRPropertyEditorItemTextShadowViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemTextShadow"); }
    QString kindName() const override { return QStringLiteral("TextShadow"); }
    QWidget *buildView() override;
    bool useDefault() const { return m_useDefault; }
    void setUseDefault(bool on);
    std::optional<KRTextShadow> textShadow() const { return m_textShadow; }
    // A user edit of the shadow: the property receives its text at once.
    void setTextShadow(const std::optional<KRTextShadow> &shadow);
    QCheckBox *defaultCheckbox() const { return m_defaultCheckbox; }
    QSpinBox *xAxisOffset() const { return m_x; }
    QSpinBox *yAxisOffset() const { return m_y; }
    QSpinBox *blurRadius() const { return m_blur; }
    QToolButton *colorWell() const { return m_colorWell; } // the four: none until a shadow is set

protected:
    void setup() override;

private:
    void makeShadowControls();
    void showShadow();
    void userChangedShadow();
    QCheckBox *m_defaultCheckbox = nullptr;
    QToolButton *m_colorWell = nullptr;
    QSpinBox *m_x = nullptr;
    QSpinBox *m_y = nullptr;
    QSpinBox *m_blur = nullptr;
    bool m_useDefault = true;
    bool m_echoGuard = false;
    bool m_showing = false;
    std::optional<KRTextShadow> m_textShadow;
    KRObservationToken m_observation;
};

// Free text over several lines, unwrapped. The row grows while the text has the focus, and
// the text is stored when the focus leaves it.
class KRPropertyEditorItemMultilineStringViewController : public KRPropertyEditorItemTypedViewController
{
public:
    ~KRPropertyEditorItemMultilineStringViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemMultilineString"); }
    QString kindName() const override { return QStringLiteral("MultilineString"); }
    QWidget *buildView() override;
    QPlainTextEdit *textView() const { return m_textView; }

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    void showText();
    QPlainTextEdit *m_textView = nullptr;
    bool m_open = false;
    QMetaObject::Connection m_focusConnection;
    KRObservationToken m_observation;
};

// A list of lines (options, images, include files) with add, remove and reordering.
class KRPropertyEditorItemMLTableViewController : public KRPropertyEditorItemTypedViewController
{
public:
    ~KRPropertyEditorItemMLTableViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemMLTable"); }
    QString kindName() const override { return QStringLiteral("MLTable"); }
    QWidget *buildView() override;
    QListWidget *tableView() const { return m_table; }
    QStringList lines() const { return m_lines; }
    void addRow();
    void removeRow();
    // Moves the row to the drop position (before the row that was there).
    void moveRow(int from, int dropRow);
    void setLine(int row, const QString &text);
    void updateModel();

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    void readLines();
    void reloadTable();
    QListWidget *m_table = nullptr;
    QStringList m_lines;
    bool m_reloading = false;
    bool m_open = false;
    QMetaObject::Connection m_focusConnection;
    KRObservationToken m_observation;
};

#pragma once

// The rows of the property inspector. Each row is a small controller with its own widgets,
// built through the interface registry under the row class's interface name; it edits one
// property (or, for the geometry row, a handful) of its weakly held target object.
//
// Rows never write what they merely show: a value reaches the model only from a user action,
// and only when it differs from the stored text (a missing value counts as empty).

#include "KRValueTransformers.h"

#include <ui/KRCachingViewController.h>
#include <model/KRPropertyInfo.h>
#include <platform/foundation/KRObservationToken.h>

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KRBinding;
class KRHelpButtonController;
class KRObject;
class KRPropertyEditorViewController;
class QAbstractButton;
class QCheckBox;
class QComboBox;
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

// The name of a row, or of a section. Plain text is laid out and drawn once into a picture
// that each later paint copies, until anything it is drawn from changes: switching to an
// inspector redraws every name it shows, and laying the text out again each time took longer
// than any control of the row. Other text (rich, selectable, with a buddy or a frame) is drawn
// as any label draws it.
class KRPropertyEditorRowLabel : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool drawnPlain() const;
    // What the picture was drawn from.
    struct Drawn
    {
        QString text;
        QFont font;
        qint64 palette = 0;
        QPalette::ColorGroup group = QPalette::Active; // the window active or not
        const QStyle *style = nullptr;
        QSize size;
        qreal ratio = 0;
        Qt::Alignment alignment;
        QPalette::ColorRole role = QPalette::NoRole;
        bool enabled = false;
        bool operator==(const Drawn &other) const = default;
    };
    QPixmap m_picture;
    Drawn m_drawn;
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

// Where the rows put their controls: right of the labels' column, in rows of one line.
inline constexpr int KRRowLabelWidth = 118;
inline constexpr int KRRowRowHeight = 22;
// Whether the object's class is the named one or a subclass of it.
bool krRowIsKindOf(const std::shared_ptr<KRObject> &object, const char *className);
// Shows the colour in the well, or a crossed-out box when there is none.
void krRowSwatch(QToolButton *well, const std::optional<QColor> &colour);

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

    // Makes Undo and Redo in a text field whose edit is stored reach the document's undo: the
    // field keeps its own undo only for typing not yet stored. `receiver` is the widget that has
    // the keyboard focus for the field (the field, or the editable combo box it belongs to).
    static void routeStoredEditUndo(QWidget *receiver, QLineEdit *field);
    // The same for a control that stores each change as it is made (a spin box): Undo and Redo
    // always reach the document's undo.
    static void routeStoredEditUndo(QWidget *receiver);

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
    // After the id or name of a form control is stored: says so when the control's field name
    // is that of a property of the page's form.
    void warnOfFieldNameOfFormProperty();

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
    // A binding of widget's property (its user property when empty) to the row's property:
    // reads and writes it, and follows its changes.
    std::unique_ptr<KRBinding> bindValue(QWidget *widget, const QByteArray &property = {});
    // A bound text field; an id must be free on its page: what it refuses is explained and
    // the property keeps its value.
    std::unique_ptr<KRBinding> bindLineEdit(QLineEdit *field);
    void notifySizeChanged();

    QString m_propertyName;
    KRPropertyInfo m_propertyInfo;
    QLabel *m_label = nullptr;
    bool m_hasHelpButton = false; // a row made by makeRowView
};

#include "KRPropertyEditorItemViewController.h"

#include "KRPropertyEditorViewController.h"

#include <controls/jqm/JQMShadowedNames.h>
#include <model/KRClassRegistry.h>
#include <model/KRObject.h>
#include <model/KRObjectInfo.h>
#include <platform/appkit/KRBinding.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QComboBox>
#include <QHash>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

bool krRowIsKindOf(const std::shared_ptr<KRObject> &object, const char *className)
{
    return object && KRClassRegistry::sharedInstance().isKindOf(object->kr_className(), QLatin1String(className));
}

void krRowSwatch(QToolButton *well, const std::optional<QColor> &colour)
{
    QPixmap pixmap(28, 12);
    pixmap.fill(colour.value_or(Qt::transparent));
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    if (!colour)
        painter.drawLine(0, 11, 27, 0);
    painter.end();
    well->setIcon(QIcon(pixmap));
    well->setIconSize(pixmap.size());
}

namespace {

// Lets Undo and Redo pass the field when it has no typing of its own to undo or redo, so that
// the Edit menu's shortcut takes them: the field would otherwise claim the keys and do nothing.
class KRStoredEditUndoFilter : public QObject
{
public:
    // Without a field every change is stored as it is made: nothing is the field's to undo.
    KRStoredEditUndoFilter(QWidget *receiver, QLineEdit *field)
        : QObject(receiver), m_field(field), m_alwaysStored(!field)
    {
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride || (!m_field && !m_alwaysStored))
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        const bool undo = key->matches(QKeySequence::Undo);
        const bool redo = key->matches(QKeySequence::Redo);
        if ((undo && (m_alwaysStored || !m_field->isUndoAvailable()))
            || (redo && (m_alwaysStored || !m_field->isRedoAvailable()))) {
            key->ignore();
            return true;
        }
        return false;
    }

private:
    QPointer<QLineEdit> m_field;
    bool m_alwaysStored = false;
};

} // namespace

// --- Views

bool KRPropertyEditorRowLabel::drawnPlain() const
{
    const bool plain = textFormat() == Qt::PlainText || (textFormat() == Qt::AutoText && !Qt::mightBeRichText(text()));
    return plain && !text().isEmpty() && !buddy() && frameShape() == QFrame::NoFrame && margin() == 0 && indent() <= 0
           && !wordWrap() && pixmap().isNull()
           && !(textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::TextEditable));
}

void KRPropertyEditorRowLabel::paintEvent(QPaintEvent *event)
{
    if (!drawnPlain()) {
        QLabel::paintEvent(event);
        return;
    }
    // Everything the drawing depends on; the palette's key changes with any of its colours.
    const QPalette &colours = palette();
    const Drawn drawn{text(), font(), colours.cacheKey(), colours.currentColorGroup(), style(), size(),
                      devicePixelRatioF(), alignment(), foregroundRole(), isEnabled()};
    if (m_picture.isNull() || !(drawn == m_drawn)) {
        m_picture = QPixmap((QSizeF(drawn.size) * drawn.ratio).toSize());
        m_picture.setDevicePixelRatio(drawn.ratio);
        m_picture.fill(Qt::transparent);
        QPainter painter(&m_picture);
        painter.setFont(drawn.font);
        // As the label draws plain text: right to left or not by the text itself.
        const bool rightToLeft = drawn.text.isRightToLeft();
        const int flags = QStyle::visualAlignment(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight, drawn.alignment)
                          | (rightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
        drawn.style->drawItemText(&painter, contentsRect(), flags, colours, drawn.enabled, drawn.text, drawn.role);
        painter.end();
        m_drawn = drawn;
    }
    QPainter(this).drawPixmap(0, 0, m_picture);
}

void KRPropertyEditorItemView::setViewOpen(bool open)
{
    m_viewOpen = open;
    update();
}

void KRPropertyEditorItemView::paintEvent(QPaintEvent *)
{
    if (!m_viewOpen)
        return;
    // An unfolded row sits on a light panel, so its extra controls read as one group.
    QPainter painter(this);
    painter.fillRect(rect().adjusted(4, 1, -4, -1), QColor(0xee, 0xee, 0xee));
}

KRStepper::KRStepper(QWidget *parent) : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton *button : {m_up, m_down}) {
        button->setArrowType(button == m_up ? Qt::UpArrow : Qt::DownArrow);
        button->setFixedSize(14, 10);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, button] {
            if (stepped)
                stepped(button == m_up ? 1 : -1);
        });
    }
    setFixedSize(14, 20);
}

// --- Row base

KRPropertyEditorItemViewController::~KRPropertyEditorItemViewController() = default;

void KRPropertyEditorItemViewController::setViewHeight(double height)
{
    m_viewHeight = height;
    if (view())
        view()->setFixedHeight(int(height));
}

void KRPropertyEditorItemViewController::awakeFromNib()
{
    m_viewHeight = view() ? view()->height() : 0;
    if (view())
        view()->setFixedHeight(int(m_viewHeight));
}

bool KRPropertyEditorItemViewController::editProperty(const QString &)
{
    return false;
}

QList<QWidget *> KRPropertyEditorItemViewController::focusableControls() const
{
    QList<QWidget *> result;
    if (!view())
        return result;
    const QList<QWidget *> children = view()->findChildren<QWidget *>();
    for (QWidget *child : children)
        if (child->focusPolicy() & Qt::TabFocus && child->isEnabled() && !child->isHidden() &&
            child->isVisibleTo(view()))
            result.append(child);
    return result;
}

bool KRPropertyEditorItemViewController::focusFirstControl()
{
    const QList<QWidget *> controls = focusableControls();
    if (controls.isEmpty())
        return false;
    controls.first()->setFocus(Qt::TabFocusReason);
    return true;
}

bool KRPropertyEditorItemViewController::focusLastControl()
{
    const QList<QWidget *> controls = focusableControls();
    if (controls.isEmpty())
        return false;
    controls.last()->setFocus(Qt::BacktabFocusReason);
    return true;
}

void KRPropertyEditorItemViewController::trackHelpButton(const QString &identifier, const QPoint &at,
                                                         const QList<QWidget *> &controls)
{
    constexpr QSize side(16, 16);
    QPointer<KRPropertyEditorItemViewController> self(this);
    QPointer<QWidget> host(view());
    const auto makeButton = [host, identifier, at, side]() -> QAbstractButton * {
        if (!host)
            return nullptr;
        auto *button = new QToolButton(host);
        button->setObjectName(identifier);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        static const QIcon icon(KRHelpButtonController::helpButtonImage()); // one image for every row
        button->setIcon(icon);
        button->setFixedSize(side);
        button->move(at);
        return button;
    };
    m_helpButtonControllers.push_back(std::make_unique<KRHelpButtonController>(
        view(), QRect(), makeButton, QRect(at, side), controls, KRPopover::LeftEdge,
        [self, identifier] { return self ? self->helpContent(identifier) : QString(); }));
}

QString KRPropertyEditorItemViewController::helpContent(const QString &identifier) const
{
    const auto target = targetObject();
    if (!target)
        return QString(QLatin1String(""));
    static const QString propertyPrefix = QStringLiteral("helpButton_");
    static const QString objectPrefix = QStringLiteral("objectHelp_");
    if (identifier.startsWith(propertyPrefix))
        return KRObjectInfo::sharedInstance().propertyHelpHTML(identifier.mid(propertyPrefix.size()),
                                                               target->kr_className());
    if (identifier.startsWith(objectPrefix))
        return KRObjectInfo::sharedInstance().objectHelpHTML(identifier.mid(objectPrefix.size()));
    return QString(QLatin1String(""));
}

KREnumOptions KRPropertyEditorItemViewController::enumOptions(const OrderedDictionary<QString, QString> &options)
{
    KREnumOptions result;
    for (const QString &key : options.allKeys())
        result.append({key, options.objectForKey(key)});
    return result;
}

void KRPropertyEditorItemViewController::guardFieldEdits(KRBinding &binding, QLineEdit *field,
                                                         const QString &className, const QString &propertyName)
{
    using Length = KRCSSLengthValueTransformer;
    const Length::Kind kind = Length::kindOfProperty(className, propertyName);
    QString informative;
    if (kind != Length::Kind::None) {
        informative = Length::expectedText(kind);
        binding.setTransformer({}, [kind](const QVariant &typed) -> std::optional<QVariant> {
            // Refused text goes on unchanged to the validator, which says why.
            return QVariant(Length::reverseTransformedValue(typed.toString(), kind).value_or(typed.toString()));
        });
        binding.setValidator([kind, propertyName](const QVariant &value, QString *message) {
            if (Length::reverseTransformedValue(value.toString(), kind))
                return true;
            if (message)
                *message = QStringLiteral("\u201C%1\u201D is not a valid %2.").arg(value.toString().trimmed(), propertyName);
            return false;
        });
        // Once stored, the field shows the text as the model keeps it ("20px" becomes "20").
        KRBinding *shown = &binding;
        QObject::connect(field, &QLineEdit::editingFinished, &binding, [shown] { shown->refresh(); });
    }
    KRBinding *source = &binding;
    QObject::connect(&binding, &KRBinding::rejected, field, [source, field, informative](const QString &message) {
        // The property keeps its value: show it again, then say why once the event that
        // finished the edit (a focus change, say) is over.
        source->refresh();
        QTimer::singleShot(0, field, [message, informative] {
            KRAlert alert;
            alert.style = KRAlert::Style::Warning;
            alert.messageText = message;
            alert.informativeText = informative;
            KRAlertService::current().runModal(alert);
        });
    });
}

void KRPropertyEditorItemViewController::routeStoredEditUndo(QWidget *receiver, QLineEdit *field)
{
    receiver->installEventFilter(new KRStoredEditUndoFilter(receiver, field));
    // Once the edit is stored (Return or the focus leaving), its typing is no longer the
    // field's to undo: the document's undo takes the change back.
    QObject::connect(field, &QLineEdit::editingFinished, field, [field] {
        if (!field->isUndoAvailable() && !field->isRedoAvailable())
            return;
        const int cursor = field->cursorPosition();
        field->setText(field->text()); // forgets the field's undo steps
        field->setCursorPosition(cursor);
    });
}

void KRPropertyEditorItemViewController::routeStoredEditUndo(QWidget *receiver)
{
    receiver->installEventFilter(new KRStoredEditUndoFilter(receiver, nullptr));
}

void KRPropertyEditorItemViewController::registerInterfaces()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    for (const char *name : {"KRPropertyEditorItemHeader", "KRPropertyEditorItemHLine", "KRPropertyEditorItemControl",
                             "KRPropertyEditorItemString", "KRPropertyEditorItemColor", "KRPropertyEditorItemEnum",
                             "KRPropertyEditorItemEnumCombo", "KRPropertyEditorItemContent",
                             "KRPropertyEditorItemBoolean", "KRPropertyEditorItemEvent",
                             "KRPropertyEditorItemTextShadow", "KRPropertyEditorItemMLTable",
                             "KRPropertyEditorItemMultilineString"}) {
        KRInterfaceRegistry::registerInterface(QLatin1String(name), [](QObject *owner) -> QWidget * {
            auto *row = dynamic_cast<KRPropertyEditorItemViewController *>(owner);
            return row ? row->buildView() : nullptr;
        });
    }
}

// --- Where rows are made

namespace {
QWidget *krCurrentRowParent = nullptr;
}

KRPropertyEditorRowParentScope::KRPropertyEditorRowParentScope(QWidget *parent) : m_previous(krCurrentRowParent)
{
    krCurrentRowParent = parent;
}

KRPropertyEditorRowParentScope::~KRPropertyEditorRowParentScope()
{
    krCurrentRowParent = m_previous;
}

QWidget *KRPropertyEditorRowParentScope::current()
{
    return krCurrentRowParent;
}


QString krPropertyChangeActionName(const QString &title)
{
    return QObject::tr("Change %1").arg(title);
}

// --- Typed rows: common part

void KRPropertyEditorItemTypedViewController::setPropertyName(const QString &name)
{
    m_propertyName = name;
    const auto target = targetObject();
    if (target) {
        if (const KRPropertyInfo *info =
                KRObjectInfo::sharedInstance().propertyInfoForProperty(name, target->kr_className()))
            m_propertyInfo = *info;
        else
            m_propertyInfo = KRPropertyInfo{};
        m_propertyInfo.name = name;
    }
    if (m_label) {
        // Long names keep both ends readable; the full name is in the tool tip. Rows of every
        // inspector show the same few names in the same font and width.
        static QHash<QString, QString> elided;
        const QString cacheKey = name + QLatin1Char('\n') + m_label->font().key() + QLatin1Char('\n')
                                 + QString::number(m_label->width());
        auto found = elided.constFind(cacheKey);
        if (found == elided.constEnd())
            found = elided.insert(cacheKey, m_label->fontMetrics().elidedText(name, Qt::ElideMiddle, m_label->width()));
        m_label->setText(*found);
        m_label->setToolTip(name);
        m_label->parentWidget()->setAccessibleName(name); // the row, for assistive tools
    }
    if (m_hasHelpButton)
        trackHelpButton(QStringLiteral("helpButton_") + name, QPoint(4, 3), {m_label});
    setup();
    // The value's field is announced by the property's name. A pop-up keeps announcing the
    // entry it shows.
    if (QWidget *control = editControl(); control && !qobject_cast<QComboBox *>(control) && control->accessibleName().isEmpty())
        control->setAccessibleName(name);
}

bool KRPropertyEditorItemTypedViewController::editProperty(const QString &name)
{
    return name == m_propertyName && beginEditing();
}

bool KRPropertyEditorItemTypedViewController::beginEditing()
{
    if (!editControl())
        return false;
    editControl()->setFocus(Qt::OtherFocusReason);
    return true;
}

QString KRPropertyEditorItemTypedViewController::storedValue() const
{
    const auto target = targetObject();
    const QString text = target ? target->value(key()) : QString();
    return text.isNull() ? QString(QLatin1String("")) : text;
}

bool KRPropertyEditorItemTypedViewController::writeValue(const QString &text)
{
    const auto target = targetObject();
    if (!target || target->value(key()) == text)
        return false; // a missing value equals the empty text here
    target->setValueNamingUndo(key(), text, krPropertyChangeActionName(m_propertyName));
    return true;
}

QWidget *KRPropertyEditorItemTypedViewController::makeRowView(int height)
{
    auto *view = new KRPropertyEditorItemView(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(height);
    m_hasHelpButton = true;
    m_label = new KRPropertyEditorRowLabel(view);
    QFont font = m_label->font();
    font.setPixelSize(11);
    m_label->setFont(font);
    m_label->setGeometry(22, 2, KRRowLabelWidth - 24, 18);
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return view;
}

KRObservationToken KRPropertyEditorItemTypedViewController::observeValue(std::function<void(const QString &)> changed)
{
    const auto target = targetObject();
    if (!target)
        return {};
    return target->observable().observe(
        key(), [changed = std::move(changed)](const void *, const QString &, const QVariant &, const QVariant &now) {
            changed(now.toString());
        });
}

std::unique_ptr<KRBinding> KRPropertyEditorItemTypedViewController::bindValue(QWidget *widget, const QByteArray &property)
{
    const std::weak_ptr<KRObject> weak = targetObject();
    const QString k = key();
    KRBinding::Model model;
    model.get = [weak, k] {
        const auto o = weak.lock();
        return QVariant(o ? o->value(k) : QString());
    };
    model.set = [this](const QVariant &value) {
        if (writeValue(value.toString()) && (m_propertyName == QLatin1String("id") || m_propertyName == QLatin1String("name")))
            warnOfFieldNameOfFormProperty();
    };
    model.observe = [this](std::function<void()> changed) {
        return observeValue([changed = std::move(changed)](const QString &) { changed(); });
    };
    return std::make_unique<KRBinding>(widget, std::move(model), property);
}

void KRPropertyEditorItemTypedViewController::warnOfFieldNameOfFormProperty()
{
    const auto target = targetObject();
    if (!target || !view() || !KRClassRegistry::sharedInstance().isKindOf(target->kr_className(), QStringLiteral("KRFormControl")))
        return;
    // A control's field is named by its id while it has no name of its own; a toolbar or a
    // list, named as well, has no field.
    const QString own = target->value(QStringLiteral("kr_name"));
    const QString name = own.isEmpty() ? target->kr_id() : own;
    const auto element = target->domElement();
    if (!JQMShadowedNames::breaksForm(name) || !element || !JQMShadowedNames::holdsField(*element))
        return;
    QTimer::singleShot(0, view(), [name] {
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = QStringLiteral("The field name \u201C%1\u201D is that of a member of the page\u2019s form that jQuery "
                                           "and jQuery Mobile rely on.")
                                .arg(name);
        alert.informativeText =
            QStringLiteral("In a browser a field of this name stands in for the form\u2019s own \u201C%1\u201D, and the page "
                           "would not run. The built page names the field \u201Ckr-name-%1\u201D: the form still sends it as "
                           "\u201C%1\u201D and a server page fills it by that name, but the page\u2019s styles and scripts "
                           "find it only as \u201Ckr-name-%1\u201D ([name=\"kr-name-%1\"], form.elements, $(form).serialize()).")
                .arg(name);
        KRAlertService::current().runModal(alert);
    });
}

std::unique_ptr<KRBinding> KRPropertyEditorItemTypedViewController::bindLineEdit(QLineEdit *field)
{
    const std::weak_ptr<KRObject> weak = targetObject();
    auto binding = bindValue(field);
    if (m_propertyName == QLatin1String("id")) {
        binding->setValidator([weak](const QVariant &value, QString *message) {
            const auto o = weak.lock();
            if (!o || o->kr_id() == value.toString())
                return true;
            const KRResult<void> ok = o->validateKr_id(value.toString());
            if (!ok && message)
                *message = ok.error().message();
            return bool(ok);
        });
    }
    // A list's or a bar's items are edited through their Edit… row (the item editor), which
    // keeps them within what JSON may nest.
    const auto target = targetObject();
    guardFieldEdits(*binding, field, target ? target->kr_className() : QString(), m_propertyName);
    routeStoredEditUndo(field, field);
    return binding;
}

void KRPropertyEditorItemTypedViewController::notifySizeChanged()
{
    if (delegate() && view())
        delegate()->rowSizeChanged(view());
}

void KRPropertyEditorItemTypedViewController::showDefaultState(bool useDefault, int openHeight)
{
    setViewHeight(useDefault ? 20 : openHeight);
    if (auto *rowView = dynamic_cast<KRPropertyEditorItemView *>(view()))
        rowView->setViewOpen(!useDefault);
    notifySizeChanged();
}

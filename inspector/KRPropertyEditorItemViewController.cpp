#include "KRPropertyEditorItemViewController.h"

#include "KRPropertyEditorViewController.h"

#include <controls/jqm/JQMBaseToolbar.h>
#include <controls/jqm/JQMListView.h>
#include <model/KRClassRegistry.h>
#include <model/KRFunction.h>
#include <model/KRObject.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/appkit/KRBinding.h>
#include <platform/appkit/KRColorPanel.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleOptionToolButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int KRRowLabelWidth = 118;
constexpr int KRRowRowHeight = 22;

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

// The disclosure triangle of a section header: the arrow alone, without the button's panel,
// hovered, pressed or checked. Drawn as a style sheet with no border and no background draws
// it, without the cost of giving every header a style sheet of its own.
class KRDisclosureButton : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QStyleOptionToolButton option;
        initStyleOption(&option);
        QPainter painter(this);
        style()->drawControl(QStyle::CE_ToolButtonLabel, &option, &painter, this);
    }
};

} // namespace

// --- Views

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

// --- Header and separator

QWidget *KRPropertyEditorItemHeaderViewController::buildView()
{
    auto *view = new KRPropertyEditorItemView(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(22);
    m_disclosureButton = new KRDisclosureButton(view);
    m_disclosureButton->setCheckable(true);
    m_disclosureButton->setAutoRaise(true);
    m_disclosureButton->setArrowType(Qt::RightArrow);
    m_disclosureButton->setFocusPolicy(Qt::NoFocus);
    m_disclosureButton->setGeometry(4, 3, 16, 16);
    m_label = new QLabel(view);
    QFont font = m_label->font();
    font.setPixelSize(12);
    font.setBold(true);
    m_label->setFont(font);
    m_label->setGeometry(22, 2, 220, 18);
    QObject::connect(m_disclosureButton, &QToolButton::toggled, m_disclosureButton, [this](bool open) {
        m_disclosureButton->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    QObject::connect(m_disclosureButton, &QToolButton::clicked, m_disclosureButton,
                     [this] { disclosureButtonAction(); });
    return view;
}

bool KRPropertyEditorItemHeaderViewController::isOpen() const
{
    return m_disclosureButton->isChecked();
}

void KRPropertyEditorItemHeaderViewController::setOpen(bool open)
{
    m_disclosureButton->setChecked(open);
}

void KRPropertyEditorItemHeaderViewController::setHelpButtonIdentifier(const QString &identifier)
{
    // Only headers with help (the object's title) have the button.
    trackHelpButton(identifier, QPoint(248, 3), {m_label});
}

void KRPropertyEditorItemHeaderViewController::addObject(KRPropertyEditorItemViewController *row)
{
    row->setVisible(isOpen());
    m_children.append(row);
}

void KRPropertyEditorItemHeaderViewController::hideDisclosureButton()
{
    m_disclosureButton->hide();
    m_label->move(m_disclosureButton->x(), m_label->y());
}

void KRPropertyEditorItemHeaderViewController::disclosureButtonAction()
{
    const bool open = isOpen();
    for (KRPropertyEditorItemViewController *row : std::as_const(m_children))
        row->setVisible(open);
    if (delegate())
        delegate()->reloadTable();
}

QWidget *KRPropertyEditorItemHLineViewController::buildView()
{
    auto *view = new QWidget(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(9);
    auto *line = new QFrame(view);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, 3, 2000, 2);
    return view;
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
    m_label = new QLabel(view);
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

std::unique_ptr<KRBinding> KRPropertyEditorItemTypedViewController::bindLineEdit(QLineEdit *field)
{
    const std::weak_ptr<KRObject> weak = targetObject();
    const QString k = key();
    KRBinding::Model model;
    model.get = [weak, k] {
        const auto o = weak.lock();
        return QVariant(o ? o->value(k) : QString());
    };
    model.set = [this](const QVariant &value) { writeValue(value.toString()); };
    model.observe = [this](std::function<void()> changed) {
        return observeValue([changed = std::move(changed)](const QString &) { changed(); });
    };
    auto binding = std::make_unique<KRBinding>(field, model);
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
    const auto target = targetObject();
    guardFieldEdits(*binding, field, target ? target->kr_className() : QString(), m_propertyName);
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

// --- String

QWidget *KRPropertyEditorItemStringViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_textField = new QLineEdit(view);
    m_textField->setObjectName(QStringLiteral("textField"));
    // The stepper is made by setup() for numbers only; other text takes its room.
    m_textField->setGeometry(KRRowLabelWidth, 1, 134, 20);
    return view;
}

QWidget *KRPropertyEditorItemStringViewController::editControl() const
{
    return m_textField;
}

void KRPropertyEditorItemStringViewController::setup()
{
    if (m_propertyInfo.propertyType == KRPropertyInfo::Number) {
        m_textField->resize(120, m_textField->height());
        m_stepper = new KRStepper(view());
        m_stepper->move(KRRowLabelWidth + 122, 1);
        m_stepper->show();
        if (m_propertyInfo.precision)
            m_transformer.setPrecision(*m_propertyInfo.precision);
        if (m_propertyInfo.minValue)
            m_stepper->minimum = *m_propertyInfo.minValue;
        if (m_propertyInfo.maxValue)
            m_stepper->maximum = *m_propertyInfo.maxValue;
        if (m_propertyInfo.increment)
            m_stepper->increment = *m_propertyInfo.increment;
        m_stepper->stepped = [this](int direction) {
            const QVariant current = m_transformer.transformedValue(storedValue());
            // A percentage passes through as text: read its number.
            const std::optional<double> base =
                current.metaType().id() == QMetaType::QString
                    ? KRStepperValueTransformer::readNumber(current.toString().trimmed().chopped(1))
                    : (current.isValid() ? std::optional<double>(current.toDouble()) : std::nullopt);
            const double next = qBound(m_stepper->minimum, base.value_or(0.0) + direction * m_stepper->increment,
                                       m_stepper->maximum);
            writeValue(m_transformer.reverseTransformedValue(next));
        };
    }
    m_binding = bindLineEdit(m_textField);
}

// --- Colour

QWidget *KRPropertyEditorItemColorViewController::buildView()
{
    QWidget *view = makeRowView(20);
    view->setFixedHeight(48);
    m_defaultCheckbox = new QCheckBox(QObject::tr("Default"), view);
    m_defaultCheckbox->setGeometry(KRRowLabelWidth, 1, 100, 18);
    m_colorWell = new QToolButton(view);
    m_colorWell->setGeometry(KRRowLabelWidth, 23, 44, 20);
    QObject::connect(m_defaultCheckbox, &QCheckBox::clicked, m_defaultCheckbox,
                     [this](bool on) { setUseDefault(on); });
    QObject::connect(m_colorWell, &QToolButton::clicked, m_colorWell, [this] {
        KRColorPanel &panel = KRColorPanel::shared();
        panel.setColor(KRColorValueTransformer::transformedValue(storedValue()).value_or(Qt::black));
        panel.setTarget(m_colorWell, [this](const QColor &colour) { takeColor(colour); });
        panel.orderFront();
    });
    return view;
}

void KRPropertyEditorItemColorViewController::setup()
{
    setUseDefault(storedValue().isEmpty());
    m_observation = observeValue([this](const QString &now) {
        if (m_echoGuard)
            return;
        if (now.isEmpty() != m_useDefault)
            setUseDefault(now.isEmpty());
        showColour();
    });
}

void KRPropertyEditorItemColorViewController::showColour()
{
    m_defaultCheckbox->setChecked(m_useDefault);
    m_colorWell->setVisible(!m_useDefault);
    krRowSwatch(m_colorWell, KRColorValueTransformer::transformedValue(storedValue()));
}

void KRPropertyEditorItemColorViewController::setUseDefault(bool on)
{
    m_useDefault = on;
    showDefaultState(on, 48);
    m_echoGuard = true;
    const QString text = storedValue();
    if (on && !text.isEmpty())
        writeValue(QString(QLatin1String("")));
    if (!on && text.isEmpty())
        writeValue(m_propertyName.startsWith(QLatin1String("background")) ? QStringLiteral("#ffffff")
                                                                          : QStringLiteral("#000000"));
    m_echoGuard = false;
    showColour();
}

void KRPropertyEditorItemColorViewController::takeColor(const QColor &colour)
{
    writeValue(KRColorValueTransformer::reverseTransformedValue(colour));
}

// --- Enumerations

QWidget *KRPropertyEditorItemEnumViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_popupButton = new QComboBox(view);
    m_popupButton->setGeometry(KRRowLabelWidth, 1, 134, 20);
    // Only the user's choice writes: programmatic index changes never reach the model.
    QObject::connect(m_popupButton, &QComboBox::activated, m_popupButton, [this](int index) { chooseIndex(index); });
    return view;
}

QWidget *KRPropertyEditorItemEnumViewController::editControl() const
{
    return m_popupButton;
}

KREnumOptions KRPropertyEditorItemEnumViewController::enumerationContent() const
{
    return enumOptions(m_propertyInfo.enumOptions);
}

std::optional<QString> KRPropertyEditorItemEnumViewController::nullPlaceholder() const
{
    for (const KREnumOption &option : enumerationContent())
        if (option.value.isEmpty())
            return option.description;
    return std::nullopt;
}

void KRPropertyEditorItemEnumViewController::reloadContent()
{
    const KREnumOptions options = enumerationContent();
    m_vt.setValues(options);
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->clear();
    for (const KREnumOption &option : options)
        m_popupButton->addItem(option.description, option.value);
    showValue();
}

void KRPropertyEditorItemEnumViewController::showValue()
{
    const QSignalBlocker blocker(m_popupButton);
    const QString stored = storedValue();
    int index = m_popupButton->findData(stored);
    // A stored value that is no option is shown as it is, never replaced.
    const int extra = m_popupButton->findData(QStringLiteral("\x01unlisted"));
    if (extra >= 0)
        m_popupButton->removeItem(extra);
    if (index < 0 && !stored.isEmpty()) {
        m_popupButton->addItem(stored, QStringLiteral("\x01unlisted"));
        index = m_popupButton->count() - 1;
    }
    m_popupButton->setCurrentIndex(index);
}

void KRPropertyEditorItemEnumViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    const QString value = m_popupButton->itemData(index).toString();
    if (value == QLatin1String("\x01unlisted"))
        return;
    if (m_popupButton->currentIndex() != index) {
        const QSignalBlocker blocker(m_popupButton);
        m_popupButton->setCurrentIndex(index);
    }
    writeValue(value);
}

void KRPropertyEditorItemEnumViewController::setup()
{
    reloadContent();
    m_observation = observeValue([this](const QString &) { showValue(); });
}

QWidget *KRPropertyEditorItemEnumComboViewController::buildView()
{
    QWidget *view = KRPropertyEditorItemEnumViewController::buildView();
    m_popupButton->setEditable(true);
    m_popupButton->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(m_popupButton->lineEdit(), &QLineEdit::editingFinished, m_popupButton,
                     [this] { commitText(m_popupButton->currentText()); });
    return view;
}

void KRPropertyEditorItemEnumComboViewController::showValue()
{
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->setEditText(m_vt.transformedValue(storedValue()));
}

void KRPropertyEditorItemEnumComboViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    writeValue(m_popupButton->itemData(index).toString());
    showValue();
}

void KRPropertyEditorItemEnumComboViewController::commitText(const QString &text)
{
    writeValue(m_vt.reverseTransformedValue(text));
}

KREnumOptions KRPropertyEditorItemPageViewController::enumerationContent() const
{
    KREnumOptions options{{QString(QLatin1String("")), QString(QLatin1String(""))},
                          {QStringLiteral("(back)"), QStringLiteral("(back)")}};
    const auto target = targetObject();
    const auto project = target ? std::dynamic_pointer_cast<KRProject>(target->project()) : nullptr;
    if (project)
        for (const auto &page : project->sortedPages())
            options.append({page->kr_id(), page->kr_id()});
    return options;
}

void KRPropertyEditorItemPageViewController::setup()
{
    KRPropertyEditorItemEnumViewController::setup();
    const auto target = targetObject();
    const auto project = target ? std::dynamic_pointer_cast<KRProject>(target->project()) : nullptr;
    if (!project)
        return;
    auto &centre = KRNotificationCenter::defaultCenter();
    for (const QString &name : {KRProjectDidCreatePageNotification, KRProjectDidDeletePageNotification,
                                KRProjectDidRenamePageNotification})
        // The model itself moves page links to a renamed page's new id; the row only
        // refreshes its list.
        m_pageObservations.push_back(
            centre.addObserver(name, project->identity(), [this](const KRNotification &) { reloadContent(); }));
}

// --- Content

QWidget *KRPropertyEditorItemContentViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_textField = new QLineEdit(view);
    m_textField->setReadOnly(true);
    m_textField->setFocusPolicy(Qt::NoFocus);
    m_textField->setGeometry(KRRowLabelWidth, 1, 100, 20);
    m_editButton = new QToolButton(view);
    m_editButton->setText(QObject::tr("Edit…"));
    m_editButton->setGeometry(KRRowLabelWidth + 104, 1, 48, 20);
    QObject::connect(m_editButton, &QToolButton::clicked, m_editButton, [this] { editButtonAction(); });
    return view;
}

void KRPropertyEditorItemContentViewController::setup()
{
    const auto target = targetObject();
    if (krRowIsKindOf(target, "JQMListView") || krRowIsKindOf(target, "JQMBaseToolbar")) {
        m_textField->setText(QStringLiteral("(items)"));
        return;
    }
    m_textFieldBound = true;
    m_vt.functionMode = krRowIsKindOf(target, "KRFunction");
    showValue();
    m_observation = observeValue([this](const QString &) { showValue(); });
}

void KRPropertyEditorItemContentViewController::showValue()
{
    const auto target = targetObject();
    m_textField->setText(m_vt.transformedValue(target ? QVariant(storedValue()) : QVariant()));
}

bool KRPropertyEditorItemContentViewController::beginEditing()
{
    editButtonAction();
    return true;
}

void KRPropertyEditorItemContentViewController::editButtonAction()
{
    const auto target = targetObject();
    KRPropertyEditorViewController *inspector = delegate();
    if (!target || !inspector)
        return;
    if (krRowIsKindOf(target, "JQMListView"))
        inspector->editListViewItems(target);
    else if (krRowIsKindOf(target, "JQMBaseToolbar"))
        inspector->editNavbarItems(target, key());
    else if (const auto function = std::dynamic_pointer_cast<KRFunction>(target))
        inspector->editFunction(function);
    else
        inspector->editHTML(key());
}

// --- Boolean

QWidget *KRPropertyEditorItemBooleanViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_checkbox = new QCheckBox(view);
    m_checkbox->setGeometry(KRRowLabelWidth, 2, 20, 18);
    return view;
}

QWidget *KRPropertyEditorItemBooleanViewController::editControl() const
{
    return nullptr;
}

void KRPropertyEditorItemBooleanViewController::setup()
{
    const std::weak_ptr<KRObject> weak = targetObject();
    const QString k = key();
    KRBinding::Model model;
    model.get = [weak, k] {
        const auto o = weak.lock();
        return QVariant(o ? o->value(k) : QString());
    };
    model.set = [this](const QVariant &value) { writeValue(value.toString()); };
    model.observe = [this](std::function<void()> changed) {
        return observeValue([changed = std::move(changed)](const QString &) { changed(); });
    };
    m_binding = std::make_unique<KRBinding>(m_checkbox, model, QByteArrayLiteral("checked"));
    m_binding->setTransformer(
        [](const QVariant &value) -> std::optional<QVariant> {
            KRTrueFalseValueTransformer vt;
            vt.setUseTriState(false);
            return QVariant(vt.transformedValue(value) == 1);
        },
        [](const QVariant &value) -> std::optional<QVariant> {
            return KRTrueFalseValueTransformer().reverseTransformedValue(value.toBool() ? 1 : 0);
        });
}

// --- Event

QWidget *KRPropertyEditorItemEventViewController::buildView()
{
    QWidget *view = makeRowView(KRRowRowHeight);
    m_popupButton = new QComboBox(view);
    m_popupButton->setGeometry(KRRowLabelWidth, 1, 112, 20);
    m_button = new QToolButton(view);
    m_button->setText(QStringLiteral("→"));
    m_button->setToolTip(QObject::tr("Open or create the event handler"));
    m_button->setGeometry(KRRowLabelWidth + 116, 1, 22, 20);
    QObject::connect(m_popupButton, &QComboBox::activated, m_popupButton, [this](int index) { chooseIndex(index); });
    QObject::connect(m_button, &QToolButton::clicked, m_button, [this] { buttonAction(); });
    return view;
}

QWidget *KRPropertyEditorItemEventViewController::editControl() const
{
    return m_popupButton;
}

void KRPropertyEditorItemEventViewController::setup()
{
    rebuildMenu();
    m_observation = observeValue([this](const QString &) {
        if (!m_echoGuard)
            selectCurrent();
    });
    const auto target = targetObject();
    const auto page = target ? target->page() : nullptr;
    if (!page)
        return;
    auto &centre = KRNotificationCenter::defaultCenter();
    for (const QString &name : {KRPageDidDeleteObjectNotification, KRPageFunctionDidChangeIDNotification})
        m_pageObservations.push_back(
            centre.addObserver(name, page->identity(), [this](const KRNotification &) { rebuildMenu(); }));
    m_pageObservations.push_back(page->observable().observe(
        QStringLiteral("allObjects"),
        [this](const void *, const QString &, const QVariant &, const QVariant &) { rebuildMenu(); }));
}

void KRPropertyEditorItemEventViewController::rebuildMenu()
{
    const QSignalBlocker blocker(m_popupButton);
    m_popupButton->clear();
    m_popupButton->addItem(QObject::tr("No Event Handler"), QString(QLatin1String("")));
    m_popupButton->insertSeparator(1);
    const auto target = targetObject();
    const auto page = target ? std::dynamic_pointer_cast<KRPage>(target->page()) : nullptr;
    if (page) {
        for (const auto &object : page->allObjects()) {
            const auto function = std::dynamic_pointer_cast<KRFunction>(object);
            if (!function)
                continue;
            const bool server = function->value(QStringLiteral("kr_serverFunction")) == QLatin1String("Yes");
            if (server == m_propertyInfo.serverFunction)
                m_popupButton->addItem(function->kr_id(), function->kr_id());
        }
    }
    selectCurrent();
}

void KRPropertyEditorItemEventViewController::selectCurrent()
{
    const QString stored = storedValue();
    const QSignalBlocker blocker(m_popupButton);
    const int foreign = m_popupButton->findData(QStringLiteral("\x01foreign"));
    if (foreign >= 0)
        m_popupButton->removeItem(foreign);
    if (stored.isEmpty()) {
        m_popupButton->setCurrentIndex(0);
        return;
    }
    if (const int index = m_popupButton->findData(stored); index >= 0) {
        m_popupButton->setCurrentIndex(index);
        return;
    }
    const auto target = targetObject();
    const auto page = target ? target->page() : nullptr;
    if (page && std::dynamic_pointer_cast<KRFunction>(page->objectForID(stored))) {
        // A function of the other kind (server or client): shown as it is, never rewritten.
        m_popupButton->addItem(stored, QStringLiteral("\x01foreign"));
        m_popupButton->setCurrentIndex(m_popupButton->count() - 1);
        return;
    }
    // The id names no function: the entry "Invalid function" stays for the row's life, and
    // the dangling id is cleared.
    if (!m_invalidEntry) {
        m_popupButton->insertItem(1, QObject::tr("Invalid function"), QStringLiteral("\x01invalid"));
        m_invalidEntry = true;
    }
    m_popupButton->setCurrentIndex(m_popupButton->findData(QStringLiteral("\x01invalid")));
    m_echoGuard = true;
    writeValue(QString(QLatin1String("")));
    m_echoGuard = false;
}

void KRPropertyEditorItemEventViewController::chooseIndex(int index)
{
    if (index < 0 || index >= m_popupButton->count())
        return;
    QString value = m_popupButton->itemData(index).toString();
    if (value == QLatin1String("\x01foreign"))
        return;
    if (value == QLatin1String("\x01invalid"))
        value = QString(QLatin1String(""));
    m_echoGuard = true;
    writeValue(value);
    m_echoGuard = false;
    if (value.isEmpty() && index != 0) {
        const QSignalBlocker blocker(m_popupButton);
        m_popupButton->setCurrentIndex(index);
        return;
    }
    selectCurrent();
}

bool KRPropertyEditorItemEventViewController::beginEditing()
{
    buttonAction();
    return true;
}

void KRPropertyEditorItemEventViewController::buttonAction()
{
    const auto target = targetObject();
    if (!target)
        return;
    const QString handler = storedValue();
    std::shared_ptr<KRFunction> function;
    if (handler.isEmpty()) {
        function = target->createEventHandlerForProperty(m_propertyName);
        rebuildMenu();
    } else if (const auto page = target->page()) {
        function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(handler));
    }
    if (function && delegate())
        delegate()->editFunction(function);
}

// --- Text shadow

QWidget *KRPropertyEditorItemTextShadowViewController::buildView()
{
    QWidget *view = makeRowView(20);
    view->setFixedHeight(128);
    m_defaultCheckbox = new QCheckBox(QObject::tr("Default"), view);
    m_defaultCheckbox->setGeometry(KRRowLabelWidth, 1, 100, 18);
    QObject::connect(m_defaultCheckbox, &QCheckBox::clicked, m_defaultCheckbox,
                     [this](bool on) { setUseDefault(on); });
    return view;
}

// The colour and the three numbers, made once the row has a shadow to show: most rows keep
// the default, and their closed row would only carry them hidden below its edge.
void KRPropertyEditorItemTextShadowViewController::makeShadowControls()
{
    QWidget *row = view();
    if (m_colorWell || !row)
        return;
    m_colorWell = new QToolButton(row);
    m_colorWell->setGeometry(KRRowLabelWidth, 24, 44, 20);
    m_colorWell->show();
    const QStringList names{QObject::tr("x offset"), QObject::tr("y offset"), QObject::tr("blur")};
    QSpinBox **boxes[] = {&m_x, &m_y, &m_blur};
    for (int i = 0; i < 3; ++i) {
        auto *caption = new QLabel(names[i], row);
        QFont font = caption->font();
        font.setPixelSize(11);
        caption->setFont(font);
        caption->setGeometry(22, 50 + i * 25, KRRowLabelWidth - 24, 18);
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caption->show();
        auto *box = new QSpinBox(row);
        box->setRange(-999, 999);
        box->setSuffix(QStringLiteral("px"));
        box->setGeometry(KRRowLabelWidth, 48 + i * 25, 80, 22);
        box->show();
        QObject::connect(box, &QSpinBox::valueChanged, box, [this] { userChangedShadow(); });
        *boxes[i] = box;
    }
    // Made later than the rows after it, they still come right after the checkbox for Tab.
    QWidget::setTabOrder(m_defaultCheckbox, m_colorWell);
    QWidget::setTabOrder(m_colorWell, m_x);
    QWidget::setTabOrder(m_x, m_y);
    QWidget::setTabOrder(m_y, m_blur);
    QObject::connect(m_colorWell, &QToolButton::clicked, m_colorWell, [this] {
        if (!m_textShadow)
            return;
        KRColorPanel &panel = KRColorPanel::shared();
        panel.setColor(KRColorValueTransformer::transformedValue(m_textShadow->color).value_or(Qt::black));
        panel.setTarget(m_colorWell, [this](const QColor &colour) {
            if (!m_textShadow)
                return;
            KRTextShadow shadow = *m_textShadow;
            shadow.color = KRColorValueTransformer::reverseTransformedValue(colour);
            setTextShadow(shadow);
        });
        panel.orderFront();
    });
}

void KRPropertyEditorItemTextShadowViewController::setup()
{
    const QString text = storedValue();
    setUseDefault(text.isEmpty());
    if (!text.isEmpty()) {
        m_textShadow = KRTextShadow::fromString(text);
        showShadow();
    }
    // Undo and other editors: read the text again, so the next edit starts from it.
    m_observation = observeValue([this](const QString &now) {
        if (m_echoGuard)
            return;
        if (now.isEmpty() != m_useDefault)
            setUseDefault(now.isEmpty());
        if (!now.isEmpty()) {
            m_textShadow = KRTextShadow::fromString(now);
            showShadow();
        }
    });
}

void KRPropertyEditorItemTextShadowViewController::showShadow()
{
    m_showing = true;
    m_defaultCheckbox->setChecked(m_useDefault);
    if (m_textShadow)
        makeShadowControls();
    if (m_colorWell) { // none until a shadow was set; off while the row is back at the default
        for (QWidget *w : {static_cast<QWidget *>(m_colorWell), static_cast<QWidget *>(m_x),
                           static_cast<QWidget *>(m_y), static_cast<QWidget *>(m_blur)})
            w->setEnabled(bool(m_textShadow));
        if (m_textShadow) {
            m_x->setValue(m_textShadow->x);
            m_y->setValue(m_textShadow->y);
            m_blur->setValue(m_textShadow->blur);
            krRowSwatch(m_colorWell, KRColorValueTransformer::transformedValue(m_textShadow->color));
        }
    }
    m_showing = false;
}

void KRPropertyEditorItemTextShadowViewController::userChangedShadow()
{
    if (m_showing || !m_textShadow)
        return;
    KRTextShadow shadow = *m_textShadow;
    shadow.x = m_x->value();
    shadow.y = m_y->value();
    shadow.blur = m_blur->value();
    setTextShadow(shadow);
}

void KRPropertyEditorItemTextShadowViewController::setTextShadow(const std::optional<KRTextShadow> &shadow)
{
    m_textShadow = shadow;
    showShadow();
    const bool wasGuarded = std::exchange(m_echoGuard, true);
    writeValue(shadow ? shadow->stringValue() : QString(QLatin1String("")));
    m_echoGuard = wasGuarded;
}

void KRPropertyEditorItemTextShadowViewController::setUseDefault(bool on)
{
    m_useDefault = on;
    showDefaultState(on, 128);
    m_echoGuard = true;
    const QString text = storedValue();
    if (on && !text.isEmpty())
        setTextShadow(std::nullopt);
    else if (!on && text.isEmpty())
        setTextShadow(KRTextShadow::fromString(QStringLiteral("#aaaaaa 2px 2px 2px")));
    m_echoGuard = false;
    showShadow();
}

// --- Multi-line text

KRPropertyEditorItemMultilineStringViewController::~KRPropertyEditorItemMultilineStringViewController()
{
    QObject::disconnect(m_focusConnection);
}

QWidget *KRPropertyEditorItemMultilineStringViewController::buildView()
{
    QWidget *view = makeRowView(26);
    m_textView = new QPlainTextEdit(view);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textView->setTabChangesFocus(true);
    m_textView->setGeometry(KRRowLabelWidth, 2, 134, 22);
    return view;
}

QWidget *KRPropertyEditorItemMultilineStringViewController::editControl() const
{
    return m_textView;
}

void KRPropertyEditorItemMultilineStringViewController::showText()
{
    if (m_textView->toPlainText() != storedValue())
        m_textView->setPlainText(storedValue());
}

void KRPropertyEditorItemMultilineStringViewController::setup()
{
    showText();
    m_observation = observeValue([this](const QString &) {
        if (!m_open)
            showText();
    });
    m_focusConnection = QObject::connect(qApp, &QApplication::focusChanged, m_textView, [this](QWidget *, QWidget *now) {
        const bool inside = now == m_textView;
        if (inside == m_open)
            return;
        m_open = inside;
        if (!inside) {
            writeValue(m_textView->toPlainText());
            m_textView->verticalScrollBar()->setValue(0);
            m_textView->horizontalScrollBar()->setValue(0);
        }
        setViewHeight(inside ? 125 : 26);
        m_textView->resize(m_textView->width(), inside ? 121 : 22);
        notifySizeChanged();
    });
}

// --- Multi-line table

namespace {

// Reorders its own rows only; drops from any other table are refused.
class KRMLTableListWidget : public QListWidget
{
public:
    std::function<void(int from, int to)> moved;

protected:
    void dragEnterEvent(QDragEnterEvent *event) override
    {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragEnterEvent(event);
    }
    void dragMoveEvent(QDragMoveEvent *event) override
    {
        if (event->source() != this) {
            event->ignore();
            return;
        }
        QListWidget::dragMoveEvent(event);
    }
    void dropEvent(QDropEvent *event) override
    {
        if (event->source() != this || selectedItems().isEmpty()) {
            event->ignore();
            return;
        }
        const QListWidgetItem *target = itemAt(event->position().toPoint());
        int dropRow = target ? row(target) : count();
        if (target && event->position().toPoint().y() > visualItemRect(target).center().y())
            ++dropRow;
        const int from = row(selectedItems().first());
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
        if (moved)
            moved(from, dropRow);
    }
};

} // namespace

QWidget *KRPropertyEditorItemMLTableViewController::buildView()
{
    QWidget *view = makeRowView(67);
    auto *table = new KRMLTableListWidget;
    table->setParent(view);
    m_table = table;
    m_table->setGeometry(KRRowLabelWidth, 2, 134, 44);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setDragDropMode(QAbstractItemView::InternalMove);
    m_table->setDefaultDropAction(Qt::MoveAction);
    table->moved = [this](int from, int to) { moveRow(from, to); };
    auto *add = new QToolButton(view);
    add->setText(QStringLiteral("+"));
    add->setObjectName(QStringLiteral("addButton"));
    add->setGeometry(KRRowLabelWidth, 47, 20, 18);
    auto *remove = new QToolButton(view);
    remove->setText(QStringLiteral("−"));
    remove->setObjectName(QStringLiteral("removeButton"));
    remove->setGeometry(KRRowLabelWidth + 20, 47, 20, 18);
    QObject::connect(add, &QToolButton::clicked, add, [this] { addRow(); });
    QObject::connect(remove, &QToolButton::clicked, remove, [this] { removeRow(); });
    QObject::connect(m_table, &QListWidget::itemChanged, m_table, [this](QListWidgetItem *item) {
        if (!m_reloading)
            setLine(m_table->row(item), item->text());
    });
    return view;
}

QWidget *KRPropertyEditorItemMLTableViewController::editControl() const
{
    return m_table;
}

KRPropertyEditorItemMLTableViewController::~KRPropertyEditorItemMLTableViewController()
{
    // The view goes later, with the base: focus changes while it goes must not reach here.
    QObject::disconnect(m_focusConnection);
}

void KRPropertyEditorItemMLTableViewController::setup()
{
    // The row grows while the keyboard focus is inside the table (a cell editor included).
    m_focusConnection = QObject::connect(qApp, &QApplication::focusChanged, m_table, [this](QWidget *, QWidget *now) {
        const bool inside = now && (now == m_table || m_table->isAncestorOf(now));
        if (inside == m_open)
            return;
        m_open = inside;
        setViewHeight(inside ? 150 : 67);
        m_table->resize(m_table->width(), inside ? 127 : 44);
        for (auto *button : view()->findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly))
            if (!button->objectName().startsWith(QLatin1String("helpButton_")))
                button->move(button->x(), inside ? 130 : 47);
        notifySizeChanged();
    });
    readLines();
    m_observation = observeValue([this](const QString &) {
        if (!m_reloading)
            readLines();
    });
}

void KRPropertyEditorItemMLTableViewController::readLines()
{
    const QString text = storedValue();
    m_lines = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::reloadTable()
{
    m_reloading = true;
    m_table->clear();
    for (const QString &line : std::as_const(m_lines)) {
        auto *item = new QListWidgetItem(line, m_table);
        item->setFlags(item->flags() | Qt::ItemIsEditable | Qt::ItemIsDragEnabled);
    }
    m_reloading = false;
}

void KRPropertyEditorItemMLTableViewController::updateModel()
{
    m_reloading = true;
    writeValue(m_lines.join(QLatin1Char('\n')));
    m_reloading = false;
}

void KRPropertyEditorItemMLTableViewController::addRow()
{
    m_lines.append(QObject::tr("(new)"));
    updateModel();
    reloadTable();
    m_table->setCurrentRow(int(m_lines.size()) - 1);
    m_table->editItem(m_table->item(int(m_lines.size()) - 1));
}

void KRPropertyEditorItemMLTableViewController::removeRow()
{
    int lowest = -1;
    for (const QListWidgetItem *item : m_table->selectedItems())
        lowest = lowest < 0 ? m_table->row(item) : qMin(lowest, m_table->row(item));
    if (lowest < 0 || lowest >= m_lines.size())
        return;
    m_lines.removeAt(lowest);
    updateModel();
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::moveRow(int from, int dropRow)
{
    if (from < 0 || from >= m_lines.size() || dropRow < 0 || dropRow > m_lines.size())
        return;
    const QString line = m_lines.takeAt(from);
    m_lines.insert(dropRow > from ? dropRow - 1 : dropRow, line);
    updateModel();
    reloadTable();
}

void KRPropertyEditorItemMLTableViewController::setLine(int row, const QString &text)
{
    if (row < 0 || row >= m_lines.size())
        return;
    m_lines[row] = text;
    updateModel();
}

#pragma once

#include <model/KRObject.h>
#include <model/KRObjectClass.h>
#include <platform/foundation/KRObservationToken.h>

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class DOMElement;
class KRLayoutSource;
class KRPage;

// The base of every visible page object: position and size, the CSS style properties, a lock
// flag, the touch and click events, its element in the page's design document, dragging with
// one undo step, and growth to fit its content.
//
// Building the element runs level by level down the class chain (buildElement): each class
// first lets its superclass build, then makes the DOM changes that must precede its own
// adapters, then enables the adapters of its own table.
class KRControl : public KRObject
{
public:
    explicit KRControl(const KRObjectInit &init);
    ~KRControl() override;

    static KRObjectClass objectClass();

    // The tag name of the control's element; every instantiable visual class names one.
    // Raises "InvalidMethodException" when a class forgets to.
    virtual QString domElementName() const;

    void initializeDefaultProperties() override;
    void setValue(const QString &key, const QString &value) override;
    QList<KRMenuItem> contextMenuItemsForObject() override;
    void checkSize() override;

    // --- Design-surface hooks
    // Whether the design surface lets the user move and resize the control.
    virtual bool canDrag() const;
    void dragStarted();
    void dragEnded();
    // The height in pixels: kr_height when positive, else the rendered height.
    int controlHeight() const;
    virtual std::shared_ptr<DOMElement> designViewSelectionElement() const { return domElement(); }

    std::shared_ptr<KRPage> designPage() const;

    // Where rendered sizes come from: the GUI installs one that answers from the live view of
    // a page; headless there is none (sizes read as 0) unless a test installs a fake.
    using LayoutSourceProvider = std::function<const KRLayoutSource *(const KRPage *page)>;
    static void setLayoutSourceProvider(LayoutSourceProvider provider);
    const KRLayoutSource *layoutSource() const;

protected:
    void willEnableModelAdapters() override;
    // Builds the element for this class level; overriders call the superclass's first.
    virtual void buildElement();
    // Enables the adapters of the named class's own descriptor table.
    void enableOwnAdapters(const QString &className);
    // Appends the element as the last child of its parent's element.
    void appendToParentElement();
    std::shared_ptr<DOMElement> parentDomElement() const;
    // The id of the owning page; empty without one.
    QString pageID() const;
    // Adds the design-mode styles that keep a content element from being selected.
    void setNoSelectStyles();
    // For a control whose text jQuery Mobile draws with elements of its own inside the
    // control's element: names on that element the text properties the control sets (the
    // attribute is there also while none is), so that the page's rules let those elements
    // show them (KRPage::widgetTextAttribute), and in design mode follows their changes. The
    // tokens keep the observations alive.
    void followTextStyle(std::vector<KRObservationToken> &tokens);
    // Calls `rebuild` once on the next pass of the event loop after changes of the keys (an
    // empty key: every key), however many came before that pass; a change while `skip` answers
    // true schedules nothing. The tokens keep the observations alive.
    void observeForRebuild(std::vector<KRObservationToken> &tokens, const QStringList &keys,
                           std::function<void(KRControl &)> rebuild, std::function<bool()> skip = {});

private:
    QString m_oldTop, m_oldLeft, m_oldWidth, m_oldHeight;
};

// The base of form elements: a name, a disabled flag and a change event.
class KRFormControl : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QString(); }
    QList<KRMenuItem> contextMenuItemsForObject() override;

protected:
    void buildElement() override;
};

// Shorthand for descriptor tables.
inline KRPropertyDescriptor krDescriptor(const char *name, const char *html, const char *css, std::uint32_t options)
{
    return KRPropertyDescriptor(QString::fromLatin1(name), html ? QString::fromLatin1(html) : QString(),
                                css ? QString::fromLatin1(css) : QString(), options);
}

inline KRPropertyDescriptor krEventDescriptor(const char *name)
{
    return krDescriptor(name, nullptr, nullptr, KRAdapterOptionEvent | KRAdapterOptionFunctionReference);
}

// The JavaScript string literal of the jQuery selector "#<id>" for design-view scripts: the
// plain single-quoted form for a valid identifier (all object ids are), else fully escaped.
// The descendant part, when given, follows the id after a space ("#<id> li").
QString krSelectorLiteral(const QString &elementID, const QString &descendants = QString());

// Registers a class; a failure is a programming error.
void krRegisterControlClass(KRObjectClass objectClass);

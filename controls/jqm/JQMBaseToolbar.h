#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

#include <QString>

#include <nlohmann/json.hpp>

#include <vector>

struct KRNotification;

// Item lists kept as JSON text (navigation bars, list views): an array of objects, one per
// row, with string, number and boolean values.
namespace JQMItemList {

using Items = nlohmann::ordered_json;

// The array held by the text; an empty array for empty, unparsable or non-array text.
Items parse(const QString &text);
// Compact JSON (UTF-8; broken text is replaced, never thrown on).
QString serialize(const Items &items);
// The truth value of a number or boolean; false for anything else.
bool truthValue(const Items &value);
// The string under the key; "" when missing or not a string.
QString stringValue(const Items &item, const char *key);
// The run-time literal: the opening text, the items (objects only) and "]}". Strings become
// escaped JavaScript literals, an "onClick" becomes a reference to the page's event function
// when page id and function id are identifiers (else the pair is left out), empty strings
// and other value types are left out. With dividersReduced, a divider row carries only its
// "divider", "label" and "theme".
QString initializer(const Items &items, const QString &opening, const QString &pageID, bool dividersReduced);
// Drops every "onClick" equal to the function id; true when an item changed.
bool removeFunctionReferences(Items &items, const QString &functionID);
// Changes every "onClick" equal to the old id; true when an item changed.
bool renameFunctionReferences(Items &items, const QString &oldID, const QString &newID);
// Keeps the "onClick" references of the items under the object's key in step with the deletions
// and id changes of the functions on the page (each store goes through setValue, with undo).
void followFunctionReferences(const std::shared_ptr<KRObject> &object, const KRPageBase &page, const QString &key,
                              std::vector<KRObservationToken> &tokens);
// Puts a bar or list element into the page's div: the parent itself when it is that div, else
// the first div below the parent with data-role "page", else the parent.
void appendToPageElement(const std::shared_ptr<DOMElement> &parent, const std::shared_ptr<DOMElement> &element);

} // namespace JQMItemList

// The base of the header and footer toolbars: a jQuery Mobile bar with a title, up to two
// buttons and an optional navigation bar. It has no position or size, sits at the end of the
// page element, and rebuilds its inner markup on every change of a property it shows.
class JQMBaseToolbar : public KRFormControl
{
public:
    explicit JQMBaseToolbar(const KRObjectInit &init);
    ~JQMBaseToolbar() override;

    static KRObjectClass objectClass();

    // The bar's data-role: "header", "footer" or "??" for the base.
    virtual QString tbType() const { return QStringLiteral("??"); }
    QString defaultProperty() const override { return QStringLiteral("title"); }
    QString domElementName() const override { return QStringLiteral("div"); }

    void initializeDefaultProperties() override;
    QString jsInitializerForKey(const QString &key) const override;
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;
    void checkSize() override {}
    // A bar keeps its place at the top or bottom of the page.
    bool canDrag() const override { return false; }
    QList<KRMenuItem> contextMenuItemsForObject() override;
    std::shared_ptr<DOMElement> designViewSelectionElement() const override { return m_div; }

    JQMItemList::Items navbarItems() const;
    // Stores the items as compact JSON with undo.
    void setNavbarItems(const JQMItemList::Items &items);

    void createChildren();
    void appendNavbar();

protected:
    void buildElement() override;

private:
    void observeInDesignMode();
    bool isFooter() const { return tbType() == QLatin1String("footer"); }
    bool isHeader() const { return tbType() == QLatin1String("header"); }

    std::shared_ptr<DOMElement> m_div;
    std::vector<KRObservationToken> m_tokens;
};

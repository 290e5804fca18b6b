#pragma once

#include <controls/jqm/JQMBaseToolbar.h>
#include <platform/foundation/KRObservationToken.h>

#include <vector>

// A jQuery Mobile list whose rows (items and dividers) are kept as JSON text in kr_items and
// rebuilt into the list markup on every change. Keeps its position and size on the page; a new
// one stands where it was dropped.
class JQMListView : public KRFormControl
{
public:
    explicit JQMListView(const KRObjectInit &init);
    ~JQMListView() override;

    static KRObjectClass objectClass();

    QString defaultProperty() const override { return QStringLiteral("items"); }
    QString domElementName() const override { return QStringLiteral("div"); }

    void initializeDefaultProperties() override;
    QString jsInitializerForKey(const QString &key) const override;
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;
    void checkSize() override {}

    // The rows; an empty array when kr_items is empty or no JSON array.
    JQMItemList::Items items() const;
    // Stores the rows as compact JSON with undo.
    void setItems(const JQMItemList::Items &items);

    void createChildren();

protected:
    void buildElement() override;

private:
    void observeInDesignMode();

    std::vector<KRObservationToken> m_tokens;
};

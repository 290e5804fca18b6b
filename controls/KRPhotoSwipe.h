#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

#include <vector>

// A photo gallery over PhotoSwipe. The design view shows a placeholder; the built page holds
// an empty element that the runtime script fills from the image list and the options.
class KRPhotoSwipe : public KRControl
{
public:
    explicit KRPhotoSwipe(const KRObjectInit &init);
    ~KRPhotoSwipe() override;

    static KRObjectClass objectClass();

    // A double click edits the image list.
    QString defaultProperty() const override { return QStringLiteral("images"); }
    QString domElementName() const override { return QStringLiteral("div"); }
    void initializeDefaultProperties() override;
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;
    // "kr_images": a JSON array of {"url", "caption"} in line order.
    QString jsInitializerForKey(const QString &key) const override;

    void createChildren();
    // The placeholder icon's side in pixels: half the smaller of width and height.
    int placeholderIconSize() const;

protected:
    void buildElement() override;

private:
    std::vector<KRObservationToken> m_tokens;
};

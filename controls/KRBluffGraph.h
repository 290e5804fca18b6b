#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

#include <functional>
#include <vector>

// A chart drawn on a canvas by the Bluff chart script. The built page holds only the wrapper
// and its canvas; the runtime script draws the chart from the initialisers. In design mode a
// sample chart is drawn, and redrawn after property changes (not while a drag is running).
class KRBluffGraph : public KRControl
{
public:
    explicit KRBluffGraph(const KRObjectInit &init);
    ~KRBluffGraph() override;

    static KRObjectClass objectClass();

    QString defaultProperty() const override { return QStringLiteral("title"); }
    QString domElementName() const override { return QStringLiteral("div"); }
    void initializeDefaultProperties() override;
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;

    void createChildren();
    // The design-view script drawing the sample chart (title, type and theme made safe).
    QString designScript() const;

    // Whether the project window is dragging objects; the GUI installs it (headless: never).
    static void setDraggingProvider(std::function<bool()> provider);

protected:
    void buildElement() override;

private:
    QString canvasID() const;

    std::vector<KRObservationToken> m_tokens;
};

#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

// A table element. In design mode it draws empty bordered cells for its row and column counts
// and redraws on every change of its properties; the built page gets the empty element and the
// counts as initialisers (the runtime makes the cells).
class KRTable : public KRControl
{
public:
    using KRControl::KRControl;
    static KRObjectClass objectClass();
    QString domElementName() const override { return QStringLiteral("table"); }
    void initializeDefaultProperties() override;
    void designModeDraw();

protected:
    void buildElement() override;

private:
    KRObservationToken m_selfObservation;
};

#pragma once

#include "KRPropertyEditorItemEnumViewController.h"

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

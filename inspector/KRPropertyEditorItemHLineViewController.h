#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemHLineViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemHLine"); }
    QString kindName() const override { return QStringLiteral("HLine"); }
    QWidget *buildView() override;
};

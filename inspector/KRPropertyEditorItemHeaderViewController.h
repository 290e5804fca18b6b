#pragma once

#include "KRPropertyEditorItemViewController.h"

class KRPropertyEditorItemHeaderViewController : public KRPropertyEditorItemViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemHeader"); }
    QString kindName() const override { return QStringLiteral("Header"); }
    QWidget *buildView() override;

    QLabel *label() const { return m_label; }
    QToolButton *disclosureButton() const { return m_disclosureButton; }
    bool isOpen() const;
    void setOpen(bool open);
    QList<KRPropertyEditorItemViewController *> childViewControllers() const { return m_children; }
    void setHelpButtonIdentifier(const QString &identifier);
    void addObject(KRPropertyEditorItemViewController *row);
    void hideDisclosureButton();
    void disclosureButtonAction();

private:
    friend class KRPropertyEditorItemViewController;
    QLabel *m_label = nullptr;
    QToolButton *m_disclosureButton = nullptr;
    QList<KRPropertyEditorItemViewController *> m_children;
};

#pragma once

#include "KRPropertyEditorItemViewController.h"

// Handler of one event: none, one of the page's functions, or a new one made on request.
class KRPropertyEditorItemEventViewController : public KRPropertyEditorItemTypedViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemEvent"); }
    QString kindName() const override { return QStringLiteral("Event"); }
    QWidget *buildView() override;
    QComboBox *popupButton() const { return m_popupButton; }
    QToolButton *actionButton() const { return m_button; }
    // Opens the chosen handler or, with none, makes one and opens it.
    void buttonAction();
    void chooseIndex(int index);
    void rebuildMenu();

protected:
    void setup() override;
    QWidget *editControl() const override;
    bool beginEditing() override;

private:
    void selectCurrent();
    bool namesFunction(const QString &id) const;
    QComboBox *m_popupButton = nullptr;
    QToolButton *m_button = nullptr;
    bool m_echoGuard = false;
    KRObservationToken m_observation;
    std::vector<KRObservationToken> m_pageObservations;
};

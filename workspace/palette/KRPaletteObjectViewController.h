#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QToolButton>

#include <memory>

class KRHelpButtonController;
class QWidget;

// One row of the object palette: the class it creates with the catalogue's icon, description and
// help, and the row's help button. The list draws the row; the row's view lies over it without
// taking the mouse, so clicks and drags reach the list. The help button sits on the row's right
// end, fades in while the pointer is over the row and, when clicked, shows the class's help in a
// pop-over on the row's right side. Nothing of the help's web page exists before that click.
class KRPaletteObjectViewController : public QObject
{
    Q_OBJECT

public:
    static constexpr int HelpButtonSize = 16;
    static constexpr int HelpButtonRightMargin = 6;

    // viewport: the widget the list draws its rows in; the row's view and button live there.
    explicit KRPaletteObjectViewController(QWidget *viewport, QObject *parent = nullptr);
    ~KRPaletteObjectViewController() override;

    QString krClassName() const { return m_className; }
    // Takes the icon, description and help of the class from the catalogue.
    void setKrClassName(const QString &className);
    QImage objectIcon() const { return m_objectIcon; }
    QString objectDescription() const { return m_objectDescription; }
    QString objectHelpHTML() const { return m_objectHelpHTML; }

    QWidget *view() const { return m_view; }
    QToolButton *helpButton() const { return m_helpButton; }
    KRHelpButtonController *helpButtonController() const { return m_helpButtonController.get(); }

    bool isCompact() const { return m_compactMode; }
    // Moves the help button to where a compact (28-point) or normal (40-point) row keeps it.
    void setCompactMode(bool compact);

    // The pointer moved over the list's viewport (outside: it left the viewport).
    void pointerMoved(const QPoint &viewportPos, bool overViewport = true);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeHelpButton();

    QString m_className;
    QImage m_objectIcon;
    QString m_objectDescription;
    QString m_objectHelpHTML;
    QPointer<QWidget> m_view;
    QPointer<QToolButton> m_helpButton;
    std::unique_ptr<KRHelpButtonController> m_helpButtonController;
    bool m_compactMode = false;
};

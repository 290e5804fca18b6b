#pragma once

#include <platform/appkit/KRPanelTarget.h>

#include <QColor>
#include <QRect>
#include <QWidget>

#include <functional>

class QColorDialog;
class QListWidget;

// The application's one colour panel: a non-modal colour chooser with the "HTML Colors" list
// of named web colours beside it. Whoever edits a colour makes itself the target; the target
// receives every colour the user picks until another target takes over or it is destroyed.
class KRColorPanel : public QWidget
{
    Q_OBJECT

public:
    static KRColorPanel &shared();

    // The named web colours, in the order the list shows them.
    static QStringList htmlColorNames();
    static QColor htmlColor(const QString &name);

    // The owner guards the callback: once it is destroyed the callback is never called, and the
    // panel, which then has nothing to edit (its window went), hides.
    void setTarget(QObject *owner, std::function<void(const QColor &)> callback);
    void clearTarget();
    bool hasTarget() const { return m_target.isSet(); }

    // Shows a colour without reporting it to the target.
    void setColor(const QColor &color);
    QColor color() const;

    // Shows the panel and brings it to the front.
    void orderFront();

    // The part of the screen the panel leaves in view when it opens for a window (the things
    // being coloured), asked of the window that opens it; an empty rectangle: none.
    using KeptVisibleArea = std::function<QRect(const QWidget *window)>;
    static void setKeptVisibleArea(KeptVisibleArea area);

    QColorDialog *colorDialog() const { return m_dialog; }
    QListWidget *htmlColorList() const { return m_list; }

signals:
    // The user picked a colour (never sent for setColor).
    void colorPicked(const QColor &color);

private:
    explicit KRColorPanel(QWidget *parent = nullptr);
    void report(const QColor &color);

    QColorDialog *m_dialog = nullptr; // children of the panel
    QListWidget *m_list = nullptr;
    KRPanelTarget<QColor> m_target;
    QMetaObject::Connection m_targetGone;
};

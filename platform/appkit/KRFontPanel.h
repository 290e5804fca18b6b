#pragma once

#include <QFont>
#include <QPointer>
#include <QObject>

#include <functional>

class QFontDialog;

// The application's one font panel: a non-modal font chooser. Like the colour panel, the
// current target receives every font the user picks until another takes over or its owner is
// destroyed.
class KRFontPanel : public QObject
{
    Q_OBJECT

public:
    static KRFontPanel &shared();

    void setTarget(QObject *owner, std::function<void(const QFont &)> callback);
    void clearTarget();
    bool hasTarget() const { return m_owner && m_callback; }

    // Shows a font without reporting it to the target.
    void setPanelFont(const QFont &font);
    QFont panelFont() const;

    void orderFront();
    QFontDialog *fontDialog() const { return m_dialog; }

signals:
    void fontPicked(const QFont &font);

private:
    KRFontPanel();
    ~KRFontPanel() override;
    friend void deleteSharedFontPanel();

    QFontDialog *m_dialog = nullptr;
    QPointer<QObject> m_owner;
    std::function<void(const QFont &)> m_callback;
    bool m_settingFont = false;
};

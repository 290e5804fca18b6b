#pragma once

#include <platform/appkit/KRPanelTarget.h>

#include <QFont>
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

    void setTarget(QObject *owner, std::function<void(const QFont &)> callback) { m_target.set(owner, std::move(callback)); }
    void clearTarget() { m_target.clear(); }
    bool hasTarget() const { return m_target.isSet(); }

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
    KRPanelTarget<QFont> m_target;
};

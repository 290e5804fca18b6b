#pragma once

#include <platform/foundation/KRAlertService.h>

#include <QList>
#include <QString>

#include <deque>
#include <variant>

// An alert service for tests: answers with scripted codes or button titles in order and
// records every alert it was asked to show. With nothing scripted it answers with the first
// button (1000).
class KRScriptedAlertService : public KRAlertService
{
public:
    // The next answer: a code (1000 + button index).
    void scriptAnswer(int code);
    // The next answer: the button with this title (the alert must have it).
    void scriptButton(const QString &title);
    // The state the next alert with a suppression check box reports (unticked when nothing
    // is scripted).
    void scriptSuppressionChecked(bool checked);

    int runModal(const KRAlert &alert) override;

    const QList<KRAlert> &shownAlerts() const { return m_shown; }
    // The codes returned so far, in order.
    const QList<int> &answers() const { return m_answers; }
    int pendingAnswerCount() const { return static_cast<int>(m_script.size()); }
    void clear();

private:
    std::deque<std::variant<int, QString>> m_script;
    std::deque<bool> m_suppressionScript;
    QList<KRAlert> m_shown;
    QList<int> m_answers;
};

#include "KRScriptedAlertService.h"

#include <platform/foundation/KRAssert.h>

void KRScriptedAlertService::scriptAnswer(int code)
{
    m_script.emplace_back(code);
}

void KRScriptedAlertService::scriptButton(const QString &title)
{
    m_script.emplace_back(title);
}

void KRScriptedAlertService::scriptSuppressionChecked(bool checked)
{
    m_suppressionScript.push_back(checked);
}

int KRScriptedAlertService::runModal(const KRAlert &alert)
{
    m_shown.append(alert);
    if (!alert.suppressionButtonTitle.isEmpty() && !m_suppressionScript.empty()) {
        if (alert.suppressionButtonChecked)
            *alert.suppressionButtonChecked = m_suppressionScript.front();
        m_suppressionScript.pop_front();
    }
    const QStringList buttons = alert.effectiveButtonTitles();
    int code = FirstButtonReturn;
    if (!m_script.empty()) {
        const auto next = m_script.front();
        m_script.pop_front();
        if (const int *scripted = std::get_if<int>(&next)) {
            code = *scripted;
        } else {
            const qsizetype index = buttons.indexOf(std::get<QString>(next));
            KR_ASSERT(index >= 0, "scripted button title is not on the alert");
            code = FirstButtonReturn + static_cast<int>(index);
        }
    }
    KR_ASSERT(code >= FirstButtonReturn && code < FirstButtonReturn + buttons.size(),
              "scripted answer names a button the alert does not have");
    m_answers.append(code);
    return code;
}

void KRScriptedAlertService::clear()
{
    m_script.clear();
    m_suppressionScript.clear();
    m_shown.clear();
    m_answers.clear();
}

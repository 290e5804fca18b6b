#include "KRFontPanel.h"

#include <QCoreApplication>
#include <QFontDialog>

namespace {

KRFontPanel *g_sharedFontPanel = nullptr;

} // namespace

void deleteSharedFontPanel()
{
    delete g_sharedFontPanel;
    g_sharedFontPanel = nullptr;
}

KRFontPanel &KRFontPanel::shared()
{
    if (!g_sharedFontPanel) {
        g_sharedFontPanel = new KRFontPanel;
        qAddPostRoutine(deleteSharedFontPanel);
    }
    return *g_sharedFontPanel;
}

KRFontPanel::KRFontPanel()
    : m_dialog(new QFontDialog)
{
    m_dialog->setWindowTitle(tr("Fonts"));
    m_dialog->setOptions(QFontDialog::NoButtons | QFontDialog::DontUseNativeDialog);
    m_dialog->setModal(false);
    connect(m_dialog, &QFontDialog::currentFontChanged, this, [this](const QFont &font) {
        if (m_settingFont)
            return;
        emit fontPicked(font);
        if (hasTarget())
            m_callback(font);
    });
}

KRFontPanel::~KRFontPanel()
{
    delete m_dialog;
}

void KRFontPanel::setTarget(QObject *owner, std::function<void(const QFont &)> callback)
{
    m_owner = owner;
    m_callback = std::move(callback);
}

void KRFontPanel::clearTarget()
{
    m_owner = nullptr;
    m_callback = nullptr;
}

void KRFontPanel::setPanelFont(const QFont &font)
{
    m_settingFont = true;
    m_dialog->setCurrentFont(font);
    m_settingFont = false;
}

QFont KRFontPanel::panelFont() const
{
    return m_dialog->currentFont();
}

void KRFontPanel::orderFront()
{
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

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
        if (m_target.isShowingQuietly())
            return;
        emit fontPicked(font);
        m_target.report(font);
    });
}

KRFontPanel::~KRFontPanel()
{
    delete m_dialog;
}

void KRFontPanel::setPanelFont(const QFont &font)
{
    m_target.showQuietly([&] { m_dialog->setCurrentFont(font); });
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

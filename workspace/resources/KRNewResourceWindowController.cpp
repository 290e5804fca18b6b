#include "KRNewResourceWindowController.h"

#include <model/KRProject.h>

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

KRNewResourceWindowController::KRNewResourceWindowController() = default;
KRNewResourceWindowController::~KRNewResourceWindowController() = default;

void KRNewResourceWindowController::beginSheetForWindow(QWidget *, std::function<void()> didEnd)
{
    m_didEnd = std::move(didEnd);
}
bool KRNewResourceWindowController::isSheetShown() const { return false; }
void KRNewResourceWindowController::setSelectedResourceTemplateFile(const QString &file) { m_selectedTemplateFile = file; }
void KRNewResourceWindowController::setResourceFilename(const QString &name) { m_resourceFilename = name; }
bool KRNewResourceWindowController::validateResourceFilename(const QString &, QString *) const { return false; }
void KRNewResourceWindowController::popupButtonAction() {}
void KRNewResourceWindowController::addResourceAction() {}
void KRNewResourceWindowController::closeSheet() {}
bool KRNewResourceWindowController::windowDidLoad() { return false; }
void KRNewResourceWindowController::endSheet() {}

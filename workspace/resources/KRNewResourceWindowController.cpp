#include "KRNewResourceWindowController.h"

#include <model/KREditableResourceTypes.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRResources.h>

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

KRNewResourceWindowController::KRNewResourceWindowController() = default;

KRNewResourceWindowController::~KRNewResourceWindowController()
{
    delete m_window.data();
}

QDialog *KRNewResourceWindowController::window() const
{
    return m_window;
}

bool KRNewResourceWindowController::isSheetShown() const
{
    return m_window && m_window->isVisible() && !m_ended;
}

void KRNewResourceWindowController::beginSheetForWindow(QWidget *window, std::function<void()> didEnd)
{
    m_didEnd = std::move(didEnd);
    m_ended = false;

    delete m_window.data();
    auto *sheet = new QDialog(window, Qt::Sheet);
    m_window = sheet;
    sheet->setWindowTitle(QStringLiteral("New Resource"));
    sheet->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    auto *layout = new QVBoxLayout(sheet);
    auto *title = new QLabel(QStringLiteral("Add a new resource file to the project:"), sheet);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto *form = new QFormLayout;
    m_popup = new QComboBox(sheet);
    m_textField = new QLineEdit(sheet);
    m_textField->setMinimumWidth(240);
    form->addRow(QStringLiteral("Type:"), m_popup);
    form->addRow(QStringLiteral("File name:"), m_textField);
    layout->addLayout(form);
    auto *buttons = new QDialogButtonBox(sheet);
    m_addButton = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole);
    QPushButton *cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    m_addButton->setDefault(true);
    layout->addWidget(buttons);
    QObject::connect(m_addButton, &QPushButton::clicked, this, &KRNewResourceWindowController::addResourceAction);
    QObject::connect(cancel, &QPushButton::clicked, this, &KRNewResourceWindowController::closeSheet);
    // Escape and the window's close button cancel.
    QObject::connect(sheet, &QDialog::rejected, this, [this] { endSheet(); });

    if (!windowDidLoad()) {
        endSheet();
        return;
    }
    sheet->open();
}

bool KRNewResourceWindowController::windowDidLoad()
{
    // A damaged list is told about and ends the sheet; it never ends the application, which
    // would take unsaved projects with it.
    KRResult<KREditableResourceTypes> table = KREditableResourceTypes::loadFromFile(
        KRResources::pathForResource(QString::fromLatin1(KREditableResourceTypes::FileName)));
    if (!table) {
        KRAlert alert;
        alert.style = KRAlert::Style::Critical;
        alert.messageText = table.error().message();
        KRAlertService::current().runModal(alert);
        return false;
    }
    m_resourceTypes.clear();
    for (const KREditableResourceType &type : table.value().templates())
        m_resourceTypes.append({{QStringLiteral("name"), type.templateDescription}, {QStringLiteral("value"), type.templateFile}});
    std::stable_sort(m_resourceTypes.begin(), m_resourceTypes.end(), [](const QVariantMap &a, const QVariantMap &b) {
        return a.value(QStringLiteral("name")).toString() < b.value(QStringLiteral("name")).toString();
    });
    if (m_resourceTypes.isEmpty()) {
        KRAlert alert;
        alert.style = KRAlert::Style::Critical;
        alert.messageText = QStringLiteral("The list of resource templates is empty.");
        KRAlertService::current().runModal(alert);
        return false;
    }
    for (const QVariantMap &type : m_resourceTypes)
        m_popup->addItem(type.value(QStringLiteral("name")).toString(), type.value(QStringLiteral("value")));
    m_selectedTemplateFile = m_resourceTypes.first().value(QStringLiteral("value")).toString();
    m_popup->setCurrentIndex(0);
    QObject::connect(m_popup, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            setSelectedResourceTemplateFile(m_popup->itemData(index).toString());
        popupButtonAction();
    });
    popupButtonAction();
    return true;
}

void KRNewResourceWindowController::setSelectedResourceTemplateFile(const QString &file)
{
    m_selectedTemplateFile = file;
}

void KRNewResourceWindowController::setResourceFilename(const QString &name)
{
    m_resourceFilename = name;
    if (m_textField && m_textField->text() != name)
        m_textField->setText(name);
}

bool KRNewResourceWindowController::validateResourceFilename(const QString &name, QString *error) const
{
    const auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (const KRResult<void> valid = KRWebFolder::checkFileName(name); !valid)
        return fail(valid.error().message());
    const std::shared_ptr<KRProject> project = m_project.lock();
    if (!project)
        return fail(TakenNameMessage);
    if (project->webFolder() && KRWebFolder::isReservedName(name, project.get()))
        return fail(KRWebFolder::reservedNameError(name).message());
    if (!project->validateNewResourceName(name))
        return fail(TakenNameMessage);
    return true;
}

void KRNewResourceWindowController::popupButtonAction()
{
    const std::shared_ptr<KRProject> project = m_project.lock();
    if (!project)
        return;
    QString base = KRProjectResource::deletingPathExtension(m_textField ? m_textField->text() : QString());
    if (base.isEmpty())
        base = QStringLiteral("resource");
    const QString extension = KRProjectResource::pathExtension(m_selectedTemplateFile);
    const auto named = [&](const QString &stem) { return extension.isEmpty() ? stem : stem + QLatin1Char('.') + extension; };
    QString candidate = named(base);
    if (project->validateNewResourceName(candidate)) {
        setResourceFilename(candidate);
        return;
    }
    for (int number = 2; number <= 999; ++number) {
        candidate = named(base + QString::number(number));
        if (project->validateNewResourceName(candidate)) {
            setResourceFilename(candidate);
            return;
        }
    }
}

void KRNewResourceWindowController::addResourceAction()
{
    const QString typed = m_textField ? m_textField->text() : m_resourceFilename;
    QString error;
    if (!validateResourceFilename(typed, &error)) {
        // The sheet stays up with the name as typed.
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = error;
        KRAlertService::current().runModal(alert);
        if (m_textField)
            m_textField->setFocus(Qt::OtherFocusReason);
        return;
    }
    m_resourceFilename = typed;
    const std::shared_ptr<KRProject> project = m_project.lock();
    const QString name = m_resourceFilename;
    const QString templateFile = m_selectedTemplateFile;
    endSheet();
    if (project)
        project->createResource(name, templateFile);
}

void KRNewResourceWindowController::closeSheet()
{
    endSheet();
}

void KRNewResourceWindowController::endSheet()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_window) {
        QObject::disconnect(m_window, &QDialog::rejected, this, nullptr);
        m_window->hide();
    }
    if (std::function<void()> didEnd = std::exchange(m_didEnd, nullptr))
        didEnd();
}

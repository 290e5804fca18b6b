#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class KRProject;
class QComboBox;
class QDialog;
class QLineEdit;
class QPushButton;
class QWidget;

// The sheet that adds a resource file made from a template: a type, a proposed free file
// name, validation of the typed name.
class KRNewResourceWindowController : public QObject
{
    Q_OBJECT

public:
    KRNewResourceWindowController();
    ~KRNewResourceWindowController() override;

    std::shared_ptr<KRProject> project() const { return m_project.lock(); }
    void setProject(const std::shared_ptr<KRProject> &project) { m_project = project; }

    // Shows the sheet window-modally on the window; didEnd runs once when the sheet ends
    // (added, cancelled or unable to start). The controller must live until then.
    void beginSheetForWindow(QWidget *window, std::function<void()> didEnd = {});
    // The sheet; null before beginSheetForWindow.
    QDialog *window() const;
    bool isSheetShown() const;

    // {"name": description, "value": template file}, sorted by name.
    QList<QVariantMap> resourceTypes() const { return m_resourceTypes; }
    QString selectedResourceTemplateFile() const { return m_selectedTemplateFile; }
    void setSelectedResourceTemplateFile(const QString &file);
    QString resourceFilename() const { return m_resourceFilename; }
    void setResourceFilename(const QString &name);
    // Whether a typed name may be created: a plain file name (not empty, "." or "..", no
    // "/") that the project does not have yet; the reason when not.
    bool validateResourceFilename(const QString &name, QString *error = nullptr) const;
    static inline const QString TakenNameMessage =
        QStringLiteral("This resource name already exists in the project, please choose another.");

    QComboBox *resourceTypePopup() const { return m_popup; }
    QLineEdit *filenameTextField() const { return m_textField; }
    QPushButton *addButton() const { return m_addButton; }

    void popupButtonAction();
    void addResourceAction();
    void closeSheet();

private:
    bool windowDidLoad();
    void endSheet();

    std::weak_ptr<KRProject> m_project;
    QPointer<QDialog> m_window; // parented to the window the sheet is on
    QComboBox *m_popup = nullptr;
    QLineEdit *m_textField = nullptr;
    QPushButton *m_addButton = nullptr;
    QList<QVariantMap> m_resourceTypes;
    QString m_selectedTemplateFile;
    QString m_resourceFilename;
    std::function<void()> m_didEnd;
    bool m_ended = false;
};

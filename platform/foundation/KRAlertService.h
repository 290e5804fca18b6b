#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// What a modal question shows. Buttons are listed in the order they are added; the first is
// the default button. An alert without buttons gets a single "OK".
struct KRAlert
{
    enum class Style { Warning, Informational, Critical };

    Style style = Style::Warning;
    QString messageText;
    QString informativeText;
    QStringList buttonTitles;
    // A "don't ask again" check box under the text when the title is non-empty. The service
    // stores the box's state at the answer in suppressionButtonChecked (shared so that copies
    // of the alert report into the same flag).
    QString suppressionButtonTitle;
    std::shared_ptr<bool> suppressionButtonChecked = std::make_shared<bool>(false);

    // The first button destroys or discards something the user made: Return does not choose
    // it (it answers with the harmless choice), only a click on it does.
    bool destructive = false;

    // The titles as shown: "OK" when none were given.
    QStringList effectiveButtonTitles() const;
    // The choice that changes nothing: the button titled "Cancel", else the last of several
    // buttons (the questions put the action first: "Remove Device" / "Keep Device", "Add" /
    // "Skip"), else the only one. Escape, the window's close button and a question that ends
    // without an answer (its window went, the application quit) take it.
    int harmlessButtonIndex() const;
};

// Shows alerts and waits for the answer. Model code asks through the current service and
// never creates widgets itself; the GUI installs its dialog service at start-up, tests
// install a scripted one.
class KRAlertService
{
public:
    // Answers: 1000 plus the index of the clicked button.
    static constexpr int FirstButtonReturn = 1000;
    static constexpr int SecondButtonReturn = 1001;
    static constexpr int ThirdButtonReturn = 1002;

    virtual ~KRAlertService() = default;

    // Shows the alert modally (as a sheet on the main window where there is one) and returns
    // the clicked button's code. Main thread only.
    virtual int runModal(const KRAlert &alert) = 0;

    // The service in use. Until one is installed: a headless service that writes the alert
    // to the error output and answers with the first button.
    static KRAlertService &current();
    // Installs a service (null: back to the headless one); returns the previous one.
    static std::shared_ptr<KRAlertService> setCurrent(std::shared_ptr<KRAlertService> service);
};

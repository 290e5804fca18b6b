#pragma once

#include <controls/KRControl.h>
#include <platform/foundation/KRObservationToken.h>

#include <vector>

class DOMElement;

// What the jQuery Mobile widgets share: an outer div whose inner markup createChildren
// rebuilds completely from the properties after every change of a rendered one, and in design
// mode an enhancement script, queued on the page after each rebuild, that also disables the
// widget. Not a class of the registry: each widget registers with "KRFormControl" as its base.
class JQMFormWidget : public KRFormControl
{
public:
    using KRFormControl::KRFormControl;
    QString domElementName() const override { return QStringLiteral("div"); }
    // Rebuilds the inner markup; in design mode also queues the enhancement script.
    virtual void createChildren() = 0;
    void updateDesignView(KRModelAdapter &adapter, const QString &newValue) override;

protected:
    struct BuildSteps {
        bool removeOuterRole = true;    // drop "data-role" from the outer div
        bool redescribeNameAndDisabled = true;
        bool redescribeBeforeAppend = false;
        QStringList rebuildKeys = {QStringLiteral("kr_id")}; // renames that rebuild on the next pass
    };
    // The widget's initialisation after the inherited one.
    void buildWidget(const QString &className, const BuildSteps &steps);

    // "_<pageId>_<objectId>_<suffix>".
    QString innerID(const QString &suffix) const;
    QString nameOrID() const;
    bool isDisabled() const { return value(QStringLiteral("kr_disabled")) == QLatin1String("true"); }
    std::shared_ptr<DOMElement> createElement(const QString &tagName) const;
    void removeElementChildren();
    // A label for the inner element: the text, or no text and the class `hiddenClass`.
    std::shared_ptr<DOMElement> makeLabel(const QString &forID, const QString &hiddenClass,
                                          const QString &shownClass = QString()) const;
    // Only the design view runs the script: callers make it only in design mode.
    void queueDesignScript(const QString &script);
    // The start of a text-like widget's rebuild: clears the outer div, appends the label (hidden
    // while empty) and returns a new element of the tag with the id "_<pageId>_<objectId>_inp",
    // not yet appended; null without an outer div.
    std::shared_ptr<DOMElement> beginLabelledInput(const QString &tagName);
    // Sets "name" and, when the widget is disabled, "disabled".
    void setNameAndDisabled(DOMElement &element) const;
    // The start of an option-list widget's rebuild: clears the outer div, appends the label and
    // returns a "select" with the role (when not empty), the id "_<pageId>_<objectId>_sel", the
    // name, the selected value and the disabled state, not yet appended; null without an outer div.
    std::shared_ptr<DOMElement> beginOptionSelect(const QString &role);
    // Appends the select to the outer div and fills it from kr_options, kr_value selected.
    void finishOptionSelect(const std::shared_ptr<DOMElement> &select);

private:
    std::vector<KRObservationToken> m_renameTokens;
    std::vector<KRObservationToken> m_textStyleTokens;
};

// The option list of the option-list widgets, in order: value to label.
QList<std::pair<QString, QString>> jqmOptions(const QString &text);
// Appends one "option" per entry of the list, the one whose value equals `selected` marked.
void jqmAppendOptions(DOMElement &select, const QString &optionsText, const QString &selected);

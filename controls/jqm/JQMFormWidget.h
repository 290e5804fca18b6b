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

    QString pageID() const;
    // "_<pageId>_<objectId>_<suffix>".
    QString innerID(const QString &suffix) const;
    QString nameOrID() const;
    bool isDisabled() const { return value(QStringLiteral("kr_disabled")) == QLatin1String("true"); }
    std::shared_ptr<DOMElement> createElement(const QString &tagName) const;
    void removeElementChildren();
    // A label for the inner element: the text, or no text and the class `hiddenClass`.
    std::shared_ptr<DOMElement> makeLabel(const QString &forID, const QString &hiddenClass,
                                          const QString &shownClass = QString()) const;
    void queueDesignScript(const QString &script);

private:
    std::vector<KRObservationToken> m_renameTokens;
};

// The option list of the option-list widgets, in order: value to label.
OrderedDictionary<QString, QString> jqmOptions(const QString &text);
// Appends one "option" per entry of the list, the one whose value equals `selected` marked.
void jqmAppendOptions(DOMElement &select, const QString &optionsText, const QString &selected);

#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

// The scripting side of a document: named host objects that page scripts can call, and script
// evaluation. A document hands every evaluation to its host after reporting it to its
// mutation listeners, so a live view runs it after the changes made before it.
class DOMScriptHost
{
public:
    virtual ~DOMScriptHost() = default;

    // Makes `object` reachable from page scripts as `window.<name>`; null removes the name.
    virtual void setHostObject(const QString &name, QObject *object) = 0;
    virtual QObject *hostObject(const QString &name) const = 0;
    // Results are never returned: callers only issue scripts.
    virtual void evaluateScript(const QString &script) = 0;
};

// The host of a headless document: no script runs; host objects and scripts are recorded.
class DOMRecordingScriptHost : public DOMScriptHost
{
public:
    void setHostObject(const QString &name, QObject *object) override;
    QObject *hostObject(const QString &name) const override;
    void evaluateScript(const QString &script) override;

    const QStringList &evaluatedScripts() const { return m_scripts; }
    void clearEvaluatedScripts() { m_scripts.clear(); }

private:
    QHash<QString, QPointer<QObject>> m_objects;
    QStringList m_scripts;
};

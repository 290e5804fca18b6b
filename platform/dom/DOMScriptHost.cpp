#include "DOMScriptHost.h"

void DOMRecordingScriptHost::setHostObject(const QString &name, QObject *object)
{
    if (object)
        m_objects.insert(name, object);
    else
        m_objects.remove(name);
}

QObject *DOMRecordingScriptHost::hostObject(const QString &name) const
{
    return m_objects.value(name).data();
}

void DOMRecordingScriptHost::evaluateScript(const QString &script)
{
    m_scripts.append(script);
}

#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <utility>

// What the shared colour and font panels keep of their target: the one receiver of every value
// the user picks, guarded by its owner (once the owner is destroyed the callback is never
// called), and whether the panel is showing a value on the program's behalf, which is not
// reported.
template <typename Value>
class KRPanelTarget
{
public:
    void set(QObject *owner, std::function<void(const Value &)> callback)
    {
        m_owner = owner;
        m_callback = std::move(callback);
    }
    void clear()
    {
        m_owner = nullptr;
        m_callback = nullptr;
    }
    bool isSet() const { return m_owner && m_callback; }

    // Runs show, which puts a value in the panel's chooser; what the chooser reports meanwhile
    // is not the user's pick.
    template <typename Show>
    void showQuietly(Show show)
    {
        m_showing = true;
        show();
        m_showing = false;
    }
    bool isShowingQuietly() const { return m_showing; }

    void report(const Value &value) const
    {
        if (isSet())
            m_callback(value);
    }

private:
    QPointer<QObject> m_owner;
    std::function<void(const Value &)> m_callback;
    bool m_showing = false;
};

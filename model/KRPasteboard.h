#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// The general pasteboard as the model sees it: typed strings. The GUI installs one over the
// system clipboard; until then (and in tests) an in-process pasteboard serves.
class KRPasteboard
{
public:
    virtual ~KRPasteboard() = default;
    // Replaces the contents by one string of that type.
    virtual void setString(const QString &type, const QString &value) = 0;
    // The string of the type; null when the pasteboard has none.
    virtual QString stringForType(const QString &type) const = 0;

    static KRPasteboard &generalPasteboard();
    // Installs the general pasteboard (null: back to the in-process one); returns the previous.
    static std::shared_ptr<KRPasteboard> setGeneralPasteboard(std::shared_ptr<KRPasteboard> pasteboard);
};

// The in-process pasteboard.
class KRMemoryPasteboard : public KRPasteboard
{
public:
    void setString(const QString &type, const QString &value) override
    {
        m_type = type;
        m_value = value;
    }
    QString stringForType(const QString &type) const override { return type == m_type ? m_value : QString(); }

private:
    QString m_type;
    QString m_value;
};

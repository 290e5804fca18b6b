#pragma once

#include <QList>
#include <QUrl>

#include <memory>

// Opens an address outside the application (the user's browser, mail program, …). Widgets
// ask through the current service; the application keeps the desktop one, tests install a
// recorder so that nothing leaves the process.
class KROpenURLService
{
public:
    virtual ~KROpenURLService() = default;

    // Hands the address to the system; true when it was accepted. Main thread only.
    virtual bool openURL(const QUrl &url) = 0;

    // The service in use: the desktop service until another is installed.
    static KROpenURLService &current();
    // Installs a service (null: back to the desktop one); returns the previous one.
    static std::shared_ptr<KROpenURLService> setCurrent(std::shared_ptr<KROpenURLService> service);
};

// Opens through QDesktopServices.
class KRDesktopOpenURLService final : public KROpenURLService
{
public:
    bool openURL(const QUrl &url) override;
};

// Keeps every address it is asked to open, in order, and opens nothing.
class KRRecordingOpenURLService final : public KROpenURLService
{
public:
    bool openURL(const QUrl &url) override;

    const QList<QUrl> &openedURLs() const { return m_urls; }
    void clear() { m_urls.clear(); }

private:
    QList<QUrl> m_urls;
};

#pragma once

#include <QObject>
#include <QPointer>
#include <QWebEngineView>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <optional>

class KRHTMLWindowController;
class QWidget;

// Receives the actions of "kr" links clicked in an HTML window. The window holds its delegate
// weakly: once the delegate is destroyed, such links do nothing.
class KRHTMLWindowControllerDelegate
{
public:
    KRHTMLWindowControllerDelegate() = default;
    KRHTMLWindowControllerDelegate(const KRHTMLWindowControllerDelegate &) = delete;
    KRHTMLWindowControllerDelegate &operator=(const KRHTMLWindowControllerDelegate &) = delete;
    virtual ~KRHTMLWindowControllerDelegate() = default;

    // action: the host of the clicked address ("kr://preferences" → "preferences").
    virtual void htmlWindowControllerSelectAction(KRHTMLWindowController *controller, const QString &action) = 0;

private:
    friend class KRHTMLWindowController;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// A secondary window showing an HTML page: a file or address, or a template file whose
// {{name}} placeholders are filled from a dictionary.
class KRHTMLWindowController : public QObject
{
    Q_OBJECT

public:
    // Builds the window ("KRHTMLWindow"), centred on the screen, not yet shown.
    explicit KRHTMLWindowController(QObject *parent = nullptr);
    ~KRHTMLWindowController() override;

    QWidget *window() const { return m_window; }
    QWebEngineView *webView() const { return m_webView; }
    void showWindow();

    // Loads the address. With a template dictionary set and a file address, the file's text
    // is read (its encoding detected), its placeholders replaced (unknown ones kept as they
    // are) and the result shown with the file as base address.
    void setURL(const QUrl &url);
    QUrl URL() const { return m_url; }

    void setTemplateDictionary(const QVariantMap &dictionary) { m_templateDictionary = dictionary; }
    std::optional<QVariantMap> templateDictionary() const { return m_templateDictionary; }

    void setDelegate(KRHTMLWindowControllerDelegate *delegate);
    KRHTMLWindowControllerDelegate *delegate() const;

    // The page text a template file gives with the current dictionary; empty when unreadable.
    static QString readTemplate(const QString &path, const QVariantMap &dictionary, bool *ok = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool acceptNavigation(const QUrl &url);

    QPointer<QWidget> m_window;
    QPointer<QWebEngineView> m_webView;
    QUrl m_url;
    std::optional<QVariantMap> m_templateDictionary;
    KRHTMLWindowControllerDelegate *m_delegate = nullptr; // not owned; used only while m_delegateAlive holds
    std::weak_ptr<int> m_delegateAlive;
};

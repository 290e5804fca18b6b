#pragma once

#include <ui/KRCachingViewController.h>

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWebChannel>
#include <QWebEngineView>

#include <memory>

class KRProjectTheme;
class KRThemeRollerEditorViewController;

// The script bridge of the theme editor page, on its window as "__KR". Scripts reach only
// what is declared here: the theme's CSS as the property "css" (read synchronously from the
// channel's copy, kept current by cssChanged) and the operations CSS, setCSS_, registerUndo
// and log_.
class KRThemeRollerEditorViewControllerProxy : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString css READ CSS NOTIFY cssChanged)

public:
    explicit KRThemeRollerEditorViewControllerProxy(KRThemeRollerEditorViewController *delegate,
                                                    QObject *parent = nullptr);

    KRThemeRollerEditorViewController *delegate() const { return m_delegate; }

    Q_INVOKABLE QString CSS() const;
    Q_INVOKABLE void setCSS_(const QString &css);
    Q_INVOKABLE void registerUndo();
    Q_INVOKABLE void log_(const QString &message);

signals:
    void cssChanged();

private:
    QPointer<KRThemeRollerEditorViewController> m_delegate;
};

// The theme editor tab: our theme editor page in a web view, reading and writing one theme's
// CSS through the bridge and handing the page's steps to the document's undo history.
class KRThemeRollerEditorViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    // The page's address in the application's resources.
    static inline const QString PageURL = QStringLiteral("qrc:/kr/theme/jquery-mobile-theme-roller/index.html");

    KRThemeRollerEditorViewController();
    ~KRThemeRollerEditorViewController() override;

    QString nibName() const override { return QStringLiteral("KRThemeRollerEditorView"); }

    std::shared_ptr<KRProjectTheme> theme() const { return m_theme; }
    void setTheme(const std::shared_ptr<KRProjectTheme> &theme);
    QWebEngineView *webView() const { return m_webView; }
    KRThemeRollerEditorViewControllerProxy *proxy() const { return m_proxy; }

    QString CSS() const;
    // Stores the text as the theme's CSS when it differs.
    void setCSS(const QString &css);
    // Records one step of the page on the document's undo history.
    void registerUndo();
    // Asks the page to undo or redo one of its steps.
    void performUndo();

protected:
    void awakeFromNib() override;

private:
    void installProxy();

    std::shared_ptr<KRProjectTheme> m_theme;
    QPointer<QWebEngineView> m_webView;  // part of view()
    QPointer<QWebChannel> m_channel;     // owned by the controller
    QPointer<KRThemeRollerEditorViewControllerProxy> m_proxy; // owned by the controller
    // Steps the host recorded itself while undoing or redoing: the page's own report of each
    // arrives afterwards over the channel and is not recorded again.
    int m_expectedPageRegistrations = 0;
    std::weak_ptr<KRProjectBase> m_undoProject; // whose history holds the page's steps
};

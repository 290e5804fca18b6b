#pragma once

#include <core/ui/KRCachingViewController.h>

#include <memory>

class KRProjectTheme;

// The theme editor tab: our theme editor page in a web view, reading and writing one theme's CSS
// through the "__KR" bridge object.
class KRThemeRollerEditorViewController : public KRCachingViewController
{
    Q_OBJECT

public:
    KRThemeRollerEditorViewController();
    ~KRThemeRollerEditorViewController() override;

    QString nibName() const override { return QStringLiteral("KRThemeRollerEditorView"); }

    std::shared_ptr<KRProjectTheme> theme() const { return m_theme; }
    void setTheme(const std::shared_ptr<KRProjectTheme> &theme) { m_theme = theme; }

private:
    std::shared_ptr<KRProjectTheme> m_theme;
};

#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>
#include <type_traits>
#include <utility>

class KRProjectBase;
class KRProjectWindowController;

// The base of every pane, inspector row and editor controller. A subclass names its
// interface (nibName); create() builds a fresh instance of that interface through the
// interface registry with the controller as owner, keeps its root as view() and then calls
// awakeFromNib(). Each controller gets widgets of its own; the controller deletes its view.
//
// Subclasses are made only through create<T>(): a constructor cannot reach the subclass's
// nibName or awakeFromNib.
class KRCachingViewController : public QObject
{
    Q_OBJECT

public:
    template <typename Controller, typename... Args>
    static std::unique_ptr<Controller> create(Args &&...args)
    {
        static_assert(std::is_base_of_v<KRCachingViewController, Controller>);
        std::unique_ptr<Controller> controller(new Controller(std::forward<Args>(args)...));
        controller->loadInterface();
        return controller;
    }

    ~KRCachingViewController() override;

    // The name of the interface the subclass shows. The base raises "FileNotFoundException".
    virtual QString nibName() const;

    // The interface's root widget.
    QWidget *view() const { return m_view; }

    // The controller of the project window the view sits in; null when that window has no
    // controller. A view in no window at all is a programming error and stops the program.
    KRProjectWindowController *krWindowController() const;

    // The project set with setProject, else the project of krWindowController(), found on
    // the first call that has one and kept (weakly) from then on. Null while the view's
    // window has no controller.
    std::shared_ptr<KRProjectBase> project();
    void setProject(const std::shared_ptr<KRProjectBase> &project) { m_project = project; }

protected:
    KRCachingViewController() = default;

    // Called once the interface has been built and view() is set. Subclasses call the base
    // first and do their own set-up after it.
    virtual void awakeFromNib() {}

private:
    void loadInterface();

    QPointer<QWidget> m_view;
    // Weak: the project outlives the panes of its window, and a pane must not keep a closed
    // project alive.
    std::weak_ptr<KRProjectBase> m_project;
};

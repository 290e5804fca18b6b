#include <core/ui/KRCachingViewController.h>
#include <core/ui/KRProjectWindowController.h>
#include <model/KRProjectBase.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRException.h>

#include <QLabel>
#include <QMainWindow>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

class FakeProject : public KRProjectBase
{
public:
    std::shared_ptr<KRDocument> krDocument() const override { return nullptr; }
    QList<std::shared_ptr<KRPageBase>> pages() const override { return {}; }
    QString designTarget() const override { return {}; }
    bool autoAdjustObjects() const override { return false; }
    QVariantMap &modifiedResourceCache() override { return m_cache; }

private:
    QVariantMap m_cache;
};

class FakeWindowController : public KRProjectWindowController
{
public:
    FakeWindowController() { setWindow(&window); }
    std::shared_ptr<KRProjectBase> project() const override { return currentProject; }
    void editFunction(const std::shared_ptr<KRFunction> &) override {}
    void projectRunAction() override {}
    void createPageAction() override {}

    QMainWindow window;
    std::shared_ptr<KRProjectBase> currentProject;
};

class TitlePane : public KRCachingViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRTestTitlePane"); }
    QLabel *title = nullptr; // outlet, set by the interface
    int awakeCount = 0;

protected:
    void awakeFromNib() override
    {
        KRCachingViewController::awakeFromNib();
        ++awakeCount;
        title->setText(QStringLiteral("ready"));
    }
};

class UnnamedPane : public KRCachingViewController
{
};

class UnregisteredPane : public KRCachingViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRTestNoSuchPane"); }
};

void registerTitlePane()
{
    KRInterfaceRegistry::registerInterface(QStringLiteral("KRTestTitlePane"), [](QObject *owner) {
        auto *root = new QWidget;
        auto *layout = new QVBoxLayout(root);
        auto *title = new QLabel;
        layout->addWidget(title);
        static_cast<TitlePane *>(owner)->title = title;
        return root;
    });
}

KRException raisedBy(const std::function<void()> &f)
{
    try {
        f();
    } catch (const KRException &e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    return KRException({}, {});
}

} // namespace

TEST(KRCachingViewController, EachControllerGetsItsOwnInterface)
{
    registerTitlePane();
    auto a = KRCachingViewController::create<TitlePane>();
    auto b = KRCachingViewController::create<TitlePane>();
    ASSERT_NE(a->view(), nullptr);
    EXPECT_NE(a->view(), b->view());
    EXPECT_NE(a->title, b->title);
    EXPECT_EQ(a->title->parentWidget(), a->view());
    EXPECT_EQ(a->title->text(), QStringLiteral("ready")); // awakeFromNib ran once, after the outlets
    EXPECT_EQ(a->awakeCount, 1);

    // Embedded views die with their controller, not with the window only.
    FakeWindowController wc;
    a->view()->setParent(&wc.window);
    QPointer<QWidget> view = a->view();
    a.reset();
    EXPECT_TRUE(view.isNull());
}

TEST(KRCachingViewController, MissingNameOrInterfaceRaises)
{
    const KRException unnamed = raisedBy([] { KRCachingViewController::create<UnnamedPane>(); });
    EXPECT_EQ(unnamed.name(), QStringLiteral("FileNotFoundException"));
    EXPECT_EQ(unnamed.reason(), QStringLiteral("Nib name source be defined in KRCachingViewController subclass"));

    const KRException missing = raisedBy([] { KRCachingViewController::create<UnregisteredPane>(); });
    EXPECT_EQ(missing.name(), QStringLiteral("NibLoadingFailedException"));
    EXPECT_EQ(missing.reason(), QStringLiteral("Nib file not loaded in KRCachingViewController"));
}

// The project comes from the window the view sits in, is found once and then kept, even
// when the window controller changes its project; a project set explicitly wins.
TEST(KRCachingViewController, ProjectIsFoundOnceThroughTheWindowAndKept)
{
    registerTitlePane();
    FakeWindowController wc;
    auto first = std::make_shared<FakeProject>();
    wc.currentProject = first;
    auto pane = KRCachingViewController::create<TitlePane>();
    wc.window.setCentralWidget(new QWidget);
    pane->view()->setParent(wc.window.centralWidget());

    EXPECT_EQ(pane->krWindowController(), &wc);
    EXPECT_EQ(pane->project(), first);
    wc.currentProject = std::make_shared<FakeProject>();
    EXPECT_EQ(pane->project(), first);

    // Kept weakly: once the project is gone the window's current one is found.
    first.reset();
    wc.currentProject.reset();
    wc.currentProject = std::make_shared<FakeProject>();
    EXPECT_EQ(pane->project(), wc.currentProject);

    auto explicitProject = std::make_shared<FakeProject>();
    pane->setProject(explicitProject);
    EXPECT_EQ(pane->project(), explicitProject);

    // A window without a controller has no project.
    auto other = KRCachingViewController::create<TitlePane>();
    QWidget plainWindow;
    other->view()->setParent(&plainWindow);
    EXPECT_EQ(other->krWindowController(), nullptr);
    EXPECT_EQ(other->project(), nullptr);
}

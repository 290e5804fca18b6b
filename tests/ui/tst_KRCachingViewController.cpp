#include <ui/KRCachingViewController.h>
#include <ui/KRProjectWindowController.h>
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
    QVariantMap m_cache;
};

class FakeWindowController : public KRProjectWindowController
{
public:
    FakeWindowController() { setWindow(&window); }
    std::shared_ptr<KRProjectBase> project() const override { return current; }
    void editFunction(const std::shared_ptr<KRFunction> &) override {}
    void projectRunAction() override {}
    void createPageAction() override {}
    QMainWindow window;
    std::shared_ptr<KRProjectBase> current;
};

class TitlePane : public KRCachingViewController
{
public:
    QString nibName() const override { return QStringLiteral("KRTestTitlePane"); }
    QLabel *title = nullptr; // outlet

protected:
    void awakeFromNib() override { title->setText(QStringLiteral("ready")); }
};

struct UnnamedPane : KRCachingViewController {};

std::unique_ptr<TitlePane> makePane()
{
    KRInterfaceRegistry::registerInterface(QStringLiteral("KRTestTitlePane"), [](QObject *owner) {
        auto *root = new QWidget;
        static_cast<TitlePane *>(owner)->title = new QLabel(root);
        return root;
    });
    return KRCachingViewController::create<TitlePane>();
}


} // namespace

TEST(KRCachingViewController, EachControllerGetsItsOwnInterface)
{
    auto a = makePane();
    auto b = makePane();
    ASSERT_NE(a->view(), nullptr);
    EXPECT_NE(a->view(), b->view());
    EXPECT_EQ(a->title->parentWidget(), a->view());
    EXPECT_EQ(a->title->text(), QStringLiteral("ready")); // awakeFromNib ran after the outlets

    // An embedded view goes with its controller.
    FakeWindowController wc;
    QPointer<QWidget> view = a->view();
    view->setParent(&wc.window);
    a.reset();
    EXPECT_TRUE(view.isNull());

    try {
        KRCachingViewController::create<UnnamedPane>();
        ADD_FAILURE() << "no exception";
    } catch (const KRException &e) {
        EXPECT_EQ(e.name(), QStringLiteral("FileNotFoundException"));
        EXPECT_EQ(e.reason(), QStringLiteral("Nib name source be defined in KRCachingViewController subclass"));
    }
}

// Found through the window once and kept, even when the window controller changes its
// project; kept weakly; a project set explicitly wins.
TEST(KRCachingViewController, ProjectIsFoundOnceThroughTheWindowAndKept)
{
    FakeWindowController wc;
    auto first = std::make_shared<FakeProject>();
    wc.current = first;
    auto pane = makePane();
    wc.window.setCentralWidget(new QWidget);
    pane->view()->setParent(wc.window.centralWidget());

    EXPECT_EQ(pane->krWindowController(), &wc);
    EXPECT_EQ(pane->project(), first);
    wc.current = std::make_shared<FakeProject>();
    EXPECT_EQ(pane->project(), first);
    first.reset();
    EXPECT_EQ(pane->project(), wc.current);

    auto chosen = std::make_shared<FakeProject>();
    pane->setProject(chosen);
    EXPECT_EQ(pane->project(), chosen);

    auto other = makePane(); // in a window without a controller: no project
    QWidget plainWindow;
    other->view()->setParent(&plainWindow);
    EXPECT_EQ(other->project(), nullptr);
}

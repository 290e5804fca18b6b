// A stand-alone window for trying the inspector by hand until the project window hosts it:
// opens a project package in design mode, lists every page and object on the left and shows
// the inspector of the selected one on the right. Ctrl+Z and Ctrl+Shift+Z undo and redo.
//
//   kr_inspector_host path/to/Project.krproj

#include <controls/KRControlLibrary.h>
#include <inspector/KRItemEditorViewController.h>
#include <inspector/KRPropertyEditorViewController.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRUndoManager.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QShortcut>
#include <QStackedWidget>

#include <cstdio>
#include <map>

namespace {

class KRInspectorHost : public QWidget, public KRPropertyEditorDelegate, public KRItemEditorDelegate
{
public:
    explicit KRInspectorHost(std::shared_ptr<KRDocument> document, std::shared_ptr<KRProject> project)
        : m_document(std::move(document)), m_project(std::move(project))
    {
        auto *layout = new QHBoxLayout(this);
        layout->addWidget(m_list);
        layout->addWidget(m_stack);
        layout->addWidget(m_editors, 1);
        m_list->setFixedWidth(220);
        m_stack->setFixedWidth(300);
        for (const auto &page : m_project->krPages()) {
            add(page, page->kr_id());
            for (const auto &object : page->allObjects())
                add(object, QStringLiteral("    ") + object->kr_id());
        }
        connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) { select(row); });
        auto *undo = new QShortcut(QKeySequence::Undo, this);
        connect(undo, &QShortcut::activated, this, [this] { m_document->undoManager().undo(); });
        auto *redo = new QShortcut(QKeySequence::Redo, this);
        connect(redo, &QShortcut::activated, this, [this] { m_document->undoManager().redo(); });
        resize(1300, 800);
    }

    ~KRInspectorHost() override
    {
        // The controllers delete their own views.
        for (auto &[object, inspector] : m_inspectors)
            m_stack->removeWidget(inspector->view());
        for (auto &editor : m_itemEditors)
            m_editors->removeWidget(editor->view());
        for (auto &[object, inspector] : m_inspectors)
            inspector->view()->setParent(nullptr);
        for (auto &editor : m_itemEditors)
            editor->view()->setParent(nullptr);
    }

    void propertyEditorViewEditFunction(KRPropertyEditorViewController *, const std::shared_ptr<KRFunction> &function) override
    {
        editFunction(function);
    }
    void propertyEditorViewEditHTML(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &object,
                                    const QString &key) override
    {
        QMessageBox::information(this, tr("Content"), object->value(key));
    }
    void propertyEditorViewEditListViewItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &listView) override
    {
        auto editor = KRCachingViewController::create<KRListViewItemEditorViewController>();
        editor->setDelegate(this);
        editor->setListView(listView);
        showEditor(std::move(editor));
    }
    void propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *, const std::shared_ptr<KRObject> &toolbar,
                                           const QString &key) override
    {
        auto editor = KRCachingViewController::create<KRNavbarItemEditorViewController>();
        editor->setDelegate(this);
        editor->setPropertyName(key);
        editor->setObject(toolbar);
        showEditor(std::move(editor));
    }
    void editFunction(const std::shared_ptr<KRFunction> &function) override
    {
        QMessageBox::information(this, function->kr_id(), function->value(QStringLiteral("kr_source")));
    }

private:
    void add(const std::shared_ptr<KRObject> &object, const QString &title)
    {
        m_objects.push_back(object);
        m_list->addItem(title);
    }
    void select(int row)
    {
        if (row < 0 || row >= int(m_objects.size()))
            return;
        const auto object = m_objects[size_t(row)];
        auto &inspector = m_inspectors[object.get()];
        if (!inspector) {
            inspector = KRCachingViewController::create<KRPropertyEditorViewController>();
            inspector->setDelegate(this);
            inspector->setObject(object);
            m_stack->addWidget(inspector->view());
        }
        m_stack->setCurrentWidget(inspector->view());
    }
    void showEditor(std::unique_ptr<KRItemEditorViewController> editor)
    {
        m_editors->addWidget(editor->view());
        m_editors->setCurrentWidget(editor->view());
        m_itemEditors.push_back(std::move(editor));
    }

    std::shared_ptr<KRDocument> m_document;
    std::shared_ptr<KRProject> m_project;
    QListWidget *m_list = new QListWidget(this);
    QStackedWidget *m_stack = new QStackedWidget(this);
    QStackedWidget *m_editors = new QStackedWidget(this);
    std::vector<std::shared_ptr<KRObject>> m_objects;
    std::map<const KRObject *, std::unique_ptr<KRPropertyEditorViewController>> m_inspectors;
    std::vector<std::unique_ptr<KRItemEditorViewController>> m_itemEditors;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kr_inspector_host Project.krproj\n");
        return 2;
    }
    KRLocalServerPort::setProvider([] { return qint64(0); });
    KRPage::registerPageClass();
    registerControlLibrary();
    const auto document = KRDocument::openPackage(QString::fromLocal8Bit(argv[1]));
    if (!document) {
        std::fprintf(stderr, "%s\n", qPrintable(document.error().message()));
        return 1;
    }
    const auto project = KRProject::create(document.value(), true);
    if (!project) {
        std::fprintf(stderr, "%s\n", qPrintable(project.error().message()));
        return 1;
    }
    KRInspectorHost host(document.value(), project.value());
    host.show();
    return app.exec();
}

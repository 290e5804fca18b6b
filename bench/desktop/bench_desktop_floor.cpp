// The floor of the typing figure of bench_desktop: a plain QPlainTextEdit, in the fixed-width
// font the code editor starts with, holding the file named on the command line, in a maximised
// window titled "Plain Editor" that holds nothing else. With "--web" (an informative figure
// only) the edit is the second tab of the window, whose first tab, shown until its empty page
// has loaded, is a web view, as the application's editors share their window with web views:
// where the graphics library renders on the GPU, Qt then composes the whole window through it
// each time a widget is drawn. The web engine and its views are set up as the application sets
// them up. Not a benchmark of its own.
#include <platform/webview/KRWebEngineEnvironment.h>

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QWebEngineView>

#include <cstring>

int main(int argc, char *argv[])
{
    bool withWebView = false;
    QString path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--web") == 0)
            withWebView = true;
        else
            path = QString::fromLocal8Bit(argv[i]);
    }
    // Alone, the edit is a plain widgets program: the web engine is not set up at all.
    if (withWebView)
        KRWebEngineEnvironment::prepare();
    QApplication application(argc, argv);
    if (withWebView)
        KRWebEngineEnvironment::chooseViewDrawing();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Plain Editor"));
    auto *editor = new QPlainTextEdit;
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    editor->setFont(font);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setPlainText(QString::fromUtf8(file.readAll()));
    if (withWebView) {
        auto *tabs = new QTabWidget;
        auto *view = new QWebEngineView;
        tabs->addTab(view, QStringLiteral("Page"));
        tabs->addTab(editor, QStringLiteral("Text"));
        QObject::connect(view, &QWebEngineView::loadFinished, tabs, [tabs, editor] {
            tabs->setCurrentWidget(editor);
            editor->setFocus();
        });
        view->setHtml(QStringLiteral("<html><body></body></html>"));
        window.setCentralWidget(tabs);
    } else {
        window.setCentralWidget(editor);
    }
    window.showMaximized();
    editor->setFocus();
    return application.exec();
}

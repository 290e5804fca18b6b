// The floors of the typing figure of bench_desktop: a plain QPlainTextEdit, in the fixed-width
// font the code editor starts with, holding the file named on the command line, in a maximised
// window titled "Plain Editor". With "--web" the edit is the second tab of the window, whose
// first tab, shown until its empty page has loaded, is a web view: the application's editors
// too share their window with web views, which makes Qt compose the whole window through the
// graphics library each time a widget is drawn, unless the views are drawn as the other widgets
// are (where that library renders on the CPU). The web engine and its views are set up as the
// application sets them up. Not a benchmark of its own.
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
    KRWebEngineEnvironment::prepare();
    QApplication application(argc, argv);
    KRWebEngineEnvironment::chooseViewDrawing();
    bool withWebView = false;
    QString path;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--web") == 0)
            withWebView = true;
        else
            path = QString::fromLocal8Bit(argv[i]);
    }
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

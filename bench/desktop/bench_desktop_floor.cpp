// The floor of the typing figure of bench_desktop: a plain QPlainTextEdit, in the fixed-width
// font the code editor starts with, holding the file named on the command line, alone in a
// window titled "Plain Editor". Not a benchmark of its own.
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QMainWindow>
#include <QPlainTextEdit>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc < 2)
        return 2;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Plain Editor"));
    auto *editor = new QPlainTextEdit(&window);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    editor->setFont(font);
    editor->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor->setPlainText(QString::fromUtf8(file.readAll()));
    window.setCentralWidget(editor);
    window.resize(1200, 800);
    window.show();
    editor->setFocus();
    return application.exec();
}

#include "CEFindBar.h"

#include "CEEditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

CEFindBar::CEFindBar(CEEditor &editor, QWidget *parent) : QWidget(parent), m_editor(editor)
{
    setObjectName(QStringLiteral("CEFindBar"));
    setAutoFillBackground(true);
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 5, 6, 5);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);

    m_findField = new QLineEdit(this);
    m_findField->setObjectName(QStringLiteral("findField"));
    m_findField->setPlaceholderText(tr("Find"));
    m_findField->setClearButtonEnabled(true);
    m_replaceField = new QLineEdit(this);
    m_replaceField->setObjectName(QStringLiteral("replaceField"));
    m_replaceField->setPlaceholderText(tr("Replace with"));
    m_matchCase = new QCheckBox(tr("Match Case"), this);
    m_matchCase->setObjectName(QStringLiteral("matchCase"));
    m_matchCase->setFocusPolicy(Qt::TabFocus);

    QStyle *style = this->style();
    // Each says what it does to a screen reader; the tip also names its key.
    auto toolButton = [this](const QString &name, const QIcon &icon, const QString &title, const QString &key) {
        auto *button = new QToolButton(this);
        button->setObjectName(name);
        button->setIcon(icon);
        button->setAccessibleName(title);
        button->setToolTip(QStringLiteral("%1 (%2)").arg(title, key));
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::TabFocus);
        return button;
    };
    QToolButton *previous = toolButton(QStringLiteral("findPreviousButton"), style->standardIcon(QStyle::SP_ArrowUp),
                                       tr("Find Previous"), QStringLiteral("Shift+F3"));
    QToolButton *next = toolButton(QStringLiteral("findNextButton"), style->standardIcon(QStyle::SP_ArrowDown),
                                   tr("Find Next"), QStringLiteral("F3"));
    QToolButton *close = toolButton(QStringLiteral("closeButton"), style->standardIcon(QStyle::SP_TitleBarCloseButton),
                                    tr("Close Find Bar"), QStringLiteral("Escape"));
    auto *replace = new QPushButton(tr("Replace"), this);
    replace->setObjectName(QStringLiteral("replaceButton"));
    replace->setFocusPolicy(Qt::TabFocus);
    auto *replaceAll = new QPushButton(tr("Replace All"), this);
    replaceAll->setObjectName(QStringLiteral("replaceAllButton"));
    replaceAll->setFocusPolicy(Qt::TabFocus);

    grid->addWidget(new QLabel(tr("Find:"), this), 0, 0);
    grid->addWidget(m_findField, 0, 1);
    grid->addWidget(previous, 0, 2);
    grid->addWidget(next, 0, 3);
    grid->addWidget(m_matchCase, 0, 4);
    grid->addWidget(close, 0, 6, Qt::AlignRight);
    grid->addWidget(new QLabel(tr("Replace:"), this), 1, 0);
    grid->addWidget(m_replaceField, 1, 1);
    grid->addWidget(replace, 1, 2, 1, 2);
    grid->addWidget(replaceAll, 1, 4);
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(5, 1);

    // Return finds on; with Shift it finds back.
    connect(m_findField, &QLineEdit::returnPressed, this, [this] {
        m_editor.findNext(QApplication::keyboardModifiers() & Qt::ShiftModifier);
    });
    connect(m_findField, &QLineEdit::textEdited, this, [this] { setNotFound(false); });
    connect(m_replaceField, &QLineEdit::returnPressed, this, [this] { m_editor.replaceSelection(); });
    connect(previous, &QToolButton::clicked, this, [this] { m_editor.findNext(true); });
    connect(next, &QToolButton::clicked, this, [this] { m_editor.findNext(false); });
    connect(close, &QToolButton::clicked, this, [this] { m_editor.hideFindBar(); });
    connect(replace, &QPushButton::clicked, this, [this] { m_editor.replaceSelection(); });
    connect(replaceAll, &QPushButton::clicked, this, [this] { m_editor.replaceAll(); });
    connect(m_matchCase, &QCheckBox::toggled, this, [this] { setNotFound(false); });
}

QString CEFindBar::searchString() const
{
    return m_findField->text();
}

QString CEFindBar::replacement() const
{
    return m_replaceField->text();
}

Qt::CaseSensitivity CEFindBar::caseSensitivity() const
{
    return m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void CEFindBar::activate(const QString &search)
{
    if (!search.isEmpty()) {
        m_findField->setText(search);
        setNotFound(false);
    }
    m_findField->setFocus(Qt::ShortcutFocusReason);
    m_findField->selectAll();
}

void CEFindBar::setNotFound(bool notFound)
{
    QPalette palette = m_findField->palette();
    palette.setColor(QPalette::Base, notFound ? QColor(255, 220, 220) : this->palette().color(QPalette::Base));
    m_findField->setPalette(palette);
}

void CEFindBar::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        m_editor.hideFindBar();
        return;
    }
    if (event->key() == Qt::Key_F3 && (modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)) {
        m_editor.findNext(modifiers == Qt::ShiftModifier);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CEFindBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, 0, width(), 0);
}

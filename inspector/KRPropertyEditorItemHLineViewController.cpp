#include "KRPropertyEditorItemHLineViewController.h"

#include "KRPropertyEditorViewController.h"

#include <model/KRObject.h>

#include <QFrame>

QWidget *KRPropertyEditorItemHLineViewController::buildView()
{
    auto *view = new QWidget(KRPropertyEditorRowParentScope::current());
    view->setFixedHeight(9);
    auto *line = new QFrame(view);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(8, 3, 2000, 2);
    return view;
}

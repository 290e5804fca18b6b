#pragma once

#include <QList>
#include <QString>

#include <functional>

// A context-menu entry as the model describes it; the GUI turns these into menus.
struct KRMenuItem
{
    QString title;
    std::function<void()> action; // empty for separators and submenu holders
    QString representedObject;
    QString imageName;            // "" for none; template images are drawn in the text colour
    bool imageIsTemplate = false;
    int imageSize = 0;            // points; 0: the image's own size
    bool bold = false;
    bool separator = false;
    bool hasSubmenu = false;
    QString submenuTitle;
    QList<KRMenuItem> submenu;

    static KRMenuItem separatorItem()
    {
        KRMenuItem item;
        item.separator = true;
        return item;
    }
};

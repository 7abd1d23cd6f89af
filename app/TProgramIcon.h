#pragma once

#include <QIcon>
#include <QString>

// The program's icon: one drawing, resources/icons/quorla.svg, for the main
// window, the notification area and the commands without an icon of their own;
// the installed program gives the same file to the desktop's icon theme.
//
// The drawing is rendered with the Qt SVG library linked into the program, not
// through Qt's SVG icon plugin. A plugin is loaded at run time: without it the
// window would silently have no icon, and the package tools, which read the
// libraries a binary links, would never know the package needs it. A linked
// library is found by them and becomes a dependency of the package.
class TProgramIcon
{
public:
    // The icon at the usual sizes from 16 to 256 pixels, each drawn when it
    // is first shown; a null icon if the drawing cannot be read.
    static QIcon Icon();

    // Any drawing of the resources rendered the same way (the commands' own
    // icons); a null icon if it cannot be read.
    static QIcon Render(const QString& resource);

    static constexpr const char* Resource = ":/icons/quorla.svg";
};

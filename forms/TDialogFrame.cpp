#include "TDialogFrame.h"

#include <QDialog>

void TDialogFrame::Fixed(QDialog& dialog)
{
    // Without CustomizeWindowHint the window manager is left to offer every
    // button it has.
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint);
}

#pragma once

class QDialog;

// The window frame of the program's dialogs.
class TDialogFrame
{
public:
    TDialogFrame() = delete;

    // A dialog of fixed size: a title and a close button, and no minimise or
    // maximise button, which would only offer what the dialog cannot do.
    static void Fixed(QDialog& dialog);
};

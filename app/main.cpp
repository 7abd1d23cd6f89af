// The program entry: the application titled "Quorla", its services, the main
// window and then every dialog, each created once and reused until the end.

#include "TQtServices.h"
#include "TfrmCategories.h"
#include "TfrmDate.h"
#include "TfrmEvent.h"
#include "TfrmFiltering.h"
#include "TfrmGroups.h"
#include "TfrmLogin.h"
#include "TfrmMain.h"
#include "TfrmNotify.h"
#include "TfrmOptions.h"
#include "TfrmReport.h"
#include "TfrmReportViewer.h"
#include "TfrmSelectGroup.h"
#include "TfrmTrouble.h"
#include "TfrmUsers.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorla"));

    TQtServices services;
    TServices::setCurrent(&services);

    int result = 0;
    {
        TfrmMain frmMain;
        // Owned by the main window, so they go with it.
        auto* frmLogin = new TfrmLogin(&frmMain);
        auto* frmDate = new TfrmDate(&frmMain);
        frmMain.AttachDialogs(frmLogin, frmDate);
        frmMain.AttachAdminDialogs(new TfrmUsers(&frmMain), new TfrmCategories(&frmMain));
        frmMain.AttachToolDialogs(new TfrmOptions(&frmMain), new TfrmFiltering(&frmMain), new TfrmTrouble(&frmMain));
        frmMain.AttachReportDialogs(new TfrmGroups(&frmMain), new TfrmReport(&frmMain), new TfrmReportViewer(&frmMain),
                                    new TfrmSelectGroup(&frmMain));
        frmMain.AttachEventDialogs(new TfrmEvent(&frmMain), new TfrmNotify(&frmMain));
        frmMain.show();
        result = QApplication::exec();
    }
    TServices::setCurrent(nullptr);
    return result;
}

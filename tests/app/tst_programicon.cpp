// The program icon: drawn from the SVG that is also installed for the desktop,
// at every size the desktop asks for, and the one the main window (and with it
// the notification area) shows.

#include "QuorlaTest.h"
#include "TProgramIcon.h"
#include "TScriptedServices.h"
#include "TfrmMain.h"

#include <QApplication>
#include <QImage>

class TestProgramIcon : public QObject
{
    Q_OBJECT

private slots:
    void drawnAtEverySize()
    {
        const QIcon icon = TProgramIcon::Icon();
        QVERIFY(!icon.isNull());
        for (const int size : {16, 32, 48, 256}) {
            QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
            // Not an empty image: the page's middle is drawn.
            const QImage image = icon.pixmap(size, size).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            QCOMPARE(qAlpha(image.pixel(size / 2, size * 3 / 4)), 255);
        }
    }

    void mainWindowShowsIt()
    {
        TScriptedServices services;
        TfrmMain window;
        QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    }
};

QUORLA_TEST_GUI_MAIN(TestProgramIcon)
#include "tst_programicon.moc"

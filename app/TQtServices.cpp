#include "TQtServices.h"

#include "TDesktopNotifier.h"
#include "THelpViewer.h"
#include "TMailHandOff.h"

#include <QPushButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QThread>

#include <utility>

namespace {

QMessageBox::Icon iconFor(TPersonServices::MessageKind kind)
{
    switch (kind) {
    case TPersonServices::MessageKind::Information:
        return QMessageBox::Information;
    case TPersonServices::MessageKind::Warning:
        return QMessageBox::Warning;
    case TPersonServices::MessageKind::Error:
        return QMessageBox::Critical;
    case TPersonServices::MessageKind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

void addButton(QMessageBox& box, QMessageBox::StandardButton which, const QString& caption)
{
    box.addButton(which)->setText(caption);
}

} // namespace

QWidget* TQtServices::dialogParent()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // The window system reports a window gone only later: a window just
    // hidden can still be the active one, and a box over it would belong to a
    // window out of sight.
    if (QWidget* active = QApplication::activeWindow(); active != nullptr && active->isVisible())
        return active;
    // The main window first; a box over a hidden window could stay unseen.
    QWidget* shown = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || top->isMinimized())
            continue;
        if (qobject_cast<QMainWindow*>(top) != nullptr)
            return top;
        if (shown == nullptr && top->isWindow() && top->windowType() != Qt::Popup && top->windowType() != Qt::ToolTip)
            shown = top;
    }
    return shown;
}

TPersonServices::MessageAnswer TQtServices::message(MessageKind kind, MessageButtons buttons, const QString& text)
{
    // Messages break their lines with a lone carriage return, which a label
    // would not show as a break.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    QMessageBox box(iconFor(kind), messageTitle(kind), shown, QMessageBox::NoButton, dialogParent());
    box.setTextFormat(Qt::PlainText);
    switch (buttons) {
    case MessageButtons::Ok:
        addButton(box, QMessageBox::Ok, QStringLiteral("OK"));
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MessageButtons::YesNo:
        addButton(box, QMessageBox::Yes, QStringLiteral("&Yes"));
        addButton(box, QMessageBox::No, QStringLiteral("&No"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    case MessageButtons::OkCancel:
        addButton(box, QMessageBox::Ok, QStringLiteral("OK"));
        addButton(box, QMessageBox::Cancel, QStringLiteral("Cancel"));
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }

    switch (box.exec()) {
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    default:
        break;
    }
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

int TQtServices::choose(const QString& text, const QStringList& choices)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(iconFor(MessageKind::Confirmation), messageTitle(MessageKind::Confirmation), shown,
                    QMessageBox::NoButton, dialogParent());
    box.setTextFormat(Qt::PlainText);
    QList<QAbstractButton*> buttons;
    for (const QString& choice : choices)
        buttons << box.addButton(choice, QMessageBox::AcceptRole);
    QAbstractButton* cancel = box.addButton(QMessageBox::Cancel);
    cancel->setText(QStringLiteral("Cancel"));
    box.setEscapeButton(cancel);
    if (!buttons.isEmpty())
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    return int(buttons.indexOf(box.clickedButton()));
}

QString TQtServices::pickFolder(const QString& caption)
{
    // The dialog's own "new folder" button lets the user create the folder.
    return QFileDialog::getExistingDirectory(dialogParent(), caption, QDir::homePath(),
                                             QFileDialog::ShowDirsOnly);
}

QString TQtServices::pickSaveFile(const QString& caption, const QString& suggested, const QString& filter)
{
    // The dialog asks before a file is replaced.
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption,
                                        QDir::home().filePath(suggested), filter);
}

QString TQtServices::pickOpenFile(const QString& caption, const QString& filter)
{
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), caption, QDir::homePath(), filter);
}

QString TQtServices::userName()
{
    for (const char* variable : {"USER", "LOGNAME", "USERNAME"}) {
        const QString name = QString::fromLocal8Bit(qgetenv(variable));
        if (!name.isEmpty())
            return name;
    }
    return {};
}

void TQtServices::beep()
{
    QApplication::beep();
}

void TQtServices::sleep(int milliseconds)
{
    QThread::msleep(static_cast<unsigned long>(qMax(0, milliseconds)));
}

void TQtServices::pushBusyCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

void TQtServices::popBusyCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

QSize TQtServices::screenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize();
}

TDesktopServices::ShowState TQtServices::startupShowState()
{
    // The desktops we run on hand a program no start-up show state; a start
    // minimised or maximised is asked for by the window manager itself.
    return ShowState::Normal;
}

TDesktopServices::HandOffResult TQtServices::mailAvailability()
{
    if (mailFound_)
        return {Outcome::Done, {}};
    const HandOffResult found = TMailHandOff::Availability();
    mailFound_ = found.outcome == Outcome::Done;
    return found;
}

void TQtServices::sendMail(const MailMessage& mail, std::function<void(const HandOffResult&)> finished)
{
    // The desktop's mail program always shows its compose window: the user
    // reviews every message and sends it from there.
    TMailHandOff::Send(mail, std::move(finished));
}

bool TQtServices::choosePrinter(QPrinter& printer)
{
    // The platform's dialog also offers printing to a PDF file.
    QPrintDialog dialog(&printer, dialogParent());
    return dialog.exec() == QDialog::Accepted;
}

TQtServices::TQtServices() = default;

TQtServices::~TQtServices() = default;

TDesktopServices::HandOffResult TQtServices::showHelp(const QString& helpFile, const QString& topic)
{
    if (!help_)
        help_ = std::make_unique<THelpViewer>();
    if (!help_->ShowTopic(helpFile, topic))
        return {Outcome::Failed, QStringLiteral("The help file %1 cannot be read.").arg(helpFile)};
    return {Outcome::Done, {}};
}

quint32 TQtServices::notify(const DesktopNotification& note, std::function<void()> onActivated)
{
    if (!notifier_)
        notifier_ = std::make_unique<TDesktopNotifier>();
    return notifier_->Notify(note, std::move(onActivated));
}

void TQtServices::withdrawNotification(quint32 handle)
{
    if (notifier_)
        notifier_->Withdraw(handle);
}

void TQtServices::showApplicationError(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), shown, QMessageBox::NoButton,
                    dialogParent());
    box.setTextFormat(Qt::PlainText);
    box.addButton(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.setEscapeButton(QMessageBox::Ok);
    const QPointer<QMessageBox> outer = std::exchange(errorBox_, &box);
    box.exec();
    errorBox_ = outer;
}

void TQtServices::withdrawApplicationError()
{
    if (errorBox_)
        errorBox_->done(QMessageBox::Ok);
}

#include "runtime.h"

#include "engine.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>

namespace {

MsgBoxAnswerer &answerer()
{
    static MsgBoxAnswerer current;
    return current;
}

FileDialogAnswerer &fileDialogAnswerer()
{
    static FileDialogAnswerer current;
    return current;
}

UrlOpener &urlOpener()
{
    static UrlOpener current = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    return current;
}

QMessageBox::Icon iconOf(int style)
{
    switch (style & 0x70) {
    case 16: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case 48: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons buttonsOf(int style)
{
    switch (style & 0x07) {
    case 1: return QMessageBox::Ok | QMessageBox::Cancel;
    case 2: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case 3: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case 4: return QMessageBox::Yes | QMessageBox::No;
    case 5: return QMessageBox::Retry | QMessageBox::Cancel;
    default: return QMessageBox::Ok;
    }
}

int resultOf(int button)
{
    switch (button) {
    case QMessageBox::Cancel: return vbCancel;
    case QMessageBox::Abort: return vbAbort;
    case QMessageBox::Retry: return vbRetry;
    case QMessageBox::Ignore: return vbIgnore;
    case QMessageBox::Yes: return vbYes;
    case QMessageBox::No: return vbNo;
    default: return vbOK;
    }
}

} // namespace

int MsgBox(const QString &prompt, int style, const QString &title)
{
    const QString shownTitle = title.isEmpty() ? QCoreApplication::applicationName() : title;
    if (answerer())
        return answerer()(prompt, style, shownTitle);
    QMessageBox box(iconOf(style), shownTitle, prompt, buttonsOf(style), QApplication::activeWindow());
    // Qt hands screen readers the prompt only as the box's value; the description is what they read out with it.
    box.setAccessibleDescription(prompt);
    return resultOf(box.exec());
}

void setMsgBoxAnswerer(MsgBoxAnswerer newAnswerer)
{
    answerer() = std::move(newAnswerer);
}

QString engineErrorText(const EngineError &error)
{
    return QStringLiteral("Errore di run-time '%1':\n\n%2").arg(error.number()).arg(error.text());
}

void reportingEngineErrors(const std::function<void()> &action)
{
    try {
        action();
    } catch (const EngineError &error) {
        MsgBox(engineErrorText(error), 16, QStringLiteral("Errore"));
    } catch (const std::bad_alloc &) {
        MsgBox(QStringLiteral("Memoria insufficiente: l'operazione non è stata eseguita."), 16, QStringLiteral("Errore"));
    }
}

FileDialogAnswer FileDialog(FileDialogMode mode, const QString &title, const QStringList &types)
{
    if (fileDialogAnswerer())
        return fileDialogAnswerer()(mode, title, types);
    QFileDialog dialog(QApplication::activeWindow(), title);
    dialog.setAcceptMode(mode == FileDialogMode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(mode == FileDialogMode::Open ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
    dialog.setNameFilters(types);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return {dialog.selectedFiles(), int(types.indexOf(dialog.selectedNameFilter()))};
}

void setFileDialogAnswerer(FileDialogAnswerer answerer)
{
    fileDialogAnswerer() = std::move(answerer);
}

void ShellExecute(const QUrl &url)
{
    urlOpener()(url);
}

void setUrlOpener(UrlOpener opener)
{
    urlOpener() = std::move(opener);
}

#pragma once

// What the program asks of the platform around it: modal message boxes and the shell.

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class EngineError;

enum MsgBoxResult { vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7 };

// Shows a modal message box; `style` adds buttons (0 OK, 4 Yes/No, ...) and an icon (16, 32, 48, 64).
// An empty title shows the application's title. Returns the number of the button pressed.
int MsgBox(const QString &prompt, int style = 0, const QString &title = QString());

// Lets tests answer message boxes: the answerer sees each box (with its title resolved) instead of the user.
using MsgBoxAnswerer = std::function<int(const QString &prompt, int style, const QString &title)>;
void setMsgBoxAnswerer(MsgBoxAnswerer answerer);

// The engine's number and text, as a failed operation reports them.
QString engineErrorText(const EngineError &error);

// Runs a user's action; a failing engine, or memory running out, is reported in a box and the program goes on
// (each action leaves nothing half-done).
void reportingEngineErrors(const std::function<void()> &action);

// A file dialog's answer: the chosen files (none when cancelled) and the index of the chosen file type.
struct FileDialogAnswer
{
    QStringList paths;
    int type = 0;
};
enum class FileDialogMode { Open, Save };
// Asks in a modal dialog for files to open, or for one file to save, of one of `types` ("CSV (*.csv)").
FileDialogAnswer FileDialog(FileDialogMode mode, const QString &title, const QStringList &types);
// Lets tests answer file dialogs, as message boxes.
using FileDialogAnswerer = std::function<FileDialogAnswer(FileDialogMode mode, const QString &title, const QStringList &types)>;
void setFileDialogAnswerer(FileDialogAnswerer answerer);

// Hands a URL to the user's registered program; the outcome is not looked at.
void ShellExecute(const QUrl &url);
using UrlOpener = std::function<void(const QUrl &url)>;
void setUrlOpener(UrlOpener opener);

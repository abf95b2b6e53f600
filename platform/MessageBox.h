#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace platform {

// The program's name as message boxes are captioned with it: the executable's file name.
QString ProgramName();

// An OK-only message box captioned with ProgramName(). Callable from any thread: the box is
// shown on the UI thread and the caller is blocked until the user closes it. It is a real
// QMessageBox, so screen readers announce it as an alert.
void MessageBox(const QString& text);

// Tests answer message boxes instead of the user: while a handler is installed every box goes
// to it (on the UI thread) and nothing is shown. Pass an empty function to remove it.
using MessageBoxHandler = std::function<void(const QString& caption, const QString& text)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace platform

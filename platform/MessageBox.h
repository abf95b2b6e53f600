#pragma once
#include <QString>
#include <functional>

namespace platform {

// The program's name as message boxes are captioned with it: the executable's file name.
QString ProgramName();

// An OK-only message box captioned with ProgramName(). Callable from any thread: the box is
// shown on the UI thread and the caller is blocked until the user closes it. A windowed program
// calls UseWidgetMessageBoxes() (platform/WidgetMessageBox.h) at start, which makes it a real
// QMessageBox, announced by screen readers as an alert; until then, and in programs without
// windows, the text goes to standard error as "<program>: <text>".
void MessageBox(const QString& text);

// Tests answer message boxes instead of the user: while a handler is installed every box goes
// to it (on the UI thread) and nothing is shown. Pass an empty function to remove it.
using MessageBoxHandler = std::function<void(const QString& caption, const QString& text)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// How a box is shown when no handler is installed (caption, text); empty: standard error.
void SetMessageBoxPresenter(MessageBoxHandler presenter);

} // namespace platform

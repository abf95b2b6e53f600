#pragma once
#include <QString>
#include <functional>

class QWidget;

namespace platform {

// The shell actions offered on a file-link line. Paths travel as arguments (URLs or D-Bus
// parameters), never through a shell, so no character in a path is ever interpreted. Paths are
// texts whose bytes platform::EscapedText keeps: a file in a folder whose name is not UTF-8 is
// reached by its own bytes (percent-encoded in the URL).
enum class ShellAction { OpenInEditor, OpenFolder, ShowProperties };

// Opens a text file in the desktop's default application for it (a text editor for .txt).
void OpenInTextEditor(const QString& path);
// Opens a folder in the desktop's file manager.
void OpenFolder(const QString& folder);
// Shows a file's properties: the file manager's properties view over D-Bus
// (org.freedesktop.FileManager1.ShowItemProperties); where no file manager answers, our own
// small properties dialog.
void ShowFileProperties(const QString& path, QWidget* parent);

// Tests: record the actions instead of performing them.
using ShellActionHandler = std::function<void(ShellAction action, const QString& path)>;
void SetShellActionHandler(ShellActionHandler handler);

} // namespace platform

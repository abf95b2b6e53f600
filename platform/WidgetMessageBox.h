#pragma once

namespace platform {

// Makes platform::MessageBox show a QMessageBox over the active window. Called once by a
// windowed program after its QApplication is built.
void UseWidgetMessageBoxes();

} // namespace platform

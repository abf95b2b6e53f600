#pragma once

// The application object: runs the main dialog modally; the program ends when it closes.
class CMainApp {
public:
    // Needs a QApplication. Returns the process's exit status: 0 on a normal close, which Linux
    // scripts and session managers read as success.
    int Run();
};

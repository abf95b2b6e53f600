// The notification-area icon on a real X server: Xvfb with Debian's trayer as the tray host, and
// Xvfb without any. Each test starts its own X server (on a display number the server picks)
// and runs this program again as a child on it, so the window really goes through xcb.
#include "app/AppTestSupport.h"
#include "common/TestSupport.h"

#include "app/CMainDialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

bool OnPath(const char* program)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(program)).size() > 0;
}

// A process of the test's own, ended (by its id) with the test.
class Child {
public:
    explicit Child(std::vector<std::string> argv, const std::vector<std::string>& extraEnv = {}, int fd3 = -1)
    {
        // The given variables replace those of the same name: a second DISPLAY (or
        // QT_QPA_PLATFORM) after the test's own would be the one nobody reads.
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const std::string& extra : extraEnv)
                replaced = replaced || extra.compare(0, name.size(), name) == 0;
            if (!replaced)
                env.push_back(entry);
        }
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> args, envp;
        for (auto& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (fd3 >= 0)
            posix_spawn_file_actions_adddup2(&actions, fd3, 3);
        if (posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool Started() const { return m_pid > 0; }
    // Still running (not yet waited for).
    bool Running()
    {
        int status = 0;
        if (m_pid <= 0 || m_exited)
            return false;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exited = true;
        return !m_exited;
    }
    pid_t Pid() const { return m_pid; }
    // The exit status, or -1 when it did not end in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_exited = true;
        return -1;
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
};

// Xvfb on the first free display, which it reports through descriptor 3.
class XServer {
public:
    XServer()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_readEnd = fds[0];
        m_server = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", "640x480x24", "-nolisten", "tcp"},
            std::vector<std::string>{}, fds[1]);
        close(fds[1]);
        // The number, then a line end; the server fails if the pipe closes before that.
        std::string number;
        char c = 0;
        pollfd pfd{m_readEnd, POLLIN, 0};
        while (m_server->Started() && poll(&pfd, 1, 10000) == 1 && read(m_readEnd, &c, 1) == 1 && c != '\n')
            number += c;
        if (c == '\n' && !number.empty())
            m_display = ":" + number;
    }
    ~XServer()
    {
        m_server.reset();
        if (m_readEnd >= 0)
            close(m_readEnd);
    }
    const std::string& Display() const { return m_display; } // empty when it did not start

private:
    int m_readEnd = -1;
    std::unique_ptr<Child> m_server;
    std::string m_display;
};

// Waits until a tray host owns the system tray selection of the display's screen
// (_NET_SYSTEM_TRAY_S<screen>), which is what a tray icon looks for: however long the host
// takes to start on a busy machine, the icon is shown only once there is a tray. False when
// the host ended first (or after 100 s, well within the test's time-out, to say so).
bool WaitForTrayHost(const std::string& display, Child& host)
{
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display.c_str(), &screen);
    bool owned = false;
    if (!xcb_connection_has_error(connection)) {
        const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
        const auto end = std::chrono::steady_clock::now() + 100s;
        while (atom && !owned && host.Running() && std::chrono::steady_clock::now() < end) {
            xcb_get_selection_owner_reply_t* owner =
                xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            owned = owner && owner->owner != XCB_NONE;
            std::free(owner);
            if (!owned)
                std::this_thread::sleep_for(50ms);
        }
        std::free(atom);
    }
    xcb_disconnect(connection);
    return owned;
}

// Runs this program as the child for mode on display; its exit status.
int RunChild(const std::string& display, const char* mode, pid_t trayHost = 0)
{
    Child child({std::filesystem::read_symlink("/proc/self/exe").string(), "--x11-child", mode, std::to_string(trayHost)},
                {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                 // No StatusNotifier watcher: the icon docks in the X11 tray (and no bus is started).
                 "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"});
    return child.Started() ? child.Wait(60s) : -2;
}

#define SKIP_WITHOUT(program) \
    if (!OnPath(program))     \
    GTEST_SKIP() << program " is not installed (scripts/deps installs it)"

// Then, hidden again, the window comes back by itself when the tray host ends.
TEST(TrayOnX11, IconDocksInTheTrayHostAndAClickOnItBringsTheWindowBack)
{
    SKIP_WITHOUT("Xvfb");
    SKIP_WITHOUT("trayer");
    SKIP_WITHOUT("xdotool");
    const XServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    Child trayer({"trayer", "--edge", "top", "--align", "left", "--widthtype", "request", "--height", "32",
                  "--SetDockType", "false", "--SetPartialStrut", "false"},
                 {"DISPLAY=" + x.Display()});
    ASSERT_TRUE(trayer.Started());
    ASSERT_TRUE(WaitForTrayHost(x.Display(), trayer)) << "trayer never took the system tray selection";
    EXPECT_EQ(RunChild(x.Display(), "tray", trayer.Pid()), 0);
}

TEST(TrayOnX11, WithoutATrayHostMinimiseGoesToTheTaskbar)
{
    SKIP_WITHOUT("Xvfb");
    const XServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    EXPECT_EQ(RunChild(x.Display(), "no-tray"), 0);
}

// ---- The child: the main window on the X server --------------------------------------------

#define CHECK(cond)                                                             \
    do {                                                                        \
        if (!(cond)) {                                                          \
            std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                           \
        }                                                                       \
    } while (0)

// Qt's docked icon: a small window of ours that the tray host has taken in.
QWidget* TrayIconWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QSystemTrayIconSys") && w->isVisible())
            return w;
    return nullptr;
}

QString Run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Where a click reaches the docked icon, as the X server has it: taken into the tray host's
// window and viewable there. The host maps the icon only some time after taking it in; a click
// before that goes to the host's own window, and the icon never hears of it.
std::optional<QPoint> DockedIconCentre(QWidget* w)
{
    xcb_connection_t* connection = qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
    const auto id = static_cast<xcb_window_t>(w->winId());
    const auto tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr);
    const auto attributes = xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr);
    const auto geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr);
    std::optional<QPoint> centre;
    if (tree && attributes && geometry && tree->parent != tree->root && attributes->map_state == XCB_MAP_STATE_VIEWABLE) {
        const auto onRoot = xcb_translate_coordinates_reply(
            connection,
            xcb_translate_coordinates(connection, id, tree->root, static_cast<int16_t>(geometry->width / 2),
                                      static_cast<int16_t>(geometry->height / 2)),
            nullptr);
        if (onRoot)
            centre = QPoint(onRoot->dst_x, onRoot->dst_y);
        std::free(onRoot);
    }
    std::free(tree);
    std::free(attributes);
    std::free(geometry);
    return centre;
}

int ChildWithTray(CMainDialog& dialog, pid_t trayHost)
{
    CHECK(testsupport::WaitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
    dialog.showMinimized();
    QWidget* icon = nullptr;
    std::optional<QPoint> centre;
    CHECK(testsupport::WaitUntil([&] {
        icon = TrayIconWindow();
        centre = icon ? DockedIconCentre(icon) : std::nullopt;
        return centre.has_value();
    }));
    CHECK(!dialog.isVisible());
    CHECK(dialog.IsTrayIconShown());
    CHECK(icon->toolTip() == QLatin1String("VeltraneG"));

    // A real click, through the X server, on the middle of the docked icon.
    Run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(centre->x()),
                                    QString::number(centre->y()), QStringLiteral("click"), QStringLiteral("1")});
    CHECK(testsupport::WaitUntil([&] { return dialog.isVisible() && !dialog.isMinimized(); }));
    CHECK(!dialog.IsTrayIconShown());
    CHECK(testsupport::WaitUntil([] { return TrayIconWindow() == nullptr; }));

    dialog.showMinimized();
    CHECK(testsupport::WaitUntil([&] { return !dialog.isVisible() && TrayIconWindow(); }));
    CHECK(trayHost > 0); // never 0: that would signal the whole process group
    CHECK(kill(trayHost, SIGTERM) == 0);
    CHECK(testsupport::WaitUntil([&] { return dialog.isVisible() && !dialog.IsTrayIconShown(); }));
    return 0;
}

int ChildWithoutTray(CMainDialog& dialog)
{
    CHECK(!QSystemTrayIcon::isSystemTrayAvailable());
    dialog.showMinimized();
    QTest::qWait(200);
    CHECK(dialog.isVisible());
    CHECK(dialog.isMinimized());
    CHECK(!dialog.IsTrayIconShown());
    CHECK(TrayIconWindow() == nullptr);
    return 0;
}

int ChildMain(int argc, char** argv, const std::string& mode, pid_t trayHost)
{
    QApplication app(argc, argv);
    const TempCurrentDir cwd; // the settings file, if any, is the child's own
    CMainDialog dialog;
    dialog.show();
    CHECK(QTest::qWaitForWindowExposed(&dialog));
    return mode == "tray" ? ChildWithTray(dialog, trayHost) : ChildWithoutTray(dialog);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--x11-child") == 0)
        return ChildMain(argc, argv, argv[2], static_cast<pid_t>(std::atoi(argv[3])));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

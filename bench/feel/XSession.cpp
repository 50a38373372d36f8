#include "XSession.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace feel {

namespace {

constexpr double PingIntervalMs = 4;

Display *dpyOf(void *p)
{
    return static_cast<Display *>(p);
}

// Windows vanish while we watch them (a message box closes): their errors are
// expected and carry no news.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

pid_t launch(const std::vector<std::string> &argv, const std::vector<std::string> &env, int keepFd = -1)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    setsid();
    for (const std::string &e : env)
        putenv(strdup(e.c_str()));
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        dup2(devnull, 0);
        dup2(devnull, 1);
        if (!std::getenv("NAMORA_FEEL_VERBOSE"))
            dup2(devnull, 2);
    }
    for (int fd = 3; fd < 1024; ++fd)
        if (fd != keepFd)
            close(fd);
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

void endProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

std::unique_ptr<XSession> XSession::start(int width, int height, std::string &problem)
{
    int fds[2];
    if (pipe(fds) != 0) {
        problem = "pipe failed";
        return nullptr;
    }
    std::unique_ptr<XSession> s(new XSession);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    s->m_server = launch({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten",
                          "tcp", "-noreset"},
                         {}, fds[1]);
    close(fds[1]);
    char buf[32] = {};
    pollfd p{fds[0], POLLIN, 0};
    ssize_t n = 0;
    if (poll(&p, 1, 10000) == 1)
        n = read(fds[0], buf, sizeof buf - 1);
    close(fds[0]);
    if (n <= 0) {
        problem = "Xvfb did not start (apt-get install xvfb)";
        return nullptr;
    }
    s->m_display = ":" + std::string(buf, strcspn(buf, "\n"));
    Display *d = XOpenDisplay(s->m_display.c_str());
    if (!d) {
        problem = "cannot open display " + s->m_display;
        return nullptr;
    }
    s->m_dpy = d;
    XSetErrorHandler(ignoreErrors);
    int ev = 0, err = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(d, &ev, &err, &major, &minor) ||
        !XDamageQueryExtension(d, &s->m_damageBase, &err)) {
        problem = "the X server lacks XTEST or DAMAGE";
        return nullptr;
    }
    s->m_root = DefaultRootWindow(d);
    // The window's answers to pings go to the root window for the window
    // manager; there is none, so we listen there.
    XSelectInput(d, s->m_root, SubstructureNotifyMask | StructureNotifyMask);
    s->m_atomProtocols = XInternAtom(d, "WM_PROTOCOLS", False);
    s->m_atomPing = XInternAtom(d, "_NET_WM_PING", False);
    XSync(d, False);
    return s;
}

XSession::~XSession()
{
    stopProgram();
    if (m_dpy)
        XCloseDisplay(dpyOf(m_dpy));
    endProcess(m_server);
}

pid_t XSession::spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env)
{
    stopProgram();
    std::vector<std::string> all = env;
    all.push_back("DISPLAY=" + m_display);
    all.push_back("QT_QPA_PLATFORM=xcb");
    m_spawnMs = nowMs();
    m_program = launch(argv, all);
    return m_program;
}

void XSession::stopProgram()
{
    endProcess(m_program);
    m_program = -1;
    if (!m_dpy)
        return;
    handleEvents();
    for (const auto &[window, damage] : m_damages)
        XDamageDestroy(dpyOf(m_dpy), damage);
    m_damages.clear();
    m_lastDamageOf.clear();
    m_main = m_dialog = 0;
    m_mappedMs = m_lastDamage = -1;
    m_outstanding.clear();
    m_pinging = false;
    XSync(dpyOf(m_dpy), False);
}

void XSession::watch(unsigned long window)
{
    if (m_damages.count(window))
        return;
    m_damages[window] = XDamageCreate(dpyOf(m_dpy), window, XDamageReportNonEmpty);
}

void XSession::handleEvents()
{
    Display *d = dpyOf(m_dpy);
    while (XPending(d)) {
        XEvent e;
        XNextEvent(d, &e);
        const double now = nowMs();
        if (e.type == MapNotify && !e.xmap.override_redirect) {
            if (!m_main) {
                m_main = e.xmap.window;
                m_mappedMs = now;
            } else if (e.xmap.window != m_main) {
                m_dialog = e.xmap.window;
            }
            watch(e.xmap.window);
        } else if (e.type == UnmapNotify && e.xunmap.window == m_dialog) {
            m_dialog = 0;
        } else if (e.type == m_damageBase + XDamageNotify) {
            const auto *de = reinterpret_cast<XDamageNotifyEvent *>(&e);
            XDamageSubtract(d, de->damage, None, None);
            m_lastDamage = now;
            m_lastDamageOf[de->drawable] = now;
            ++m_damageCount;
            if (onDamage)
                onDamage(now);
        } else if (e.type == ClientMessage && e.xclient.message_type == m_atomProtocols &&
                   static_cast<unsigned long>(e.xclient.data.l[0]) == m_atomPing) {
            const auto it = m_outstanding.find(e.xclient.data.l[1]);
            if (it != m_outstanding.end()) {
                m_worstAnswered = std::max(m_worstAnswered, now - it->second);
                m_outstanding.erase(it);
            }
        }
    }
}

void XSession::sendPing()
{
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = m_main;
    e.xclient.message_type = m_atomProtocols;
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(m_atomPing);
    e.xclient.data.l[1] = m_pingSerial;
    e.xclient.data.l[2] = long(m_main);
    XSendEvent(dpyOf(m_dpy), m_main, False, NoEventMask, &e);
    XFlush(dpyOf(m_dpy));
    m_lastPingSent = nowMs();
    m_outstanding[m_pingSerial++] = m_lastPingSent;
}

bool XSession::pumpUntil(const std::function<bool()> &pred, double limitMs)
{
    const double deadline = nowMs() + limitMs;
    Display *d = dpyOf(m_dpy);
    for (;;) {
        handleEvents();
        if (pred())
            return true;
        double now = nowMs();
        if (now >= deadline)
            return false;
        if (m_pinging && m_main && now - m_lastPingSent >= PingIntervalMs)
            sendPing();
        // Predicates may turn on time alone: never sleep long between looks.
        double wait = std::min(deadline - now, 5.0);
        if (m_pinging && m_main)
            wait = std::min(wait, m_lastPingSent + PingIntervalMs - now);
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, std::max(0, int(wait + 0.999)));
    }
}

double XSession::waitQuiet(double quietMs, double limitMs)
{
    const double begin = nowMs();
    const bool ok = pumpUntil([&] { return nowMs() - std::max(m_lastDamage, begin) >= quietMs; }, limitMs);
    return ok ? m_lastDamage : -1;
}

double XSession::lastDamageOf(unsigned long window) const
{
    const auto it = m_lastDamageOf.find(window);
    return it == m_lastDamageOf.end() ? -1 : it->second;
}

bool XSession::geometry(int &x, int &y, int &w, int &h) const
{
    XWindowAttributes a{};
    if (!m_main || !XGetWindowAttributes(dpyOf(m_dpy), m_main, &a))
        return false;
    x = a.x;
    y = a.y;
    w = a.width;
    h = a.height;
    return true;
}

void XSession::moveResize(int x, int y, int w, int h)
{
    XMoveResizeWindow(dpyOf(m_dpy), m_main, x, y, unsigned(w), unsigned(h));
    XFlush(dpyOf(m_dpy));
}

void XSession::resetPings()
{
    m_outstanding.clear();
    m_worstAnswered = 0;
}

double XSession::worstPingMs() const
{
    double worst = m_worstAnswered;
    const double now = nowMs();
    for (const auto &[serial, sent] : m_outstanding)
        worst = std::max(worst, now - sent);
    return worst;
}

void XSession::click(Point p)
{
    int x = 0, y = 0, w = 0, h = 0;
    geometry(x, y, w, h);
    Display *d = dpyOf(m_dpy);
    XTestFakeMotionEvent(d, -1, x + p.x, y + p.y, 0);
    XTestFakeButtonEvent(d, 1, True, 0);
    XTestFakeButtonEvent(d, 1, False, 0);
    XFlush(d);
}

void XSession::key(const char *keysym, bool withAlt)
{
    Display *d = dpyOf(m_dpy);
    const KeyCode alt = XKeysymToKeycode(d, XStringToKeysym("Alt_L"));
    const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(keysym));
    if (withAlt)
        XTestFakeKeyEvent(d, alt, True, 0);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    if (withAlt)
        XTestFakeKeyEvent(d, alt, False, 0);
    XFlush(d);
}

void XSession::type(char c)
{
    const char s[2] = {c, 0};
    key(s);
}

unsigned long XSession::pixel(Point p) const
{
    XImage *image = XGetImage(dpyOf(m_dpy), m_main, p.x, p.y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    const unsigned long v = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return v;
}

} // namespace feel

#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A private X server with the program on it, watched the way a user meets it:
// input goes in through the server (XTest), the answer is the window's painted
// pixels (XDamage) and how long the window leaves a _NET_WM_PING unanswered.
// Kept free of Qt so that the X headers' macros stay in one file.
namespace feel {

// Milliseconds on the monotonic clock.
double nowMs();

struct Point {
    int x = 0;
    int y = 0;
};

class XSession {
public:
    // Starts Xvfb on a free display of the given screen size; null with problem
    // set when there is no server or an extension is missing.
    static std::unique_ptr<XSession> start(int width, int height, std::string &problem);
    ~XSession();
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    std::string display() const { return m_display; }

    // Starts argv with env added to the environment, as a new session. The
    // time of the exec is spawnMs().
    pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env);
    double spawnMs() const { return m_spawnMs; }
    // Ends the program started last and forgets its windows.
    void stopProgram();

    // Runs the event loop (pings included) until pred holds or limitMs passes.
    // Returns whether pred held.
    bool pumpUntil(const std::function<bool()> &pred, double limitMs);
    // Runs until no window was damaged for quietMs (or limitMs passes); returns
    // the time of the last damage, or -1 at the limit.
    double waitQuiet(double quietMs, double limitMs);

    // The program's main window, once mapped (0 before), and when that was.
    unsigned long mainWindow() const { return m_main; }
    double mappedMs() const { return m_mappedMs; }
    // A window mapped after the main one (a message box), 0 when none is.
    unsigned long dialog() const { return m_dialog; }
    double lastDamageMs() const { return m_lastDamage; }
    double lastDamageOf(unsigned long window) const;
    long damageCount() const { return m_damageCount; }

    // Position and size of the main window.
    bool geometry(int &x, int &y, int &w, int &h) const;
    void moveResize(int x, int y, int w, int h);

    // Pings: sent every few milliseconds to the main window while enabled;
    // worstPingMs() is the longest wait for an answer since resetPings(),
    // unanswered pings counted with their age.
    void setPinging(bool on) { m_pinging = on; }
    void resetPings();
    double worstPingMs() const;

    // Input through the server.
    void click(Point p);
    void key(const char *keysym, bool withAlt = false);
    void type(char c);

    // The pixel of the main window at p (0xRRGGBB).
    unsigned long pixel(Point p) const;

    // Called with the time of each damage event.
    std::function<void(double)> onDamage;

private:
    XSession() = default;
    void handleEvents();
    void sendPing();
    void watch(unsigned long window);

    std::string m_display;
    pid_t m_server = -1;
    pid_t m_program = -1;
    void *m_dpy = nullptr; // Display*
    unsigned long m_root = 0;
    int m_damageBase = 0;
    unsigned long m_main = 0;
    unsigned long m_dialog = 0;
    double m_spawnMs = 0;
    double m_mappedMs = -1;
    double m_lastDamage = -1;
    long m_damageCount = 0;
    std::map<unsigned long, unsigned long> m_damages; // window -> damage
    std::map<unsigned long, double> m_lastDamageOf;
    bool m_pinging = false;
    long m_pingSerial = 1;
    double m_lastPingSent = 0;
    std::map<long, double> m_outstanding; // serial -> sent
    double m_worstAnswered = 0;
    unsigned long m_atomProtocols = 0;
    unsigned long m_atomPing = 0;
};

} // namespace feel

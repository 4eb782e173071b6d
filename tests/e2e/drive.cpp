// kplx-drive: drives the utility's windows as a person would, from a small script, and checks
// what it shows. One step a line; every step prints one line; the first failure prints why,
// ends the utility and exits 1. See README.md for the language.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kMainClass[] = "Quorvel KPLX Meter";
const char kBoxCaption[] = "Quorvel KPLX Meter";
const int kBoxTextId = 0xFFFF;

PROCESS_INFORMATION child = {};
HWND mainWnd = NULL;
HWND box = NULL;       // the message box found by the last wait-box
HWND dialog = NULL;    // the dialog found by the last wait-dialog
DWORD startTick = 0;
DWORD actionTick = 0;  // last step that acted on the utility (menu, key, launch)
std::string actionName = "start";
int lineNo = 0;

double secondsSince(DWORD tick) { return (GetTickCount() - tick) / 1000.0; }

void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::printf("[%7.3f] ", secondsSince(startTick));
    std::vprintf(fmt, ap);
    std::printf("\n");
    std::fflush(stdout);
    va_end(ap);
}

std::string windowClass(HWND w)
{
    char buf[256] = "";
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

std::string narrow(const wchar_t *w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, NULL, 0, NULL, NULL);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w, -1, &out[0], n, NULL, NULL);
    return out;
}

// WM_GETTEXT is marshalled across processes; GetWindowText of a foreign window is not always.
// Wide messages throughout: Wine does not convert ANSI list box replies across processes.
std::string windowText(HWND w)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &len))
        return "<no answer>";
    std::vector<wchar_t> buf(len + 2, 0);
    DWORD_PTR got = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                        3000, &got);
    return narrow(buf.data());
}

bool childAlive() { return child.hProcess && WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT; }

std::vector<HWND> childTopWindows(bool visibleOnly)
{
    struct Ctx {
        std::vector<HWND> out;
        bool visibleOnly;
    } ctx{{}, visibleOnly};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto *c = reinterpret_cast<Ctx *>(p);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (pid == child.dwProcessId && (!c->visibleOnly || IsWindowVisible(w)))
                c->out.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.out;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> out;
    EnumChildWindows(
        parent,
        [](HWND w, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND> *>(p)->push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

void dumpWindows()
{
    if (!child.hProcess)
        return;
    for (HWND w : childTopWindows(false)) {
        RECT r;
        GetWindowRect(w, &r);
        std::printf("    window %p class=\"%s\" title=\"%s\" visible=%d enabled=%d rect=(%ld,%ld)-(%ld,%ld)\n",
                    (void *)w, windowClass(w).c_str(), windowText(w).c_str(), IsWindowVisible(w) ? 1 : 0,
                    IsWindowEnabled(w) ? 1 : 0, r.left, r.top, r.right, r.bottom);
        for (HWND c : children(w))
            std::printf("      child id=%d class=\"%s\" text=\"%s\" visible=%d style=%08lx\n", GetDlgCtrlID(c),
                        windowClass(c).c_str(), windowText(c).c_str(), IsWindowVisible(c) ? 1 : 0,
                        (unsigned long)GetWindowLongA(c, GWL_STYLE));
    }
}

[[noreturn]] void fail(const char *fmt, ...)
{
    char buf[2048];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::printf("[%7.3f] FAIL (line %d): %s\n", secondsSince(startTick), lineNo, buf);
    if (childAlive()) {
        std::printf("  the utility's windows:\n");
        dumpWindows();
        TerminateProcess(child.hProcess, 99);
    }
    std::fflush(stdout);
    std::exit(1);
}

// ---------------------------------------------------------------- script words

std::string expandVariables(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '$' && i + 1 < s.size() && s[i + 1] == '{') {
            size_t end = s.find('}', i + 2);
            if (end == std::string::npos)
                fail("unterminated ${ in \"%s\"", s.c_str());
            std::string name = s.substr(i + 2, end - i - 2);
            char value[4096];
            DWORD n = GetEnvironmentVariableA(name.c_str(), value, sizeof value);
            if (n == 0 || n >= sizeof value)
                fail("variable %s is not set", name.c_str());
            out += value;
            i = end;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Words split at blanks; "..." keeps blanks, and inside it only \" is special, so Windows paths
// need no doubling. "#" outside quotes starts a comment.
std::vector<std::string> splitWords(const std::string &line)
{
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i >= line.size() || line[i] == '#')
            break;
        std::string w;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
                    w += '"';
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    closed = true;
                    break;
                } else {
                    w += line[i++];
                }
            }
            if (!closed)
                fail("unterminated quote");
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                w += line[i++];
        }
        words.push_back(expandVariables(w));
    }
    return words;
}

long number(const std::string &s)
{
    char *end = nullptr;
    long v = std::strtol(s.c_str(), &end, 0);
    if (s.empty() || *end)
        fail("\"%s\" is not a number", s.c_str());
    return v;
}

// Optional trailing words of a step: a bare number is a timeout in ms; name=value options.
struct Options {
    long timeoutMs;
    std::vector<std::string> rest;
    std::vector<std::pair<std::string, std::string>> named;
    std::string get(const std::string &k, const std::string &def) const
    {
        for (auto &p : named)
            if (p.first == k)
                return p.second;
        return def;
    }
};

Options options(const std::vector<std::string> &w, size_t from, long defTimeout)
{
    Options o{defTimeout, {}, {}};
    for (size_t i = from; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        if (eq != std::string::npos && eq > 0 && w[i].find(' ') == std::string::npos)
            o.named.emplace_back(w[i].substr(0, eq), w[i].substr(eq + 1));
        else if (!w[i].empty() && std::isdigit(static_cast<unsigned char>(w[i][0])))
            o.timeoutMs = number(w[i]);
        else
            o.rest.push_back(w[i]);
    }
    return o;
}

void needChild()
{
    if (!child.hProcess)
        fail("no utility launched");
}

void needMain()
{
    needChild();
    if (!mainWnd || !IsWindow(mainWnd))
        fail("no main window (use wait-window first)");
}

void markAction(const std::string &what)
{
    actionTick = GetTickCount();
    actionName = what;
}

// ---------------------------------------------------------------- launching, main window

void launch(const std::string &appName, const std::string &commandLine)
{
    if (childAlive())
        fail("a utility is already running");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(appName.empty() ? NULL : appName.c_str(), cmd.data(), NULL, NULL, FALSE, 0, NULL, NULL,
                        &si, &child))
        fail("CreateProcess failed (error %lu) for app \"%s\" command line \"%s\"", GetLastError(),
             appName.c_str(), commandLine.c_str());
    mainWnd = box = dialog = NULL;
    markAction("launch");
    say("launch: pid %lu app=\"%s\" cmdline=%s", child.dwProcessId, appName.c_str(), commandLine.c_str());
}

HWND findMain()
{
    for (HWND w : childTopWindows(true))
        if (windowClass(w) == kMainClass)
            return w;
    return NULL;
}

void waitWindow(long timeoutMs)
{
    needChild();
    DWORD t0 = GetTickCount();
    WaitForInputIdle(child.hProcess, static_cast<DWORD>(timeoutMs));
    for (;;) {
        mainWnd = findMain();
        if (mainWnd)
            break;
        if (!childAlive())
            fail("the utility ended (exit code %lu) before its main window appeared", [] {
                DWORD c = 0;
                GetExitCodeProcess(child.hProcess, &c);
                return c;
            }());
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("no visible window of class \"%s\" within %ld ms", kMainClass, timeoutMs);
        Sleep(20);
    }
    RECT r;
    GetWindowRect(mainWnd, &r);
    POINT o = {0, 0};
    ClientToScreen(mainWnd, &o);
    say("wait-window: %p title=\"%s\" style=%08lx size=%ldx%ld client-origin=%ld,%ld after %.3f s",
        (void *)mainWnd, windowText(mainWnd).c_str(), (unsigned long)GetWindowLongA(mainWnd, GWL_STYLE),
        r.right - r.left, r.bottom - r.top, o.x, o.y, secondsSince(t0));
}

// Title, frame style (a system menu, no resizing, no minimise/maximise boxes) and size.
void checkMain(const Options &o)
{
    needMain();
    std::string title = windowText(mainWnd);
    std::string want = o.get("title", kMainClass);
    if (title != want)
        fail("main window title \"%s\", expected \"%s\"", title.c_str(), want.c_str());
    LONG style = GetWindowLongA(mainWnd, GWL_STYLE);
    if (!(style & WS_SYSMENU))
        fail("main window style %08lx has no WS_SYSMENU", (unsigned long)style);
    const LONG unwanted = WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP | WS_VSCROLL |
                          WS_HSCROLL | WS_DISABLED;
    if (style & unwanted)
        fail("main window style %08lx has extra bits %08lx", (unsigned long)style,
             (unsigned long)(style & unwanted));
    if (!GetMenu(mainWnd))
        fail("main window has no menu bar");
    RECT r;
    GetWindowRect(mainWnd, &r);
    long w = r.right - r.left, h = r.bottom - r.top;
    long ww = number(o.get("width", "230")), wh = number(o.get("height", "90"));
    if (w != ww || h != wh)
        fail("main window is %ldx%ld, expected %ldx%ld", w, h, ww, wh);
    say("check-main: title \"%s\", style %08lx, %ldx%ld, menu bar present", title.c_str(), (unsigned long)style,
        w, h);
}

void clientOrigin()
{
    needMain();
    POINT o = {0, 0};
    ClientToScreen(mainWnd, &o);
    RECT c;
    GetClientRect(mainWnd, &c);
    // One machine-readable line for the harness.
    say("client-origin %ld %ld %ld %ld", o.x, o.y, c.right, c.bottom);
}

// ---------------------------------------------------------------- keys

struct Key {
    WORD vk;
    bool shift, ctrl, alt;
};

Key parseKey(const std::string &keyName)
{
    Key k = {0, false, false, false};
    std::string s = keyName;
    for (;;) {
        size_t plus = s.find('+');
        if (plus == std::string::npos || plus + 1 >= s.size())
            break;
        std::string mod = s.substr(0, plus);
        for (auto &ch : mod)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (mod == "alt")
            k.alt = true;
        else if (mod == "ctrl")
            k.ctrl = true;
        else if (mod == "shift")
            k.shift = true;
        else
            fail("unknown modifier \"%s\" in key \"%s\"", mod.c_str(), keyName.c_str());
        s = s.substr(plus + 1);
    }
    std::string lower = s;
    for (auto &ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    static const struct {
        const char *name;
        WORD vk;
    } named[] = {{"escape", VK_ESCAPE}, {"esc", VK_ESCAPE}, {"enter", VK_RETURN}, {"return", VK_RETURN},
                 {"tab", VK_TAB},       {"space", VK_SPACE}, {"left", VK_LEFT},    {"right", VK_RIGHT},
                 {"up", VK_UP},         {"down", VK_DOWN},   {"f1", VK_F1},        {"f10", VK_F10}};
    for (auto &n : named)
        if (lower == n.name) {
            k.vk = n.vk;
            return k;
        }
    if (s.size() != 1)
        fail("unknown key \"%s\"", keyName.c_str());
    // A character key: the key and shift state that type it on this keyboard layout.
    SHORT scan = VkKeyScanA(s[0]);
    if (scan == -1)
        fail("character '%c' cannot be typed on this keyboard layout", s[0]);
    k.vk = LOBYTE(scan);
    if (HIBYTE(scan) & 1)
        k.shift = true;
    if (HIBYTE(scan) & 2)
        k.ctrl = true;
    if (HIBYTE(scan) & 4)
        k.alt = true;
    return k;
}

void addInput(std::vector<INPUT> &in, WORD vk, bool up)
{
    INPUT i = {};
    i.type = INPUT_KEYBOARD;
    i.ki.wVk = vk;
    i.ki.wScan = static_cast<WORD>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    in.push_back(i);
}

HWND targetWindow(const std::string &which)
{
    if (which == "main") {
        needMain();
        return mainWnd;
    }
    if (which == "dialog") {
        if (!dialog || !IsWindow(dialog))
            fail("no dialog (use wait-dialog first)");
        return dialog;
    }
    if (which == "box") {
        if (!box || !IsWindow(box))
            fail("no message box (use wait-box first)");
        return box;
    }
    fail("unknown window \"%s\" (main, dialog or box)", which.c_str());
}

// Typed keys go to the foreground window's focus, as the keyboard's would; without a window
// manager Wine lets us bring the target to the foreground first.
void typeKey(const std::string &keyName, HWND target)
{
    Key k = parseKey(keyName);
    SetForegroundWindow(target);
    DWORD t0 = GetTickCount();
    while (GetForegroundWindow() != target && GetTickCount() - t0 < 2000) {
        Sleep(20);
        SetForegroundWindow(target);
    }
    if (GetForegroundWindow() != target)
        fail("could not bring window %p to the foreground for key %s (foreground is %p)", (void *)target,
             keyName.c_str(), (void *)GetForegroundWindow());
    Sleep(50);
    std::vector<INPUT> in;
    if (k.ctrl)
        addInput(in, VK_CONTROL, false);
    if (k.alt)
        addInput(in, VK_MENU, false);
    if (k.shift)
        addInput(in, VK_SHIFT, false);
    addInput(in, k.vk, false);
    addInput(in, k.vk, true);
    if (k.shift)
        addInput(in, VK_SHIFT, true);
    if (k.alt)
        addInput(in, VK_MENU, true);
    if (k.ctrl)
        addInput(in, VK_CONTROL, true);
    // One event at a time, so the target's thread sees each one in order.
    for (auto &i : in) {
        if (SendInput(1, &i, sizeof(INPUT)) != 1)
            fail("SendInput failed (error %lu)", GetLastError());
        Sleep(15);
    }
    markAction("key " + keyName);
    say("key %s: vk=%02x%s%s%s typed into %p", keyName.c_str(), k.vk, k.alt ? " alt" : "", k.shift ? " shift" : "",
        k.ctrl ? " ctrl" : "", (void *)target);
}

// ---------------------------------------------------------------- message boxes

bool isDialogClass(HWND w) { return windowClass(w) == "#32770"; }

HWND findDialogWindow(HWND except = NULL)
{
    for (HWND w : childTopWindows(true))
        if (isDialogClass(w) && w != except)
            return w;
    return NULL;
}

// What `draw(memory DC, screen DC, bits)` paints into a w x h memory bitmap, as 0x00RRGGBB pixels.
template <typename Draw> std::vector<uint32_t> drawnPixels(int w, int h, Draw draw)
{
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};   // 32-bit top-down, so rows come out in screen order
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    uint32_t *first = static_cast<uint32_t *>(bits);
    draw(mem, screen, first);
    GdiFlush();
    std::vector<uint32_t> px(first, first + w * h);
    for (auto &p : px)
        p &= 0xFFFFFF;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return px;
}

// The capture of a screen rectangle.
std::vector<uint32_t> captureScreen(const RECT &r)
{
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return std::vector<uint32_t>();
    return drawnPixels(w, h, [&](HDC mem, HDC screen, uint32_t *) {
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
    });
}

std::vector<uint32_t> renderIcon(HICON icon, int w, int h, uint32_t background)
{
    return drawnPixels(w, h, [&](HDC mem, HDC, uint32_t *bits) {
        std::fill(bits, bits + w * h, background);
        DrawIconEx(mem, 0, 0, icon, w, h, 0, NULL, DI_NORMAL);
    });
}

double meanDifference(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int s = 0; s < 24; s += 8)
            sum += std::abs(static_cast<int>((a[i] >> s) & 0xFF) - static_cast<int>((b[i] >> s) & 0xFF));
    return sum / (3.0 * static_cast<double>(a.size()));
}

// A box's icon handle belongs to the utility's process and cannot be read from here, so the
// icon is told by what is on the screen: the control's pixels against each standard icon.
std::string identifyIcon(HWND msgBox, std::string &detail)
{
    HWND iconCtl = NULL;
    for (HWND c : children(msgBox)) {
        if (windowClass(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            if (IsWindowVisible(c))
                iconCtl = c;
        }
    }
    if (!iconCtl) {
        detail = "no visible icon control";
        return "none";
    }
    RECT r;
    GetWindowRect(iconCtl, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    std::vector<uint32_t> shot = captureScreen(r);
    if (shot.empty()) {
        detail = "empty icon control";
        return "none";
    }
    uint32_t bg = shot[0];
    bool blank = std::all_of(shot.begin(), shot.end(), [bg](uint32_t p) { return p == bg; });
    if (blank) {
        detail = "icon control shows nothing";
        return "none";
    }
    static const struct {
        const char *name;
        LPCSTR id;
    } icons[] = {{"error", IDI_HAND}, {"info", IDI_ASTERISK}, {"warning", IDI_EXCLAMATION},
                 {"question", IDI_QUESTION}, {"application", IDI_APPLICATION}};
    std::string best = "unknown";
    double bestScore = 1e9, runnerUp = 1e9;
    char buf[512];
    std::snprintf(buf, sizeof buf, "control id=0x%04x %dx%d at %ld,%ld; differences:", GetDlgCtrlID(iconCtl), w, h,
                  r.left, r.top);
    detail = buf;
    for (auto &ic : icons) {
        double d = meanDifference(shot, renderIcon(LoadIconA(NULL, ic.id), w, h, bg));
        std::snprintf(buf, sizeof buf, " %s=%.2f", ic.name, d);
        detail += buf;
        if (d < bestScore) {
            runnerUp = bestScore;
            bestScore = d;
            best = ic.name;
        } else if (d < runnerUp) {
            runnerUp = d;
        }
    }
    // Information and question icons are alike: demand a near-exact match and a clear margin.
    return bestScore < 2.5 && runnerUp > bestScore + 2.0 ? best : "unknown";
}

void waitPainted() { Sleep(150); }

// Waits for a box of the utility and checks it: caption, text, one OK button, no owner, task
// modal (the main window disabled while it is up), icon.
void waitBox(const std::string &text, const std::string &icon, long timeoutMs, long minMs, long maxMs)
{
    needChild();
    DWORD t0 = GetTickCount();
    HWND b = NULL;
    while (!(b = findDialogWindow())) {
        if (!childAlive())
            fail("the utility ended before box \"%s\" appeared", text.c_str());
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("no message box \"%s\" within %ld ms", text.c_str(), timeoutMs);
        Sleep(10);
    }
    double elapsed = secondsSince(actionTick);
    box = b;
    if (elapsed * 1000.0 < minMs)
        fail("box came %.3f s after %s, expected no sooner than %ld ms", elapsed, actionName.c_str(), minMs);
    if (maxMs > 0 && elapsed * 1000.0 > maxMs)
        fail("box came %.3f s after %s, expected within %ld ms", elapsed, actionName.c_str(), maxMs);
    waitPainted();
    std::string caption = windowText(b);
    HWND textCtl = GetDlgItem(b, kBoxTextId);
    std::string shown = textCtl ? windowText(textCtl) : "<no text control>";
    if (caption != kBoxCaption)
        fail("box caption \"%s\", expected \"%s\" (text \"%s\")", caption.c_str(), kBoxCaption, shown.c_str());
    if (shown != text)
        fail("box text \"%s\", expected \"%s\"", shown.c_str(), text.c_str());
    HWND owner = GetWindow(b, GW_OWNER);
    if (owner)
        fail("box \"%s\" has an owner window %p (\"%s\")", text.c_str(), (void *)owner, windowText(owner).c_str());
    std::vector<int> buttons;
    for (HWND c : children(b))
        if (windowClass(c) == "Button" && IsWindowVisible(c))
            buttons.push_back(GetDlgCtrlID(c));
    if (buttons.size() != 1 || buttons[0] != IDOK)
        fail("box \"%s\" shows %zu button(s) (first id %d), expected only OK", text.c_str(), buttons.size(),
             buttons.empty() ? -1 : buttons[0]);
    std::string modal = "no main window";
    HWND m = mainWnd && IsWindow(mainWnd) ? mainWnd : findMain();
    if (m) {
        if (IsWindowEnabled(m))
            fail("main window is still enabled while box \"%s\" is up: the box is not task modal", text.c_str());
        modal = "main window disabled";
    }
    std::string detail, seen;
    for (int tries = 0; tries < 10; ++tries) {
        seen = identifyIcon(b, detail);
        if (seen != "unknown" && (icon.empty() || seen == icon))
            break;
        Sleep(100);
    }
    if (!icon.empty() && seen != icon)
        fail("box \"%s\" shows icon %s, expected %s (%s)", text.c_str(), seen.c_str(), icon.c_str(), detail.c_str());
    say("box: \"%s\" caption \"%s\" icon %s (%s), OK only, no owner, %s; %.3f s after %s", shown.c_str(),
        caption.c_str(), seen.c_str(), detail.c_str(), modal.c_str(), elapsed, actionName.c_str());
}

void pressOk(long timeoutMs)
{
    if (!box || !IsWindow(box))
        fail("no message box to press OK on");
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok)
        fail("box has no OK button");
    PostMessageA(ok, BM_CLICK, 0, 0);
    DWORD t0 = GetTickCount();
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("box did not close within %ld ms of pressing OK", timeoutMs);
        Sleep(10);
    }
    box = NULL;
    markAction("OK");
    say("ok: box closed");
}

void expectNoBox(long ms)
{
    needChild();
    DWORD t0 = GetTickCount();
    while (GetTickCount() - t0 < static_cast<DWORD>(ms)) {
        HWND b = findDialogWindow();
        if (b) {
            HWND t = GetDlgItem(b, kBoxTextId);
            fail("unexpected box \"%s\" (text \"%s\") %.3f s after %s", windowText(b).c_str(),
                 t ? windowText(t).c_str() : "", secondsSince(actionTick), actionName.c_str());
        }
        Sleep(10);
    }
    say("no box for %ld ms", ms);
}

// ---------------------------------------------------------------- dialogs

void waitDialog(const std::string &title, long timeoutMs)
{
    needChild();
    DWORD t0 = GetTickCount();
    HWND d = NULL;
    while (!(d = findDialogWindow())) {
        if (!childAlive())
            fail("the utility ended before dialog \"%s\" appeared", title.c_str());
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("no dialog \"%s\" within %ld ms", title.c_str(), timeoutMs);
        Sleep(10);
    }
    waitPainted();
    std::string shown = windowText(d);
    if (shown != title)
        fail("dialog title \"%s\", expected \"%s\"", shown.c_str(), title.c_str());
    dialog = d;
    POINT o = {0, 0};
    ClientToScreen(d, &o);
    RECT c;
    GetClientRect(d, &c);
    say("dialog: \"%s\" client-origin %ld %ld %ld %ld, %.3f s after %s", shown.c_str(), o.x, o.y, c.right,
        c.bottom, secondsSince(actionTick), actionName.c_str());
}

HWND dialogItem(long id)
{
    targetWindow("dialog");
    HWND c = GetDlgItem(dialog, static_cast<int>(id));
    if (!c)
        fail("dialog has no control with id %ld", id);
    return c;
}

void dialogText(long id, const std::string &want)
{
    std::string got = windowText(dialogItem(id));
    if (got != want)
        fail("control %ld shows \"%s\", expected \"%s\"", id, got.c_str(), want.c_str());
    say("dialog control %ld: \"%s\"", id, got.c_str());
}

void dialogList(long id, const std::vector<std::string> &want)
{
    HWND list = dialogItem(id);
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 3000, &count))
        fail("list %ld does not answer", id);
    std::vector<std::string> got;
    for (DWORD_PTR i = 0; i < count && static_cast<LONG_PTR>(count) >= 0; ++i) {
        DWORD_PTR len = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 3000, &len);
        std::vector<wchar_t> buf(len + 2, 0);
        DWORD_PTR r = 0;
        SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, 3000, &r);
        got.push_back(narrow(buf.data()));
    }
    std::string joined;
    for (auto &g : got)
        joined += "\"" + g + "\" ";
    if (got != want)
        fail("list %ld holds %zu item(s): %s; expected %zu", id, got.size(), joined.c_str(), want.size());
    say("dialog list %ld: %zu item(s) %s", id, got.size(), joined.c_str());
}

// The resource bitmap must be on the screen at (centred, top) of the dialog's client area.
void dialogBitmap(const std::string &module, long id, long top)
{
    targetWindow("dialog");
    HMODULE m = LoadLibraryExA(module.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!m)
        fail("cannot open %s for its resources (error %lu)", module.c_str(), GetLastError());
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageA(m, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bmp)
        fail("%s has no bitmap %ld", module.c_str(), id);
    BITMAP info;
    GetObjectA(bmp, sizeof info, &info);
    int w = info.bmWidth, h = info.bmHeight;
    std::vector<uint32_t> want = drawnPixels(w, h, [&](HDC mem, HDC, uint32_t *) {
        HDC source = CreateCompatibleDC(mem);
        HGDIOBJ old = SelectObject(source, bmp);
        BitBlt(mem, 0, 0, w, h, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    });
    DeleteObject(bmp);
    FreeLibrary(m);

    RECT c;
    GetClientRect(dialog, &c);
    POINT o = {(c.right - w) / 2, top};
    ClientToScreen(dialog, &o);
    RECT r = {o.x, o.y, o.x + w, o.y + h};
    std::vector<uint32_t> got = captureScreen(r);
    // The template's controls paint over the picture where they overlap it (the footer line
    // does); only the pixels no control covers are the bitmap's.
    std::vector<RECT> covered;
    EnumChildWindows(
        dialog,
        [](HWND control, LPARAM list) -> BOOL {
            RECT cr;
            if (IsWindowVisible(control) && GetWindowRect(control, &cr))
                reinterpret_cast<std::vector<RECT> *>(list)->push_back(cr);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&covered));
    size_t wrong = 0, compared = 0;
    for (size_t i = 0; i < got.size() && i < want.size(); ++i) {
        POINT p = {o.x + static_cast<LONG>(i % static_cast<size_t>(w)), o.y + static_cast<LONG>(i / static_cast<size_t>(w))};
        bool hidden = false;
        for (const RECT &cr : covered)
            hidden = hidden || PtInRect(&cr, p);
        if (hidden)
            continue;
        ++compared;
        if (got[i] != want[i])
            ++wrong;
    }
    if (got.size() != want.size() || compared < want.size() / 2 || wrong > compared / 100)
        fail("bitmap %ld (%dx%d) is not at x=%ld y=%ld of the dialog's %ldx%ld client area: %zu of %zu pixels differ",
             id, w, h, (c.right - w) / 2, top, c.right, c.bottom, wrong, want.size());
    say("dialog bitmap %ld: %dx%d at client %ld,%ld (centred), %zu of %zu uncovered pixel(s) differ", id, w, h,
        (c.right - w) / 2, top, wrong, compared);
}

void waitWindowGone(HWND w, const char *what, long timeoutMs)
{
    DWORD t0 = GetTickCount();
    while (IsWindow(w) && IsWindowVisible(w)) {
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("%s did not close within %ld ms", what, timeoutMs);
        Sleep(10);
    }
}

// ---------------------------------------------------------------- process, files

void waitExit(long code, long timeoutMs)
{
    needChild();
    if (WaitForSingleObject(child.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0)
        fail("the utility did not exit within %ld ms", timeoutMs);
    DWORD got = 0;
    GetExitCodeProcess(child.hProcess, &got);
    if (static_cast<long>(got) != code)
        fail("the utility exited with code %lu, expected %ld", got, code);
    say("exit: code %lu, %.3f s after %s", got, secondsSince(actionTick), actionName.c_str());
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    child = PROCESS_INFORMATION{};
    mainWnd = box = dialog = NULL;
}

// The window is there, enabled, not covered by a box and answers messages.
void expectUsable()
{
    needMain();
    if (!childAlive())
        fail("the utility has ended");
    // A closing box re-enables the window a moment after it disappears.
    for (DWORD t0 = GetTickCount(); !IsWindowEnabled(mainWnd) && GetTickCount() - t0 < 2000;)
        Sleep(10);
    if (!IsWindowVisible(mainWnd) || !IsWindowEnabled(mainWnd))
        fail("main window visible=%d enabled=%d", IsWindowVisible(mainWnd) ? 1 : 0, IsWindowEnabled(mainWnd) ? 1 : 0);
    HWND b = findDialogWindow();
    if (b)
        fail("a window \"%s\" of the utility is still up", windowText(b).c_str());
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(mainWnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 3000, &r))
        fail("main window does not answer messages");
    say("usable: main window visible, enabled, answering");
}

bool fileExists(const std::string &path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream f(path, std::ios::binary);
    if (!f)
        fail("cannot write %s", path.c_str());
    f << content;
}

// Screenshots are taken from outside, by the harness, of the whole X screen: a request file
// in KPLX_DRIVE_SHOTS, answered by a .done file once the picture is on disk.
void takeShot(const std::string &name, long timeoutMs)
{
    char dir[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("KPLX_DRIVE_SHOTS", dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        fail("shot: KPLX_DRIVE_SHOTS is not set (the harness takes the pictures)");
    std::string base = std::string(dir) + "\\" + name;
    DeleteFileA((base + ".done").c_str());
    writeFile(base + ".request", "");
    DWORD t0 = GetTickCount();
    while (!fileExists(base + ".done")) {
        if (GetTickCount() - t0 > static_cast<DWORD>(timeoutMs))
            fail("shot %s: no picture within %ld ms", name.c_str(), timeoutMs);
        Sleep(10);
    }
    say("shot %s: taken %.3f s after %s", name.c_str(), secondsSince(actionTick), actionName.c_str());
}

void runStep(const std::vector<std::string> &w)
{
    const std::string &op = w[0];
    auto arg = [&](size_t i) -> const std::string & {
        if (i >= w.size())
            fail("%s: missing argument %zu", op.c_str(), i);
        return w[i];
    };
    if (op == "env") {
        SetEnvironmentVariableA(arg(1).c_str(), w.size() > 2 ? w[2].c_str() : NULL);
        say("env %s=%s", w[1].c_str(), w.size() > 2 ? w[2].c_str() : "<unset>");
    } else if (op == "launch") {
        std::string cmd = "\"" + arg(1) + "\"";
        for (size_t i = 2; i < w.size(); ++i)
            cmd += " " + w[i];
        launch(arg(1), cmd);
    } else if (op == "launch-as") {
        launch(arg(1), arg(2));
    } else if (op == "wait-window") {
        waitWindow(options(w, 1, 20000).timeoutMs);
    } else if (op == "check-main") {
        checkMain(options(w, 1, 0));
    } else if (op == "client-origin") {
        clientOrigin();
    } else if (op == "move") {
        needMain();
        SetWindowPos(mainWnd, NULL, number(arg(1)), number(arg(2)), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Sleep(100);
        clientOrigin();
    } else if (op == "menu") {
        needMain();
        long id = number(arg(1));
        PostMessageA(mainWnd, WM_COMMAND, MAKEWPARAM(id, 0), 0);
        markAction("menu " + w[1]);
        say("menu %ld", id);
    } else if (op == "key") {
        Options o = options(w, 2, 0);
        typeKey(arg(1), targetWindow(o.get("to", "main")));
    } else if (op == "wait-box" || op == "expect-box") {
        Options o = options(w, 2, 15000);
        std::string icon = o.rest.empty() ? "" : o.rest[0];
        if (icon == "any")
            icon.clear();
        waitBox(arg(1), icon, o.timeoutMs, number(o.get("min", "0")), number(o.get("max", "0")));
        if (op == "expect-box")
            pressOk(5000);
    } else if (op == "ok") {
        pressOk(options(w, 1, 5000).timeoutMs);
    } else if (op == "expect-no-box") {
        expectNoBox(number(arg(1)));
    } else if (op == "wait-dialog") {
        waitDialog(arg(1), options(w, 2, 10000).timeoutMs);
    } else if (op == "dialog-text") {
        dialogText(number(arg(1)), arg(2));
    } else if (op == "dialog-list") {
        dialogList(number(arg(1)), std::vector<std::string>(w.begin() + 2, w.end()));
    } else if (op == "dialog-bitmap") {
        dialogBitmap(arg(1), number(arg(2)), number(arg(3)));
    } else if (op == "wait-dialog-closed") {
        if (!dialog)
            fail("no dialog (use wait-dialog first)");
        waitWindowGone(dialog, "dialog", options(w, 1, 5000).timeoutMs);
        say("dialog closed, %.3f s after %s", secondsSince(actionTick), actionName.c_str());
        dialog = NULL;
    } else if (op == "usable") {
        expectUsable();
    } else if (op == "wait-exit") {
        waitExit(number(arg(1)), options(w, 2, 10000).timeoutMs);
    } else if (op == "sleep") {
        Sleep(static_cast<DWORD>(number(arg(1))));
        say("slept %s ms", w[1].c_str());
    } else if (op == "signal") {
        writeFile(arg(1), "");
        say("signal %s", w[1].c_str());
    } else if (op == "wait-file") {
        long t = options(w, 2, 10000).timeoutMs;
        DWORD t0 = GetTickCount();
        while (!fileExists(arg(1))) {
            if (GetTickCount() - t0 > static_cast<DWORD>(t))
                fail("file %s did not appear within %ld ms", w[1].c_str(), t);
            Sleep(10);
        }
        say("file %s is there (%.3f s after %s)", w[1].c_str(), secondsSince(actionTick), actionName.c_str());
    } else if (op == "expect-file") {
        if (!fileExists(arg(1)))
            fail("file %s is not there", w[1].c_str());
        say("file %s is there", w[1].c_str());
    } else if (op == "expect-no-file") {
        if (fileExists(arg(1)))
            fail("file %s is there", w[1].c_str());
        say("file %s is not there", w[1].c_str());
    } else if (op == "copy-file") {
        if (!CopyFileA(arg(1).c_str(), arg(2).c_str(), FALSE))
            fail("cannot copy %s to %s (error %lu)", w[1].c_str(), w[2].c_str(), GetLastError());
        say("copied %s to %s", w[1].c_str(), w[2].c_str());
    } else if (op == "shot") {
        takeShot(arg(1), options(w, 2, 15000).timeoutMs);
    } else if (op == "delete-file") {
        DeleteFileA(arg(1).c_str());
        say("deleted %s", w[1].c_str());
    } else if (op == "alive") {
        needChild();
        if (!childAlive())
            fail("the utility has ended");
        say("alive");
    } else if (op == "windows") {
        say("windows:");
        dumpWindows();
    } else if (op == "kill") {
        if (childAlive())
            TerminateProcess(child.hProcess, 99);
        say("killed");
    } else {
        fail("unknown step \"%s\"", op.c_str());
    }
}

}  // namespace

int main(int argc, char **argv)
{
    startTick = actionTick = GetTickCount();
    std::setvbuf(stdout, NULL, _IOLBF, 0);
    std::vector<std::string> lines;
    if (argc == 3 && std::strcmp(argv[1], "-f") == 0) {
        std::ifstream f(argv[2], std::ios::binary);
        if (!f) {
            std::printf("cannot read %s\n", argv[2]);
            return 2;
        }
        std::string l;
        while (std::getline(f, l)) {
            if (!l.empty() && l.back() == '\r')
                l.pop_back();
            lines.push_back(l);
        }
    } else if (argc >= 3 && std::strcmp(argv[1], "-e") == 0) {
        for (int i = 2; i < argc; ++i)
            lines.push_back(argv[i]);
    } else {
        std::printf("usage: kplx-drive -f SCRIPT | kplx-drive -e STEP [STEP...]\n");
        return 2;
    }
    // The first line tells the scripts that Wine did start us.
    say("kplx-drive: %zu line(s)", lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        lineNo = static_cast<int>(i + 1);
        std::vector<std::string> w = splitWords(lines[i]);
        if (!w.empty())
            runStep(w);
    }
    if (childAlive()) {
        say("FAIL: the script ended with the utility still running");
        TerminateProcess(child.hProcess, 99);
        return 1;
    }
    say("PASS: %zu line(s)", lines.size());
    return 0;
}

// kplx-ft232r-emu: runs a program against FT232R bridges emulated at the kernel's USB interface.
// The devices are the simulator's (KPLX_SIM_CONFIG, see sim/README.md); each becomes a USB
// device in a umockdev testbed whose usbdevfs ioctls this process answers, so that libusb and
// libftdi1 run unmodified in the program. Devices are plugged in and pulled out as their
// timelines say while the program runs, with the uevents the kernel sends.
//
//   kplx-ft232r-emu [--report FILE] [--no-access] -- PROGRAM [ARGS...]
//
// --report FILE  after the program: a line per device (serial, claims, releases, control
//                requests, every other ioctl on its nodes, whether ftdi_sio is bound again,
//                whether it is still plugged in, how often it was plugged in)
// --no-access    the program may not open the device nodes (as on a machine without the
//                udev rule): run as root, it runs as nobody and the nodes are root's alone;
//                otherwise the nodes are made unreadable
//
// Exits with the program's exit code (128 + the signal if it was killed).
#include "sim/ft232r/testbed.h"
#include "sim/internal.h"
#include "sim/lock.h"

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

pid_t child = -1;

// A signal sent to the emulator goes on to the program. One the terminal sends (Ctrl-C) has
// reached the program already, as both are in its foreground process group: sent again, it
// would count twice.
void forward(int signal, siginfo_t *info, void *)
{
    if (child > 0 && (info == nullptr || info->si_code != SI_KERNEL))
        kill(child, signal);
}

int usage()
{
    std::fprintf(stderr, "usage: kplx-ft232r-emu [--report FILE] [--no-access] -- PROGRAM [ARGS...]\n");
    return 2;
}

std::string environmentWith(const char *name, const std::string &front, char separator)
{
    const char *old = std::getenv(name);
    if (old != nullptr && std::string(old).find(front) != std::string::npos)
        return old;
    return old != nullptr && *old != '\0' ? front + separator + old : front;
}

constexpr char kPreload[] = "libumockdev-preload.so.0";

// umockdev makes a uevent with libudev, reading the device from the testbed's sysfs: the
// process that keeps the testbed runs with umockdev's preload library too (as umockdev-wrapper
// would start it), or no program would hear of a device plugged in or pulled out.
void runPreloaded(char **argv)
{
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, kPreload) != nullptr)
        return;
    setenv("LD_PRELOAD", environmentWith("LD_PRELOAD", kPreload, ':').c_str(), 1);
    // A program built with AddressSanitizer refuses a preloaded library otherwise.
    setenv("ASAN_OPTIONS", environmentWith("ASAN_OPTIONS", "verify_asan_link_order=0", ':').c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("kplx-ft232r-emu: cannot start again with umockdev's preload library");
}

// Under the simulator's lock. A device's counts add up its plug-ins; the driver is the last
// plug-in's.
void writeReport(const std::string &path, const sim::ft232r::Testbed &testbed)
{
    FILE *f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        std::fprintf(stderr, "kplx-ft232r-emu: cannot write %s\n", path.c_str());
        return;
    }
    for (int i = 0; i < sim::deviceCount(); ++i) {
        int claims = 0, releases = 0, controls = 0, others = 0;
        bool driverBound = false;   // never plugged in: no driver either
        for (const auto &n : testbed.nodes()) {
            if (n->device() != i)
                continue;
            claims += n->claims();
            releases += n->releases();
            controls += n->controls();
            others += n->others();
            driverBound = n->driverBound();
        }
        const sim::detail::Device &d = sim::detail::state().devices[static_cast<size_t>(i)];
        std::fprintf(f, "%s claims=%d releases=%d controls=%d others=%d driver=%s plugged=%s plug-ins=%d\n",
                     d.config.eeprom.serialNumber.c_str(), claims, releases, controls, others,
                     driverBound ? "ftdi_sio" : "none", d.plugged ? "yes" : "no", d.plugIns);
    }
    std::fclose(f);
}

}  // namespace

int main(int argc, char **argv)
{
    runPreloaded(argv);
    std::string report;
    bool noAccess = false;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--report") == 0 && i + 1 < argc)
            report = argv[++i];
        else if (std::strcmp(argv[i], "--no-access") == 0)
            noAccess = true;
        else
            return usage();
    }
    if (i + 1 >= argc)
        return usage();
    std::vector<char *> program(argv + i + 1, argv + argc);
    program.push_back(nullptr);

    if (!sim::startFromEnvironment()) {
        std::fprintf(stderr, "kplx-ft232r-emu: %s\n", sim::configError().c_str());
        return 2;
    }
    sim::ft232r::Testbed testbed;
    if (!testbed.ok()) {
        std::fprintf(stderr, "kplx-ft232r-emu: %s\n", testbed.error().c_str());
        return 2;
    }
    struct passwd *account = nullptr;
    if (noAccess && geteuid() == 0) {
        account = getpwnam("nobody");   // root would be let in whatever the node's mode
        if (account == nullptr) {
            std::fprintf(stderr, "kplx-ft232r-emu: no user nobody\n");
            return 2;
        }
        testbed.openTo(0600);
    } else if (noAccess) {
        testbed.openTo(0000);
    }

    setenv("UMOCKDEV_DIR", testbed.rootDir().c_str(), 1);
    setenv("LD_PRELOAD", environmentWith("LD_PRELOAD", kPreload, ':').c_str(), 1);
    // A program built with AddressSanitizer refuses a preloaded library otherwise.
    setenv("ASAN_OPTIONS", environmentWith("ASAN_OPTIONS", "verify_asan_link_order=0", ':').c_str(), 1);

    struct sigaction action = {};
    action.sa_sigaction = forward;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    child = fork();
    if (child == 0) {
        if (account != nullptr &&
            (setgroups(0, nullptr) != 0 || setgid(account->pw_gid) != 0 || setuid(account->pw_uid) != 0)) {
            std::perror("kplx-ft232r-emu: cannot become the user");
            _exit(126);
        }
        execvp(program[0], program.data());
        std::perror("kplx-ft232r-emu: cannot run the program");
        _exit(127);
    }
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR))
            break;
        testbed.applyChanges();
        usleep(5000);
    }

    {
        sim::detail::Lock lock;
        sim::writeOutputs();
        if (!report.empty())
            writeReport(report, testbed);
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

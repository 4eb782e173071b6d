// Runs the built kplx as a user would: arguments, the simulator backend and its configuration,
// stdout, stderr and the exit code. Each test gets a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kplxtest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline std::string readText(const fs::path &p)
{
    Bytes b = readFile(p);
    return std::string(b.begin(), b.end());
}

inline void writeFile(const fs::path &p, const Bytes &b)
{
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char *>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline void writeText(const fs::path &p, const std::string &text) { writeFile(p, Bytes(text.begin(), text.end())); }

inline Bytes pattern(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<unsigned char>((i * 31 + seed) ^ (i >> 8));
    return b;
}

struct Ran {
    int code = -1;
    std::string out;
    std::string err;
};

template <typename Base = ::testing::Test>
class KplxTestOn : public Base {
protected:
    void SetUp() override
    {
        Base::SetUp();
        char name[] = "/tmp/kplx-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        config("device meter\n");
    }
    void TearDown() override
    {
        fs::remove_all(dir);
        Base::TearDown();
    }

    // The simulator's devices for the next runs (see sim/README.md).
    void config(const std::string &text) { writeText(dir / "sim.cfg", text); }

    // Starts kplx (through `via`, when set) with stdout and stderr going to files; returns its
    // process id.
    pid_t start(const std::vector<std::string> &args, const std::string &tag = "run")
    {
        std::vector<std::string> command = via;
        command.push_back(program);
        command.insert(command.end(), args.begin(), args.end());
        const fs::path out = dir / (tag + ".out"), err = dir / (tag + ".err");
        pid_t pid = fork();
        if (pid == 0) {
            int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(o, STDOUT_FILENO);
            dup2(e, STDERR_FILENO);
            setenv("KPLX_BACKEND", backend.c_str(), 1);
            setenv("KPLX_SIM_CONFIG", (dir / "sim.cfg").c_str(), 1);
            for (const auto &[name, value] : environment)
                setenv(name.c_str(), value.c_str(), 1);
            if (inChild)
                inChild();
            std::vector<char *> argv;
            for (const std::string &a : command)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }

    Ran finish(pid_t pid, const std::string &tag = "run")
    {
        int status = 0;
        waitpid(pid, &status, 0);
        Ran r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readText(dir / (tag + ".out"));
        r.err = readText(dir / (tag + ".err"));
        return r;
    }

    Ran kplx(const std::vector<std::string> &args) { return finish(start(args)); }

    // The frames the simulated meter logged (frames-out), one hex string each.
    std::vector<std::string> frameLog(const fs::path &file) const
    {
        std::vector<std::string> frames;
        std::ifstream in(file);
        std::string time, valid, hex, rest;
        while (in >> time >> valid >> hex && std::getline(in, rest))
            frames.push_back(hex);
        return frames;
    }

    // The latency timers the host set on a device's bridge, in order (the simulator's
    // calls-out: its "latency N" lines), e.g. "2 16".
    std::string latencySets(const fs::path &file) const
    {
        std::ifstream in(file);
        std::string line, sets;
        while (std::getline(in, line))
            if (line.rfind("latency ", 0) == 0)
                sets += (sets.empty() ? "" : " ") + line.substr(8);
        return sets;
    }

    fs::path dir;
    std::string program = KPLX_PATH;
    std::string backend = "sim";
    std::vector<std::string> via;   // a program that runs kplx (the FT232R emulator)
    std::vector<std::pair<std::string, std::string>> environment;   // more for kplx's
    std::function<void()> inChild;  // runs in the child just before kplx starts
};

using KplxTest = KplxTestOn<>;

}  // namespace kplxtest

// Any command line: where the arguments start, the "+Q" flag, the program path at every
// interesting capacity, and loading the executable it names.
//
// Input: options byte, capacity byte, then the command line (up to the first zero byte).
//   bits 0-1  the executable: none, at the path the line names, at a fixed path, none
//   bit 2     quiet mode
//   bits 3-7  current directory: default, or "C:\" and 17 x (bits 3-7) more characters
#include "fuzz_support.h"

#include "app/command_line.h"
#include "payload/self_image.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

const std::string defaultDirectory = "C:\\Users\\user\\Downloads";
const std::string fixedPath = defaultDirectory + "\\kplx-loader.exe";

bool blankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// Where the program name ends: the closing quote (or the end) when quoted, else the first
// blank or control character.
size_t nameEnd(const std::string &line)
{
    size_t p = 0;
    if (!line.empty() && line[0] == '"') {
        p = 1;
        while (p < line.size() && line[p] != '"')
            ++p;
        return p;
    }
    while (p < line.size() && !blankOrControl(line[p]))
        ++p;
    return p;
}

size_t argumentsStart(const std::string &line)
{
    size_t p = nameEnd(line);
    if (!line.empty() && line[0] == '"' && p < line.size())
        ++p;
    while (p < line.size() && blankOrControl(line[p]))
        ++p;
    return p;
}

// The flag as runs of '+': the pluses of a run test in pairs, so only a run of odd length
// reaches the 'Q' after it.
bool quietFlag(const std::string &arguments)
{
    for (size_t i = 0; i < arguments.size();) {
        if (arguments[i] != '+') {
            ++i;
            continue;
        }
        size_t run = 0;
        while (i < arguments.size() && arguments[i] == '+')
            ++i, ++run;
        if (run % 2 == 1 && i < arguments.size() && arguments[i] == 'Q')
            return true;
    }
    return false;
}

size_t rawPathLength(const std::string &line)
{
    return nameEnd(line) - (!line.empty() && line[0] == '"' ? 1 : 0);
}

// The path as programPathFromCommandLine must give it; empty when it must refuse.
std::string expectedPath(const std::string &line, size_t capacity)
{
    if (capacity == 0 || line.empty())
        return "";
    size_t start = line[0] == '"' ? 1 : 0;
    size_t length = rawPathLength(line);
    if (length + 1 > capacity)
        return "";
    std::string path = line.substr(start, length);
    while (!path.empty() && (path.back() == ' ' || path.back() == '"'))
        path.pop_back();
    return path;
}

std::string lower(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool absolutePath(const std::string &p)
{
    return (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\') ||
           (p.size() >= 2 && p[0] == '\\' && p[1] == '\\');
}

// The file loadSelfImage must open ("" when it must give up first): the path made absolute in
// the current directory, with ".exe" added, all within its 512-byte buffers.
std::string expectedOpen(const std::string &line, const std::string &directory)
{
    if (line.empty() || line.size() >= COMMAND_LINE_BUFFER_SIZE)
        return "";
    std::string path = expectedPath(line, PATH_BUFFER_SIZE);
    if (path.empty())
        return "";
    std::string full = absolutePath(path) ? path : directory + "\\" + path;
    if (full.size() >= COMMAND_LINE_BUFFER_SIZE)
        return "";
    if (full.size() < 4 || lower(full.substr(full.size() - 4)) != ".exe") {
        if (full.size() + 5 > COMMAND_LINE_BUFFER_SIZE)
            return "";
        full += ".exe";
    }
    return full;
}

void checkSplit(const std::string &line)
{
    const char *text = line.c_str();
    const char *arguments = skipProgramName(text);
    FUZZ_CHECK(arguments >= text && arguments <= text + line.size(), "arguments outside the line");
    FUZZ_CHECK(static_cast<size_t>(arguments - text) == argumentsStart(line),
               "arguments at " + std::to_string(arguments - text) + " expected " + std::to_string(argumentsStart(line)));

    const bool quiet = scanQuietFlag(arguments);
    FUZZ_CHECK(scanQuietFlag(arguments) == quiet, "scanQuietFlag not deterministic");
    FUZZ_CHECK(quiet == quietFlag(line.substr(argumentsStart(line))), "quiet flag " + std::to_string(quiet));
}

void checkPathAt(const std::string &line, size_t capacity)
{
    const size_t guard = 64;
    std::vector<char> buffer(capacity + guard, '\x5A');
    const bool ok = programPathFromCommandLine(line.c_str(), buffer.data(), capacity);
    const std::string where = "capacity " + std::to_string(capacity);
    for (size_t i = capacity; i < buffer.size(); ++i)
        FUZZ_CHECK(buffer[i] == '\x5A', "wrote past the capacity at " + std::to_string(i) + ", " + where);

    const std::string expected = expectedPath(line, capacity);
    FUZZ_CHECK(ok == !expected.empty(), where + " returned " + std::to_string(ok));
    FUZZ_CHECK(std::memchr(buffer.data(), '\0', capacity) != nullptr, "path not terminated, " + where);
    const std::string path = buffer.data();
    if (!ok) {
        FUZZ_CHECK(path.empty(), "refused but left \"" + path + "\", " + where);
        return;
    }
    FUZZ_CHECK(path == expected, "path \"" + path + "\" expected \"" + expected + "\", " + where);
    FUZZ_CHECK(path.back() != ' ' && path.back() != '"', "trailing blank or quote, " + where);
}

void checkPaths(const std::string &line, uint8_t capacityChoice)
{
    const size_t raw = rawPathLength(line);
    std::set<size_t> capacities = {1, 2, raw, raw + 1, raw + 2, PATH_BUFFER_SIZE, 1 + capacityChoice * 4u};
    // Short paths are cheap enough to try at every capacity up to where they fit.
    if (raw < 64)
        for (size_t c = 1; c <= raw + 2; ++c)
            capacities.insert(c);
    for (size_t capacity : capacities)
        if (capacity >= 1 && capacity <= PATH_BUFFER_SIZE)
            checkPathAt(line, capacity);

    char untouched = '\x5A';
    FUZZ_CHECK(!programPathFromCommandLine(line.c_str(), &untouched, 0) && untouched == '\x5A', "capacity 0");
    char path[8];
    FUZZ_CHECK(!programPathFromCommandLine(nullptr, path, sizeof path) && path[0] == '\0', "null line");
}

void checkLoad(const std::string &line, uint8_t options)
{
    freshHost();
    freeSelfImage();
    quietMode = (options >> 2) & 1;
    std::string directory = defaultDirectory;
    if (options >> 3)
        directory = "C:\\" + std::string(17u * (options >> 3), 'd');
    testhost::setCurrentDirectory(directory);
    testhost::setCommandLine(line);

    const std::string target = expectedOpen(line, directory);
    std::string placed;
    if ((options & 3) == 1)
        placed = target;
    else if ((options & 3) == 2)
        placed = fixedPath;
    const std::vector<uint8_t> bytes = {'M', 'Z', 0x90, 0x00};
    if (!placed.empty())
        testhost::addFile(placed, bytes);

    const int loaded = loadSelfImage();
    const bool present = !target.empty() && !placed.empty() && lower(target) == lower(placed);
    FUZZ_CHECK(loaded == (present ? 0 : -1), "loaded " + std::to_string(loaded) + " target \"" + target + "\"");
    FUZZ_CHECK(testhost::openFileHandles() == 0, "file handle left open");

    const auto &opened = testhost::openedPaths();
    if (target.empty())
        FUZZ_CHECK(opened.empty(), "opened \"" + (opened.empty() ? std::string() : opened[0]) + "\"");
    else
        FUZZ_CHECK(opened.size() == 1 && opened[0] == target,
                   "opened " + std::to_string(opened.size()) + " files, expected \"" + target + "\"");

    if (loaded == 0) {
        FUZZ_CHECK(selfImage.fileSize == bytes.size() && std::memcmp(selfImage.buffer, bytes.data(), bytes.size()) == 0,
                   "wrong file contents");
        FUZZ_CHECK(testhost::messageBoxes().empty(), "message on success");
    } else {
        FUZZ_CHECK(selfImage.buffer == nullptr, "failed load left a buffer");
        // An empty line is not an executable that failed to open: nothing to say.
        bool silent = quietMode || line.empty();
        FUZZ_CHECK(boxTexts() == (silent ? std::vector<std::string>{}
                                         : std::vector<std::string>{messageText(MSG_CANT_LOAD_IMAGE)}),
                   "boxes " + joined(boxTexts()));
    }
    freeSelfImage();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    InputReader in(data, size);
    const uint8_t options = in.byte();
    const uint8_t capacityChoice = in.byte();
    const std::vector<uint8_t> rest = in.rest();
    const std::string line(rest.begin(), std::find(rest.begin(), rest.end(), 0));

    checkSplit(line);
    checkPaths(line, capacityChoice);
    checkLoad(line, options);
    return 0;
}

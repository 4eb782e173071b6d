// A packed sample and simulated meters whose frame logs and databases land in the test's folder.
#pragma once

#include "core/database.h"
#include "kplx_run.h"

#include <nlohmann/json.hpp>

namespace kplxtest {

inline Bytes withTrailer(Bytes bytes, uint32_t n)
{
    auto t = kplx::core::makeTrailer(n);
    bytes.insert(bytes.end(), t.begin(), t.end());
    return bytes;
}

class Load : public KplxTest {
protected:
    void SetUp() override
    {
        KplxTest::SetUp();
        sample = readFile(KPLX_SAMPLE_DB);
        ASSERT_EQ(70085u, sample.size());
        rawDb = (dir / "sample.db").string();
        writeFile(rawDb, sample);
        Bytes exe = pattern(5000, 1);
        exe.insert(exe.end(), sample.begin(), sample.end());
        packed = (dir / "packed.exe").string();
        writeFile(packed, withTrailer(exe, 70085));
    }

    // A meter whose frame log, database and port calls land in the test's folder as
    // <name>.frames / .db / .calls.
    std::string meter(const std::string &name, const std::string &extra = "") const
    {
        return "device meter\nserial " + name + "\nframes-out " + (dir / (name + ".frames")).string() +
               "\ndatabase-out " + (dir / (name + ".db")).string() + "\ncalls-out " + (dir / (name + ".calls")).string() +
               "\n" + extra;
    }

    // What a meter keeps of the sample: every block, the last one running into the trailer.
    Bytes keptSample() const
    {
        Bytes kept = withTrailer(sample, 70085);
        kept.resize((70085 / 128 + 1) * 128, 0);
        return kept;
    }

    // The lines of a --log file, each parsed whole (a torn line throws).
    std::vector<nlohmann::json> logLines(const fs::path &file) const
    {
        std::vector<nlohmann::json> lines;
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    // The "DATABASE" frames a meter received (its frame log).
    size_t databaseFrames(const std::string &serial) const
    {
        size_t n = 0;
        for (const std::string &f : frameLog(dir / (serial + ".frames")))
            n += f.find("4441544142415345") == 4;   // "DATABASE" after STX and LEN
        return n;
    }

    Bytes sample;
    std::string rawDb, packed;
};

}  // namespace kplxtest

// Prints the speed of the cipher paths the data connections use: chained
// Blowfish over large buffers, the unit streams at both unit sizes, the key
// schedule, and the key-check challenge.

#include "crypto/blowfish.h"
#include "crypto/key_check.h"
#include "crypto/session_key.h"
#include "crypto/unit_stream.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

using namespace vesk2::crypto;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(const char* what, double bytes, double seconds)
{
    std::printf("%-40s %8.1f MiB/s\n", what, bytes / seconds / (1024.0 * 1024.0));
}

} // namespace

int main()
{
    const SessionKeyBytes key = makeSessionKey("Key text of the demo account, change it.");
    const std::size_t total = 64u * 1024 * 1024;
    std::vector<std::uint8_t> buf(64 * 1024, 0x5A);
    std::vector<std::uint8_t> out(buf.size() + kDownloadUnitSize);
    unsigned sink = 0;

    {
        TBlowfish bf;
        setSessionKey(bf, key);
        const auto start = Clock::now();
        for (std::size_t done = 0; done < total; done += buf.size())
            bf.EncipherChained(buf.data(), buf.data(), buf.size());
        report("EncipherChained, 64 KiB calls", double(total), secondsSince(start));
        sink += buf[0];
    }
    {
        TBlowfish bf;
        setSessionKey(bf, key);
        const auto start = Clock::now();
        for (std::size_t done = 0; done < total; done += buf.size())
            bf.DecipherChained(buf.data(), buf.data(), buf.size());
        report("DecipherChained, 64 KiB calls", double(total), secondsSince(start));
        sink += buf[0];
    }
    for (std::size_t unit : {kDownloadUnitSize, kUploadUnitSize}) {
        for (UnitDirection dir : {UnitDirection::udEncipher, UnitDirection::udDecipher}) {
            UnitStream stream(key, unit, dir);
            const auto start = Clock::now();
            for (std::size_t done = 0; done < total; done += buf.size() - 1)
                sink += unsigned(stream.update(buf.data(), buf.size() - 1, out.data()));
            sink += unsigned(stream.finish(out.data()));
            char label[64];
            std::snprintf(label, sizeof label, "%s units of %zu, 64 KiB - 1 calls",
                          dir == UnitDirection::udEncipher ? "enciphered" : "deciphered", unit);
            report(label, double(total), secondsSince(start));
        }
    }
    {
        const int rounds = 2000;
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) {
            TBlowfish bf;
            setSessionKey(bf, key);
            sink += bf.Initialized();
        }
        std::printf("%-40s %8.1f us\n", "key schedule (SetKey, 448 bits)", secondsSince(start) / rounds * 1e6);
    }
    {
        const int rounds = 200;
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i)
            sink += unsigned(makeKeyChallenge("0123456789").size());
        std::printf("%-40s %8.1f us\n", "makeKeyChallenge", secondsSince(start) / rounds * 1e6);
    }
    std::printf("(checksum of outputs: %u)\n", sink);
    return 0;
}

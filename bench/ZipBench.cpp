// Zip engine speed, against references measured in the same run:
//   end to end: this engine's extract tool against Info-ZIP unzip, both as whole processes;
//   in memory: this engine's inflate against zlib's inflate and libdeflate on the same
//   deflate streams, and its explode on imploded entries.
// Every figure is the median of rounds that take turns, with its range.
// usage: zip_bench <archive.zip> <scratch folder> <extract tool> [<imploded archive.zip>]
#include <libdeflate.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/Explode.h"
#include "archive/Inflate.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Spread {
    double median, low, high;
};

Spread SpreadOf(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {median, values.front(), values.back()};
}

std::string Figure(const Spread& spread, const char* format)
{
    char median[32], low[32], high[32], text[128];
    snprintf(median, sizeof(median), format, spread.median);
    snprintf(low, sizeof(low), format, spread.low);
    snprintf(high, sizeof(high), format, spread.high);
    snprintf(text, sizeof(text), "%s (%s..%s)", median, low, high);
    return text;
}

// Met or missed when every round is on one side of the target.
const char* Verdict(const Spread& spread, double target, bool atLeast)
{
    if (atLeast ? spread.low >= target : spread.high <= target) return "target met";
    if (atLeast ? spread.high < target : spread.low > target) return "target missed";
    return "rounds on both sides of the target: not decided";
}

uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

struct Stream {
    std::string compressed;
    size_t size;
    uint16_t flags;
};

// The entries of one method of an archive, walked through the local headers.
std::vector<Stream> EntryStreams(const std::string& archive, uint16_t wanted)
{
    std::vector<Stream> streams;
    size_t at = 0;
    while (at + 30 <= archive.size() && Get32((const unsigned char*)archive.data() + at) == 0x04034b50) {
        const unsigned char* p = (const unsigned char*)archive.data() + at;
        uint16_t flags = (uint16_t)(p[6] | p[7] << 8), method = (uint16_t)(p[8] | p[9] << 8);
        uint32_t compressed = Get32(p + 18), size = Get32(p + 22);
        size_t name = (size_t)(p[26] | p[27] << 8), extra = (size_t)(p[28] | p[29] << 8);
        if (flags & 8) break;  // sizes in a descriptor: not produced by this bench's archives
        size_t data = at + 30 + name + extra;
        if (method == wanted && size > 0) streams.push_back({archive.substr(data, compressed), size, flags});
        at = data + compressed;
    }
    return streams;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

struct Source : InflateSource {
    const std::string* data;
    size_t at = 0;
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t n = std::min(capacity, data->size() - at);
        memcpy(buffer, data->data() + at, n);
        at += n;
        return n;
    }
};

struct Sink : InflateSink {
    unsigned char* out;
    size_t at = 0;
    bool Write(const unsigned char* data, size_t size) override
    {
        memcpy(out + at, data, size);
        at += size;
        return true;
    }
};

int Run(const std::string& command)
{
    return system(command.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4 && argc != 5) {
        fprintf(stderr, "usage: zip_bench <archive.zip> <scratch folder> <extract tool> [<imploded.zip>]\n");
        return 2;
    }
    std::string archivePath = argv[1], scratch = argv[2], tool = argv[3];
    std::string archive = ReadAll(archivePath);
    std::vector<Stream> streams = EntryStreams(archive, 8);
    size_t total = 0, biggest = 1;
    for (const Stream& s : streams) {
        total += s.size;
        biggest = std::max(biggest, s.size);
    }
    printf("archive %.1f MB, %zu deflate streams, %.1f MB of output\n", archive.size() / 1e6, streams.size(), total / 1e6);

    const int rounds = 7;
    std::vector<double> ours, unzip, endRatio;
    for (int round = 0; round < rounds; round++) {
        double times[2];
        for (int turn = 0; turn < 2; turn++) {
            bool mine = (turn == 0) == (round % 2 == 0);
            Run("rm -rf '" + scratch + (mine ? "/a'" : "/b'"));
            auto start = std::chrono::steady_clock::now();
            if (mine) {
                if (Run("'" + tool + "' '" + archivePath + "' '" + scratch + "/a'") != 0) printf("extract failed\n");
            } else {
                Run("unzip -o -q '" + archivePath + "' -d '" + scratch + "/b'");
            }
            times[mine ? 0 : 1] = Seconds(start);
        }
        ours.push_back(times[0]);
        unzip.push_back(times[1]);
        endRatio.push_back(times[0] / times[1]);
    }
    bool same = Run("diff -r -q '" + scratch + "/a' '" + scratch + "/b' > /dev/null") == 0;
    Spread ratio = SpreadOf(endRatio);
    printf("end to end, %d alternating rounds: this engine %s s, unzip -o %s s, outputs %s\n", rounds,
           Figure(SpreadOf(ours), "%.3f").c_str(), Figure(SpreadOf(unzip), "%.3f").c_str(),
           same ? "identical" : "DIFFER");
    printf("  time against unzip %s, target <= 0.30: %s\n", Figure(ratio, "%.2f").c_str(), Verdict(ratio, 0.3, false));

    std::vector<unsigned char> out(biggest);
    std::vector<double> mine, zlib, deflate, againstZlib, againstDeflate;
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    auto runMine = [&](const Stream& s) {
        Source source;
        source.data = &s.compressed;
        Sink sink;
        sink.out = out.data();
        Inflate(source, sink, s.size);
    };
    auto runZlib = [&](const Stream& s) {
        z_stream z = {};
        inflateInit2(&z, -15);
        z.next_in = (Bytef*)s.compressed.data();
        z.avail_in = (uInt)s.compressed.size();
        z.next_out = out.data();
        z.avail_out = (uInt)out.size();
        inflate(&z, Z_FINISH);
        inflateEnd(&z);
    };
    auto runDeflate = [&](const Stream& s) {
        size_t actual = 0;
        libdeflate_deflate_decompress(decompressor, s.compressed.data(), s.compressed.size(), out.data(), s.size,
                                      &actual);
    };
    for (int round = 0; round < rounds; round++) {
        // The order turns with every round, so that no decoder always runs on a cold cache.
        double times[3];
        for (int turn = 0; turn < 3; turn++) {
            int which = (turn + round) % 3;
            auto start = std::chrono::steady_clock::now();
            for (const Stream& s : streams) which == 0 ? runMine(s) : which == 1 ? runZlib(s) : runDeflate(s);
            times[which] = Seconds(start);
        }
        double mb = total / 1e6;
        mine.push_back(mb / times[0]);
        zlib.push_back(mb / times[1]);
        deflate.push_back(mb / times[2]);
        againstZlib.push_back(times[1] / times[0]);
        againstDeflate.push_back(times[2] / times[0]);
    }
    Spread z = SpreadOf(againstZlib);
    printf("inflate in memory, %d rounds: this engine %s MB/s, zlib %s MB/s, libdeflate %s MB/s\n", rounds,
           Figure(SpreadOf(mine), "%.0f").c_str(), Figure(SpreadOf(zlib), "%.0f").c_str(),
           Figure(SpreadOf(deflate), "%.0f").c_str());
    printf("  speed against zlib %s, target >= 1.50: %s; against libdeflate %s\n", Figure(z, "%.2f").c_str(),
           Verdict(z, 1.5, true), Figure(SpreadOf(againstDeflate), "%.2f").c_str());
    // Per stream, the best of three: where the time goes.
    for (const Stream& s : streams) {
        double best[3] = {1e9, 1e9, 1e9};
        for (int round = 0; round < 3; round++) {
            for (int which = 0; which < 3; which++) {
                auto start = std::chrono::steady_clock::now();
                which == 0 ? runMine(s) : which == 1 ? runZlib(s) : runDeflate(s);
                best[which] = std::min(best[which], Seconds(start));
            }
        }
        printf("  stream of %.1f MB from %.1f MB: this engine %.0f MB/s, %.2fx zlib, %.2fx libdeflate\n", s.size / 1e6,
               s.compressed.size() / 1e6, s.size / 1e6 / best[0], best[1] / best[0], best[2] / best[0]);
    }
    libdeflate_free_decompressor(decompressor);

    if (argc == 5) {
        std::vector<Stream> imploded = EntryStreams(ReadAll(argv[4]), 6);
        size_t implodedTotal = 0;
        for (const Stream& s : imploded) implodedTotal += s.size;
        std::vector<double> speed;
        for (int round = 0; round < rounds; round++) {
            auto start = std::chrono::steady_clock::now();
            for (const Stream& s : imploded) {
                Source source;
                source.data = &s.compressed;
                Sink sink;
                std::vector<unsigned char> target(s.size);
                sink.out = target.data();
                Explode(source, sink, s.size, (s.flags & 2) != 0, (s.flags & 4) != 0);
            }
            speed.push_back(implodedTotal / 1e6 / Seconds(start));
        }
        Spread e = SpreadOf(speed);
        printf("explode in memory, %zu entries, %.1f MB of output: %s MB/s (%.2fx this engine's inflate above)\n",
               imploded.size(), implodedTotal / 1e6, Figure(e, "%.0f").c_str(), e.median / SpreadOf(mine).median);
    }
    return 0;
}

// Zip engine speed, against references measured in the same run:
//   end to end: this engine's extract tool against Info-ZIP unzip, both as whole processes;
//   in memory: this engine's inflate against zlib's inflate and libdeflate on the same
//   deflate streams.
// usage: zip_bench <archive.zip> <scratch folder> <extract tool>
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

#include "archive/Inflate.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

uint32_t Get32(const unsigned char* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

struct Stream {
    std::string compressed;
    size_t size;
};

// The deflated entries of an archive, walked through the local headers.
std::vector<Stream> DeflateStreams(const std::string& archive)
{
    std::vector<Stream> streams;
    size_t at = 0;
    while (at + 30 <= archive.size() && Get32((const unsigned char*)archive.data() + at) == 0x04034b50) {
        const unsigned char* p = (const unsigned char*)archive.data() + at;
        uint16_t flags = (uint16_t)(p[6] | p[7] << 8), method = (uint16_t)(p[8] | p[9] << 8);
        uint32_t compressed = Get32(p + 18), size = Get32(p + 22);
        size_t name = (size_t)(p[26] | p[27] << 8), extra = (size_t)(p[28] | p[29] << 8);
        if (flags & 8) break;  // sizes in a descriptor: not produced by this bench's archive
        size_t data = at + 30 + name + extra;
        if (method == 8 && size > 0) streams.push_back({archive.substr(data, compressed), size});
        at = data + compressed;
    }
    return streams;
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
    if (argc != 4) {
        fprintf(stderr, "usage: zip_bench <archive.zip> <scratch folder> <extract tool>\n");
        return 2;
    }
    std::string archivePath = argv[1], scratch = argv[2], tool = argv[3];
    std::ifstream file(archivePath, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::string archive = bytes.str();
    std::vector<Stream> streams = DeflateStreams(archive);
    size_t total = 0;
    for (const Stream& s : streams) total += s.size;
    printf("archive %.1f MB, %zu deflate streams, %.1f MB of output\n", archive.size() / 1e6, streams.size(), total / 1e6);

    std::vector<double> ours, unzip;
    for (int round = 0; round < 5; round++) {
        Run("rm -rf '" + scratch + "/a' '" + scratch + "/b'");
        auto start = std::chrono::steady_clock::now();
        if (Run("'" + tool + "' '" + archivePath + "' '" + scratch + "/a'") != 0) printf("extract failed\n");
        ours.push_back(Seconds(start));
        start = std::chrono::steady_clock::now();
        Run("unzip -o -q '" + archivePath + "' -d '" + scratch + "/b'");
        unzip.push_back(Seconds(start));
    }
    bool same = Run("diff -r -q '" + scratch + "/a' '" + scratch + "/b' > /dev/null") == 0;
    printf("end to end: this engine %.3f s, unzip -o %.3f s, speed ratio %.2f (target > 1.0), outputs %s\n",
           Median(ours), Median(unzip), Median(unzip) / Median(ours), same ? "identical" : "DIFFER");

    std::vector<unsigned char> out(std::max<size_t>(1, [&] {
        size_t biggest = 0;
        for (const Stream& s : streams) biggest = std::max(biggest, s.size);
        return biggest;
    }()));
    std::vector<double> mine, zlib, deflate;
    libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
    for (int round = 0; round < 5; round++) {
        auto start = std::chrono::steady_clock::now();
        for (const Stream& s : streams) {
            Source source;
            source.data = &s.compressed;
            Sink sink;
            sink.out = out.data();
            Inflate(source, sink, s.size);
        }
        mine.push_back(Seconds(start));
        start = std::chrono::steady_clock::now();
        for (const Stream& s : streams) {
            z_stream z = {};
            inflateInit2(&z, -15);
            z.next_in = (Bytef*)s.compressed.data();
            z.avail_in = (uInt)s.compressed.size();
            z.next_out = out.data();
            z.avail_out = (uInt)out.size();
            inflate(&z, Z_FINISH);
            inflateEnd(&z);
        }
        zlib.push_back(Seconds(start));
        start = std::chrono::steady_clock::now();
        for (const Stream& s : streams) {
            size_t actual = 0;
            libdeflate_deflate_decompress(decompressor, s.compressed.data(), s.compressed.size(), out.data(), s.size,
                                          &actual);
        }
        deflate.push_back(Seconds(start));
    }
    libdeflate_free_decompressor(decompressor);
    double mb = total / 1e6;
    printf("inflate in memory: this engine %.0f MB/s, zlib %.0f MB/s, libdeflate %.0f MB/s; "
           "against zlib %.2fx (target >= 1.0), against libdeflate %.2fx\n",
           mb / Median(mine), mb / Median(zlib), mb / Median(deflate), Median(zlib) / Median(mine),
           Median(deflate) / Median(mine));
    return 0;
}

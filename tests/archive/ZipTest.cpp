// The zip engine on real archives (third-party ones, ones made here with Info-ZIP zip) and
// on hand-built hostile ones; every extracted byte is compared with Info-ZIP unzip's.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "archive/Crc32.h"
#include "archive/Inflate.h"
#include "ArchiveTestSupport.h"
#include "archive/PosixFileSystem.h"
#include "archive/ZipExtract.h"

namespace {

using archivetest::Exists;
using archivetest::Read;
using archivetest::Scratch;
using archivetest::Source;

int Extract(const std::string& archive, const std::string& target)
{
    std::unique_ptr<ArchiveFileSystem> fs(CreatePosixFileSystem());
    return ExtractZip(*fs, archive, target);
}

// The file list unzip gives for an archive (files only).
std::vector<std::string> Listing(const std::string& archive)
{
    std::string list = Scratch("listing") + "/list.txt";
    std::string command = "zipinfo -1 '" + archive + "' > '" + list + "' 2>/dev/null";
    system(command.c_str());
    std::vector<std::string> names;
    std::istringstream lines(Read(list));
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line.back() != '/') names.push_back(line);
    return names;
}

std::string UnzipBytes(const std::string& archive, const std::string& name)
{
    std::string out = Scratch("unzip-bytes") + "/bytes";
    std::string command = "unzip -p '" + archive + "' '" + name + "' > '" + out + "' 2>/dev/null";
    system(command.c_str());
    return Read(out);
}

void ExpectSameAsUnzip(const std::string& archive, const std::string& target, const std::vector<std::string>& skip = {})
{
    for (const std::string& name : Listing(archive)) {
        if (std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
        ASSERT_TRUE(Exists(target + "/" + name)) << name;
        EXPECT_EQ(UnzipBytes(archive, name), Read(target + "/" + name)) << name;
    }
}

}  // namespace

TEST(ZipEngine, ThirdPartyArchives)
{
    std::string data = Source() + "/tests/archive/data/";
    struct Case {
        const char* archive;
        int result;
    } cases[] = {
        {"mixed.zip", ZipResult::Ok},
        {"imploding-4Kdict-2trees.zip", ZipResult::Ok},
        {"imploding-8Kdict-3trees.zip", ZipResult::Ok},
        {"password-encrypted.zip", ZipResult::Warning},
        {"bzip2-zip.zip", ZipResult::Warning},
        {"lorem-ipsum-deflate64.zip", ZipResult::Warning},
        {"moby.zip", ZipResult::Warning},
    };
    for (const Case& c : cases) {
        std::string target = Scratch(std::string("third-") + c.archive);
        EXPECT_EQ(c.result, Extract(data + c.archive, target)) << c.archive;
        if (c.result == ZipResult::Ok) ExpectSameAsUnzip(data + c.archive, target);
    }
}

TEST(ZipEngine, ArchivesMadeByZip)
{
    std::string work = Scratch("made");
    std::string script =
        "cd '" + work + "' && mkdir -p src/sub/deeper && head -c 300000 /dev/urandom > src/random.bin && "
        "seq 1 40000 > src/sub/numbers.txt && printf '' > src/empty.txt && echo hi > src/sub/deeper/hi.txt && "
        "cat src/sub/numbers.txt src/sub/numbers.txt > src/twice.txt";
    ASSERT_EQ(0, system(script.c_str()));
    for (const char* level : {"-0", "-1", "-6", "-9"}) {
        std::string archive = work + "/level" + level + ".zip";
        ASSERT_EQ(0, system(("cd '" + work + "' && zip -q -r " + level + " '" + archive + "' src").c_str()));
        std::string target = Scratch(std::string("made-out") + level);
        EXPECT_EQ(ZipResult::Ok, Extract(archive, target)) << level;
        ExpectSameAsUnzip(archive, target);
    }
    // Streamed input gives data descriptors; -fz forces Zip64 records.
    std::string streamed = work + "/streamed.zip";
    ASSERT_EQ(0, system(("cd '" + work + "' && cat src/twice.txt | zip -q '" + streamed + "' -").c_str()));
    std::string target = Scratch("made-streamed");
    EXPECT_EQ(ZipResult::Ok, Extract(streamed, target));
    EXPECT_EQ(Read(work + "/src/twice.txt"), Read(target + "/-"));
    std::string zip64 = work + "/zip64.zip";
    ASSERT_EQ(0, system(("cd '" + work + "' && zip -q -r -fz '" + zip64 + "' src").c_str()));
    target = Scratch("made-zip64");
    EXPECT_EQ(ZipResult::Ok, Extract(zip64, target));
    ExpectSameAsUnzip(zip64, target);

    // An encrypted entry is skipped (no password is ever given); the rest is extracted.
    std::string secret = work + "/secret.zip";
    ASSERT_EQ(0, system(("cd '" + work + "' && zip -q -P secret '" + secret + "' src/sub/numbers.txt && "
                         "zip -q '" + secret + "' src/sub/deeper/hi.txt").c_str()));
    target = Scratch("made-secret");
    // Skipped without a password (a warning), or, once in 256 fresh archives whose random
    // header lets the empty password pass, refused by its CRC (an error): never written.
    int result = Extract(secret, target);
    EXPECT_TRUE(result == ZipResult::Warning || result == ZipResult::Error) << result;
    EXPECT_FALSE(Exists(target + "/src/sub/numbers.txt"));
    EXPECT_EQ("hi\n", Read(target + "/src/sub/deeper/hi.txt"));

    // The name rules: ".zip" is appended once, wildcards match every archive.
    target = Scratch("made-name");
    EXPECT_EQ(ZipResult::Ok, Extract(work + "/level-9", target));
    target = Scratch("made-wild");
    EXPECT_EQ(ZipResult::Ok, Extract(work + "/level-?.zip", target));
    EXPECT_EQ(ZipResult::NotFound, Extract(work + "/absent", target));

    // Replacing an existing file, also a read-only one.
    target = Scratch("made-replace");
    ASSERT_EQ(0, system(("mkdir -p '" + target + "/src' && echo old > '" + target + "/src/empty.txt' && chmod 444 '" +
                         target + "/src/empty.txt'").c_str()));
    EXPECT_EQ(ZipResult::Ok, Extract(work + "/level-6.zip", target));
    EXPECT_EQ("", Read(target + "/src/empty.txt"));
}

TEST(ZipEngine, HostileAndDamagedArchives)
{
    std::string work = Scratch("hostile");
    ASSERT_EQ(0, system(("python3 '" + Source() + "/tests/archive/make_archives.py' '" + work + "'").c_str()));
    std::string target = Scratch("hostile/out/inner");
    std::string outside = work + "/out";

    EXPECT_EQ(ZipResult::Error, Extract(work + "/traversal.zip", target));
    EXPECT_EQ("good", Read(target + "/good.txt"));
    EXPECT_EQ(ZipResult::Error, Extract(work + "/absolute.zip", target));
    EXPECT_EQ("fine", Read(target + "/ok/fine.txt"));
    for (int i = 1; i <= 6; i++) {
        std::string name = "evil" + std::to_string(i) + ".txt";
        EXPECT_FALSE(Exists(outside + "/" + name) || Exists(work + "/" + name) || Exists("/" + name)) << name;
    }

    EXPECT_EQ(ZipResult::Ok, Extract(work + "/names.zip", target));
    EXPECT_EQ("1", Read(target + "/we_ird_na_me____x.txt"));
    EXPECT_EQ("2", Read(target + "/dir/sub/f.txt")) << "a backslash separates folders";
    EXPECT_EQ("3", Read(target + "/ver.txt")) << "the version suffix goes";
    EXPECT_EQ("4", Read(target + "/ctl.txt")) << "control characters are dropped";

    EXPECT_EQ(ZipResult::Ok, Extract(work + "/good.zip", target));
    EXPECT_EQ(ZipResult::Error, Extract(work + "/crc.zip", target));
    EXPECT_NE(ZipResult::Ok, Extract(work + "/truncated.zip", target));
    EXPECT_EQ(ZipResult::Error, Extract(work + "/lying.zip", target)) << "more output than the header says";
    EXPECT_EQ(ZipResult::Error, Extract(work + "/overlap.zip", target));
    EXPECT_FALSE(Exists(target + "/bomb1")) << "overlapping entries are not inflated";
    EXPECT_EQ(ZipResult::Severe, Extract(work + "/garbage.zip", target));
}

TEST(ZipEngine, SafeNames)
{
    bool folder = false, unsafe = false;
    EXPECT_EQ("a/b", SafeEntryPath("a\\b", '/', folder, unsafe));
    EXPECT_EQ("", SafeEntryPath("../x", '/', folder, unsafe));
    EXPECT_TRUE(unsafe);
    EXPECT_EQ("dir", SafeEntryPath("dir/", '/', folder, unsafe));
    EXPECT_TRUE(folder);
    EXPECT_EQ("a/b", SafeEntryPath("a/./b", '/', folder, unsafe));
    EXPECT_EQ("x;1a", SafeEntryPath("x;1a", '/', folder, unsafe)) << "only digits make a version suffix";
    EXPECT_EQ("caf\xe9 bar", SafeEntryPath("caf\xe9 bar", '/', folder, unsafe)) << "blanks and high characters stay";
}

namespace {

struct Bytes : InflateSource {
    std::string data;
    size_t at = 0;
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t n = std::min(capacity, data.size() - at);
        memcpy(buffer, data.data() + at, n);
        at += n;
        return n;
    }
};
struct Collect : InflateSink {
    std::string out;
    bool Write(const unsigned char* data, size_t size) override
    {
        out.append((const char*)data, size);
        return true;
    }
};

}  // namespace

TEST(Inflate, EveryBlockTypeAndBadInput)
{
    Bytes stored;
    stored.data = std::string("\x01\x05\x00\xfa\xff" "hello", 10);
    Collect out;
    EXPECT_EQ(InflateResult::Ok, Inflate(stored, out, 100));
    EXPECT_EQ("hello", out.out);

    Bytes fixed;  // "a" with the fixed code
    fixed.data = std::string("\x4b\x04\x00", 3);
    Collect fixedOut;
    EXPECT_EQ(InflateResult::Ok, Inflate(fixed, fixedOut, 100));
    EXPECT_EQ("a", fixedOut.out);

    Collect limited;
    stored.at = 0;
    EXPECT_EQ(InflateResult::TooLarge, Inflate(stored, limited, 3));
    Bytes cut;
    cut.data = stored.data.substr(0, 7);
    Collect cutOut;
    EXPECT_EQ(InflateResult::Truncated, Inflate(cut, cutOut, 100));
    Bytes reserved;
    reserved.data = std::string("\x07\x00", 2);  // block type 3
    Collect reservedOut;
    EXPECT_EQ(InflateResult::Corrupt, Inflate(reserved, reservedOut, 100));
}

namespace {

std::string g_messages;
int Collect(const char* text, unsigned long length)
{
    g_messages.append(text, length);
    return (int)length;
}
int Refuse(const char*)
{
    return 0;
}
int Secret(char* buffer, int size, const char*, const char*)
{
    snprintf(buffer, (size_t)size, "secret");
    return 1;
}

}  // namespace

TEST(ZipEngine, OptionsAndAnswers)
{
    std::string work = Scratch("options");
    ASSERT_EQ(0, system(("cd '" + work + "' && mkdir -p a/b && echo one > a/b/one.txt && echo two > two.txt && "
                         "zip -q -r plain.zip a two.txt && zip -q -P secret locked.zip a/b/one.txt").c_str()));
    std::unique_ptr<ArchiveFileSystem> fs(CreatePosixFileSystem());

    std::string flat = Scratch("options-flat");
    ExtractOptions options;
    std::string archive = work + "/plain.zip";
    options.archive = archive.c_str();
    options.target = flat.c_str();
    options.useFolderNames = 0;
    EXPECT_EQ(ZipResult::Ok, ExtractZip(*fs, options, ExtractAnswers()));
    EXPECT_EQ("one\n", Read(flat + "/one.txt")) << "folder names dropped";

    ASSERT_EQ(0, system(("echo kept > '" + flat + "/two.txt'").c_str()));
    options.overwriteAll = 0;
    ExtractAnswers refuse;
    refuse.replace = Refuse;
    EXPECT_EQ(ZipResult::Ok, ExtractZip(*fs, options, refuse));
    EXPECT_EQ("kept\n", Read(flat + "/two.txt")) << "the replace answer said no";

    std::string opened = Scratch("options-password");
    std::string locked = work + "/locked.zip";
    ExtractOptions withPassword;
    withPassword.archive = locked.c_str();
    withPassword.target = opened.c_str();
    ExtractAnswers answers;
    answers.password = Secret;
    EXPECT_EQ(ZipResult::Ok, ExtractZip(*fs, withPassword, answers));
    EXPECT_EQ("one\n", Read(opened + "/a/b/one.txt")) << "decrypted with the right password";

    g_messages.clear();
    ExtractAnswers quiet;
    quiet.print = Collect;
    std::string target = Scratch("options-nopassword");
    // A kept archive: with one made afresh, the empty password passes the check byte of
    // its random header once in 256 runs.
    std::string kept = Source() + "/tests/archive/data/plain-password.zip";
    withPassword.archive = kept.c_str();
    withPassword.target = target.c_str();
    EXPECT_EQ(ZipResult::Warning, ExtractZip(*fs, withPassword, quiet));
    EXPECT_NE(std::string::npos, g_messages.find("locked.txt")) << "the message went to the print answer";
}

TEST(ZipEngine, ImplodedArchivesMadeHere)
{
    // Both dictionary sizes, with and without the literal tree, and the longest match
    // ending exactly at the end of the engine's output buffer.
    std::string work = Scratch("imploded");
    ASSERT_EQ(0, system(("python3 '" + Source() + "/tests/archive/make_imploded.py' '" + work + "' >/dev/null").c_str()));
    for (const char* name : {"imploded-4k-2trees.zip", "imploded-8k-2trees.zip", "imploded-4k-3trees.zip",
                             "imploded-8k-3trees.zip", "imploded-longest-match.zip"}) {
        std::string target = Scratch(std::string("imploded-out-") + name);
        EXPECT_EQ(ZipResult::Ok, Extract(work + "/" + name, target)) << name;
        ExpectSameAsUnzip(work + "/" + name, target);
    }
}

namespace {

// Hands out its bytes in pieces of a fixed size.
struct Pieces : InflateSource {
    const std::string* data = nullptr;
    size_t at = 0, piece = 65536;
    size_t Read(unsigned char* buffer, size_t capacity) override
    {
        size_t n = std::min(std::min(capacity, piece), data->size() - at);
        memcpy(buffer, data->data() + at, n);
        at += n;
        return n;
    }
};

// Takes at most `room` bytes, then refuses.
struct Refusing : InflateSink {
    std::string out;
    size_t room = (size_t)-1;
    bool Write(const unsigned char* data, size_t size) override
    {
        if (out.size() + size > room) return false;
        out.append((const char*)data, size);
        return true;
    }
};

bool StartsWith(const std::string& whole, const std::string& part)
{
    return whole.compare(0, part.size(), part) == 0;
}

}  // namespace

TEST(Inflate, StreamsOfEveryKindInPiecesOfAnySize)
{
    std::string work = archivetest::Scratch("deflate-streams");
    ASSERT_EQ(0, system(("python3 '" + Source() + "/tests/archive/make_deflate_streams.py' '" + work + "'").c_str()));
    std::istringstream names(archivetest::Read(work + "/streams.txt"));
    std::string name;
    int cases = 0;
    while (std::getline(names, name)) {
        if (name.empty()) continue;
        cases++;
        SCOPED_TRACE(name);
        const std::string plain = archivetest::Read(work + "/" + name + ".plain");
        const std::string packed = archivetest::Read(work + "/" + name + ".deflate");
        ASSERT_FALSE(packed.empty());
        // Pieces of one byte keep the decoder on its careful path; large ones on its fast path,
        // with the input running out in the middle of a symbol at every piece's end.
        for (size_t piece : {(size_t)1, (size_t)7, (size_t)4093, (size_t)65536}) {
            Pieces source;
            source.data = &packed;
            source.piece = piece;
            Refusing sink;
            uint64_t produced = 0;
            ASSERT_EQ(InflateResult::Ok, Inflate(source, sink, plain.size(), &produced)) << "pieces of " << piece;
            EXPECT_EQ(plain.size(), produced);
            EXPECT_TRUE(sink.out == plain) << "pieces of " << piece;
        }
        if (plain.empty()) continue;
        {
            // One byte less room than the data needs.
            Pieces source;
            source.data = &packed;
            Refusing sink;
            EXPECT_EQ(InflateResult::TooLarge, Inflate(source, sink, plain.size() - 1));
            EXPECT_TRUE(StartsWith(plain, sink.out));
        }
        {
            // A sink that stops taking bytes part way.
            Pieces source;
            source.data = &packed;
            Refusing sink;
            sink.room = plain.size() / 2;
            EXPECT_EQ(InflateResult::Stopped, Inflate(source, sink, plain.size()));
            EXPECT_TRUE(StartsWith(plain, sink.out));
        }
        for (size_t cut : {packed.size() / 3, packed.size() - 1}) {
            // A stream cut short never passes for whole, and what came out is the data's start.
            std::string shorter = packed.substr(0, cut);
            Pieces source;
            source.data = &shorter;
            Refusing sink;
            InflateResult result = Inflate(source, sink, plain.size());
            EXPECT_TRUE(result == InflateResult::Truncated || result == InflateResult::Corrupt)
                << "cut at " << cut << ": " << (int)result;
            EXPECT_TRUE(StartsWith(plain, sink.out)) << "cut at " << cut;
        }
    }
    EXPECT_EQ(13, cases);
}

TEST(Crc32, AnyLengthAlignmentAndSplitGivesTheBitwiseValue)
{
    // The definition, one bit at a time.
    auto reference = [](const unsigned char* data, size_t size) {
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t i = 0; i < size; i++) {
            crc ^= data[i];
            for (int k = 0; k < 8; k++) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return ~crc;
    };
    std::vector<unsigned char> data(5000);
    uint32_t seed = 12345;
    for (unsigned char& byte : data) {
        seed = seed * 1103515245u + 12345u;
        byte = (unsigned char)(seed >> 16);
    }
    const unsigned char check[] = "123456789";
    EXPECT_EQ(0xCBF43926u, Crc32(check, 9));
    EXPECT_EQ(0u, Crc32(nullptr, 0));
    // Lengths around every block size the fast paths use, from every alignment.
    for (size_t offset = 0; offset < 16; offset++)
        for (size_t size = 0; size + offset <= data.size(); size += size < 300 ? 1 : 97)
            ASSERT_EQ(reference(data.data() + offset, size), Crc32(data.data() + offset, size))
                << "offset " << offset << " size " << size;
    // Pieces of any size continue one another.
    for (size_t piece : {1u, 7u, 15u, 63u, 64u, 65u, 130u, 1000u}) {
        uint32_t crc = 0;
        for (size_t at = 0; at < data.size(); at += piece)
            crc = UpdateCrc32(crc, data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(reference(data.data(), data.size()), crc) << "pieces of " << piece;
    }
    // Runs of one byte value, all zero and all ones, where folding errors cancel least.
    for (unsigned char value : {0x00, 0xFF}) {
        std::vector<unsigned char> run(1024, value);
        EXPECT_EQ(reference(run.data(), run.size()), Crc32(run.data(), run.size()));
    }
}

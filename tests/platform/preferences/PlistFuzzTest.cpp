// The property-list reader meets whatever lies in a user's preference file or
// a bundle resource: it must answer every input with a value or an error,
// never crash, hang or exhaust memory. Inputs are random bytes and mutations
// of valid XML and binary lists; a fixed seed keeps failures reproducible
// (TOLV_PLIST_FUZZ_SEED and TOLV_PLIST_FUZZ_ITERATIONS override it).

#include "platform/preferences/Value.h"

#include "platform/preferences/PlistSamples.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <random>

using platform::Value;

namespace {

// Arrays and dictionaries with more than fourteen members (extended counts),
// a UID, a date before 2001 and a long ASCII string, written by plistlib.
const std::string& largerBinary() {
    static const std::string bytes(
        "\x62\x70\x6c\x69\x73\x74\x30\x30\xd6\x01\x02\x03\x04\x05\x06\x07\x08\x29\x3e\x3f\x40\x54\x62\x6c"
        "\x6f\x62\x54\x6b\x65\x79\x73\x54\x6c\x69\x73\x74\x54\x74\x65\x78\x74\x53\x75\x69\x64\x54\x77\x68"
        "\x65\x6e\x4f\x10\x28\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12"
        "\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20\x21\x22\x23\x24\x25\x26\x27\xdf\x10\x10"
        "\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x20"
        "\x21\x22\x23\x24\x25\x26\x27\x28\x53\x6b\x30\x30\x53\x6b\x30\x31\x53\x6b\x30\x32\x53\x6b\x30\x33"
        "\x53\x6b\x30\x34\x53\x6b\x30\x35\x53\x6b\x30\x36\x53\x6b\x30\x37\x53\x6b\x30\x38\x53\x6b\x30\x39"
        "\x53\x6b\x31\x30\x53\x6b\x31\x31\x53\x6b\x31\x32\x53\x6b\x31\x33\x53\x6b\x31\x34\x53\x6b\x31\x35"
        "\x23\x00\x00\x00\x00\x00\x00\x00\x00\x23\x3f\xf8\x00\x00\x00\x00\x00\x00\x23\x40\x08\x00\x00\x00"
        "\x00\x00\x00\x23\x40\x12\x00\x00\x00\x00\x00\x00\x23\x40\x18\x00\x00\x00\x00\x00\x00\x23\x40\x1e"
        "\x00\x00\x00\x00\x00\x00\x23\x40\x22\x00\x00\x00\x00\x00\x00\x23\x40\x25\x00\x00\x00\x00\x00\x00"
        "\x23\x40\x28\x00\x00\x00\x00\x00\x00\x23\x40\x2b\x00\x00\x00\x00\x00\x00\x23\x40\x2e\x00\x00\x00"
        "\x00\x00\x00\x23\x40\x30\x80\x00\x00\x00\x00\x00\x23\x40\x32\x00\x00\x00\x00\x00\x00\x23\x40\x33"
        "\x80\x00\x00\x00\x00\x00\x23\x40\x35\x00\x00\x00\x00\x00\x00\x23\x40\x36\x80\x00\x00\x00\x00\x00"
        "\xaf\x10\x14\x2a\x2b\x2c\x2d\x2e\x2f\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3a\x3b\x3c\x3d\x10"
        "\x00\x10\x01\x10\x02\x10\x03\x10\x04\x10\x05\x10\x06\x10\x07\x10\x08\x10\x09\x10\x0a\x10\x0b\x10"
        "\x0c\x10\x0d\x10\x0e\x10\x0f\x10\x10\x10\x11\x10\x12\x10\x13\x5f\x10\x31\x61\x73\x63\x69\x69\x20"
        "\x74\x65\x78\x74\x20\x6c\x6f\x6e\x67\x20\x65\x6e\x6f\x75\x67\x68\x20\x74\x6f\x20\x6e\x65\x65\x64"
        "\x20\x61\x6e\x20\x65\x78\x74\x65\x6e\x64\x65\x64\x20\x6c\x65\x6e\x67\x74\x68\x80\x07\x33\xc1\x8e"
        "\x11\xde\xd8\x00\x00\x00\x00\x08\x00\x15\x00\x1a\x00\x1f\x00\x24\x00\x29\x00\x2d\x00\x32\x00\x5d"
        "\x00\x80\x00\x84\x00\x88\x00\x8c\x00\x90\x00\x94\x00\x98\x00\x9c\x00\xa0\x00\xa4\x00\xa8\x00\xac"
        "\x00\xb0\x00\xb4\x00\xb8\x00\xbc\x00\xc0\x00\xc9\x00\xd2\x00\xdb\x00\xe4\x00\xed\x00\xf6\x00\xff"
        "\x01\x08\x01\x11\x01\x1a\x01\x23\x01\x2c\x01\x35\x01\x3e\x01\x47\x01\x50\x01\x67\x01\x69\x01\x6b"
        "\x01\x6d\x01\x6f\x01\x71\x01\x73\x01\x75\x01\x77\x01\x79\x01\x7b\x01\x7d\x01\x7f\x01\x81\x01\x83"
        "\x01\x85\x01\x87\x01\x89\x01\x8b\x01\x8d\x01\x8f\x01\xc3\x01\xc5\x00\x00\x00\x00\x00\x00\x02\x01"
        "\x00\x00\x00\x00\x00\x00\x00\x41\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01\xce",
        624);
    return bytes;
}

std::uint64_t fromEnvironment(const char* name, std::uint64_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

std::string hexPrefix(const std::string& bytes) {
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size() && i < 256; ++i) {
        out += hex[static_cast<unsigned char>(bytes[i]) >> 4];
        out += hex[static_cast<unsigned char>(bytes[i]) & 0x0F];
    }
    return out;
}

class Mutator {
public:
    explicit Mutator(std::uint64_t seed) : rng_(seed) {
        seeds_ = {plist_samples::xml(), plist_samples::binary(), largerBinary(),
                  Value(Value::Array{Value::Dictionary{{"a", Value::Array{1, 2.5, "x"}}}, true}).toXmlPlist()};
    }

    std::string next() {
        switch (pick(10)) {
        case 0: return randomBytes(pick(257));
        case 1: return "bplist00" + randomBytes(pick(200));
        case 2: return tokenSoup();
        default: return mutated();
        }
    }

private:
    std::size_t pick(std::size_t n) { return n ? std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_) : 0; }
    char randomByte() { return static_cast<char>(pick(256)); }

    std::string randomBytes(std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s) c = randomByte();
        return s;
    }

    char interestingByte() {
        static const std::array<unsigned char, 16> values = {0x00, 0x01, 0x0f, 0x10, 0x13, 0x1f, 0x33, 0x4f,
                                                             0x5f, 0x6f, 0x7f, 0x80, 0xaf, 0xdf, 0xfe, 0xff};
        return static_cast<char>(values[pick(values.size())]);
    }

    std::string token() {
        static const std::array<const char*, 24> tokens = {
            "<array>", "</array>", "<dict>", "</dict>", "<key>k</key>", "<string>", "</string>", "<integer>",
            "</integer>", "<real>1e999</real>", "<date>", "</date>", "<data>", "</data>", "<true/>", "<false/>",
            "<![CDATA[", "]]>", "<!--", "-->", "&amp;", "&#x10FFFF;", "<plist version=\"1.0\">", "</plist>"};
        return tokens[pick(tokens.size())];
    }

    std::string tokenSoup() {
        std::string s = "<?xml version=\"1.0\"?>";
        for (std::size_t n = pick(40); n > 0; --n) s += pick(4) ? token() : randomBytes(pick(6));
        return s;
    }

    // Sets one field of the 32-byte trailer of a binary list, where its
    // layout (sizes, object count, root, offset table) is described.
    void mutateTrailer(std::string& s) {
        if (s.size() < 32) return;
        static const std::array<std::size_t, 5> fields = {6, 7, 8, 16, 24};
        const std::size_t at = s.size() - 32 + fields[pick(fields.size())];
        const std::size_t width = at >= s.size() - 26 ? 8 : 1;
        for (std::size_t k = 0; k < width; ++k) s[at + k] = pick(3) ? '\0' : interestingByte();
        if (pick(2)) s[at + width - 1] = static_cast<char>(pick(256));
    }

    void mutateOnce(std::string& s) {
        const std::size_t at = pick(s.size() + 1);
        switch (pick(9)) {
        case 0:
            if (!s.empty()) s[pick(s.size())] ^= static_cast<char>(1u << pick(8));
            break;
        case 1:
            if (!s.empty()) s[pick(s.size())] = interestingByte();
            break;
        case 2: s.resize(at); break;
        case 3: s.erase(at, pick(32)); break;
        case 4: s.insert(at, randomBytes(pick(16))); break;
        case 5: s.insert(at, s.substr(pick(s.size() + 1), pick(64))); break;
        case 6: s.insert(at, token()); break;
        case 7: mutateTrailer(s); break;
        case 8: {
            const std::string& other = seeds_[pick(seeds_.size())];
            s = s.substr(0, at) + other.substr(std::min(at, other.size()));
            break;
        }
        }
    }

    std::string mutated() {
        std::string s = seeds_[pick(seeds_.size())];
        for (std::size_t n = 1 + pick(3); n > 0; --n) mutateOnce(s);
        return s;
    }

    std::mt19937_64 rng_;
    std::vector<std::string> seeds_;
};

} // namespace

TEST(PlistFuzzTest, RandomAndMutatedInputsGiveAValueOrAnError) {
    const std::uint64_t seed = fromEnvironment("TOLV_PLIST_FUZZ_SEED", 20240229);
    const std::uint64_t iterations = fromEnvironment("TOLV_PLIST_FUZZ_ITERATIONS", 100'000);
    Mutator mutator(seed);
    std::uint64_t accepted = 0;
    for (std::uint64_t i = 0; i < iterations; ++i) {
        const std::string input = mutator.next();
        std::string error;
        auto value = Value::fromPlistBytes(input, &error);
        if (!value) {
            ASSERT_NE(error, "") << "seed " << seed << " input " << i << ": " << hexPrefix(input);
            continue;
        }
        ++accepted;
        // Whatever was accepted can be written and read again.
        const std::string xml = value->toXmlPlist();
        if (value->isNone() || xml.empty()) continue;
        auto again = Value::fromPlistBytes(xml, &error);
        ASSERT_TRUE(again) << "seed " << seed << " input " << i << ": " << error << "\n" << xml;
    }
    RecordProperty("inputs", static_cast<int>(iterations));
    RecordProperty("accepted", static_cast<int>(accepted));
    std::printf("%llu inputs (seed %llu), %llu read as property lists\n", static_cast<unsigned long long>(iterations),
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(accepted));
}

#include "platform/preferences/Value.h"

#include "platform/preferences/PlistGuard.h"
#include "platform/preferences/PlistSamples.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace fs = std::filesystem;
using platform::Value;
using testing_support::TempHome;

namespace {

// A binary list made only of arrays: objects[i] names the objects that
// array i holds; object 0 is the root.
std::string binaryArrays(const std::vector<std::vector<std::uint32_t>>& objects) {
    auto put = [](std::string& out, std::uint64_t v, int width) {
        for (int k = width - 1; k >= 0; --k) out += static_cast<char>((v >> (8 * k)) & 0xff);
    };
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const auto& refs : objects) {
        offsets.push_back(out.size());
        if (refs.size() < 15) {
            out += static_cast<char>(0xA0 | refs.size());
        } else {
            out += static_cast<char>(0xAF);
            out += static_cast<char>(0x12);
            put(out, refs.size(), 4);
        }
        for (auto r : refs) put(out, r, 4);
    }
    const std::uint64_t table = out.size();
    for (auto o : offsets) put(out, o, 8);
    out += std::string(6, '\0');
    out += static_cast<char>(8);
    out += static_cast<char>(4);
    put(out, objects.size(), 8);
    put(out, 0, 8);
    put(out, table, 8);
    return out;
}

std::string nestedXmlArrays(int depth) {
    std::string s = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < depth; ++i) s += "<array>";
    for (int i = 0; i < depth; ++i) s += "</array>";
    return s + "</plist>";
}

std::vector<std::vector<std::uint32_t>> arrayChain(std::uint32_t depth) {
    std::vector<std::vector<std::uint32_t>> objects(depth);
    for (std::uint32_t i = 0; i + 1 < depth; ++i) objects[i] = {i + 1};
    return objects;
}

Value roundTrip(const Value& v) {
    std::string error;
    auto back = Value::fromPlistBytes(v.toXmlPlist(), &error);
    EXPECT_TRUE(back) << error;
    return back.value_or(Value());
}

} // namespace

TEST(ValueTest, ReadsXmlAndBinaryListsOfAnotherWriter) {
    for (const std::string* bytes : {&plist_samples::xml(), &plist_samples::binary()}) {
        std::string error;
        auto v = Value::fromPlistBytes(*bytes, &error);
        ASSERT_TRUE(v) << error;
        EXPECT_EQ(*v, plist_samples::expected()) << v->description();
    }
}

TEST(ValueTest, XmlRoundTripKeepsEveryTypeAndEdgeValue) {
    EXPECT_EQ(roundTrip(plist_samples::expected()), plist_samples::expected());

    const Value edges(Value::Dictionary{
        {"int64 max", Value(std::numeric_limits<std::int64_t>::max())},
        {"int64 min", Value(std::numeric_limits<std::int64_t>::min())},
        {"tenth", 0.1},
        {"huge", 1e300},
        {"tiny", -5e-324},
        {"before 2001", Value(plist_samples::utc(1999, 12, 31, 23, 59, 59))},
        {"before 1970", Value(plist_samples::utc(1960, 5, 1, 8, 0, 0))},
        {"empty data", Value(Value::Data{})},
        {"", "empty key"},
        {"<&> \"'", "markup in a key"},
        {"control", "tab\there\nnewline"},
    });
    EXPECT_EQ(roundTrip(edges), edges);

    // Roots other than a dictionary are lists too.
    EXPECT_EQ(roundTrip(Value("just a string")), Value("just a string"));
    EXPECT_EQ(roundTrip(Value(Value::Array{1, "two", 3.5})), Value(Value::Array{1, "two", 3.5}));
}

TEST(ValueTest, XmlDatesKeepWholeSecondsAndNoneIsNotWritten) {
    const Value::Date moment = plist_samples::utc(2030, 1, 2, 3, 4, 5) + std::chrono::milliseconds(250);
    EXPECT_EQ(roundTrip(Value(moment)).date(), plist_samples::utc(2030, 1, 2, 3, 4, 5));

    EXPECT_EQ(Value().toXmlPlist(), "");
    const Value withNone(Value::Dictionary{{"kept", 1}, {"gone", Value()}});
    EXPECT_EQ(roundTrip(withNone), Value(Value::Dictionary{{"kept", 1}}));
}

TEST(ValueTest, WhatIsNotAListGivesAClearError) {
    TempHome home;
    const std::string& xml = plist_samples::xml();
    const std::string& bin = plist_samples::binary();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"empty", ""},
        {"text", "hello, world\n"},
        {"html", "<html><body>no</body></html>"},
        {"truncated xml", xml.substr(0, xml.size() / 2)},
        {"truncated binary", bin.substr(0, bin.size() - 10)},
        {"binary without trailer", bin.substr(0, 40)},
        {"magic only", "bplist00"},
        {"nul bytes", std::string(64, '\0')},
    };
    for (const auto& [name, bytes] : cases) {
        std::string error;
        EXPECT_FALSE(Value::fromPlistBytes(bytes, &error)) << name;
        EXPECT_NE(error, "") << name;

        const fs::path file = home.writeFile(name + ".plist", bytes);
        error.clear();
        EXPECT_FALSE(Value::readPlistFile(file, &error)) << name;
        EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    }

    std::string error;
    EXPECT_FALSE(Value::readPlistFile(home.path() / "missing.plist", &error));
    EXPECT_NE(error.find("missing.plist"), std::string::npos) << error;
    EXPECT_FALSE(Value::readPlistFile(home.path(), &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    // A FIFO would block a plain read until some writer came along.
    const fs::path fifo = home.path() / "fifo.plist";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(Value::readPlistFile(fifo, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

// libplist 2.2 overflows its stack on a few hundred thousand nesting levels
// and copies every shared reference of a binary list; such input must be
// refused before it gets there.
TEST(ValueTest, HostileNestingAndSharingAreRefusedNotFollowed) {
    std::string error;
    EXPECT_FALSE(Value::fromPlistBytes(nestedXmlArrays(1'000'000), &error));
    EXPECT_NE(error.find("nesting"), std::string::npos) << error;
    EXPECT_FALSE(Value::fromPlistBytes(binaryArrays(arrayChain(200'000)), &error));
    EXPECT_NE(error.find("nesting"), std::string::npos) << error;

    // Forty arrays, each holding the next one twice: 2^40 values once copied.
    std::vector<std::vector<std::uint32_t>> doubling(41);
    for (std::uint32_t i = 0; i < 40; ++i) doubling[i] = {i + 1, i + 1};
    EXPECT_FALSE(Value::fromPlistBytes(binaryArrays(doubling), &error));
    EXPECT_NE(error.find("more than"), std::string::npos) << error;

    EXPECT_FALSE(Value::fromPlistBytes(binaryArrays({{1}, {0}}), &error));
    EXPECT_NE(error.find("contains itself"), std::string::npos) << error;

    // Up to the limit, nesting is an ordinary list.
    const int limit = platform::plist_guard::MaxDepth;
    EXPECT_TRUE(Value::fromPlistBytes(nestedXmlArrays(limit), &error)) << error;
    EXPECT_FALSE(Value::fromPlistBytes(nestedXmlArrays(limit + 1), &error));
    EXPECT_TRUE(Value::fromPlistBytes(binaryArrays(arrayChain(limit)), &error)) << error;
    EXPECT_FALSE(Value::fromPlistBytes(binaryArrays(arrayChain(limit + 1)), &error));

    // Sharing within the bound is fine: ten doublings are 2047 arrays.
    std::vector<std::vector<std::uint32_t>> modest(11);
    for (std::uint32_t i = 0; i < 10; ++i) modest[i] = {i + 1, i + 1};
    EXPECT_TRUE(Value::fromPlistBytes(binaryArrays(modest), &error)) << error;
}

// libplist 2.2 aborts on reading such a key; only binary lists can hold one.
TEST(ValueTest, BinaryKeyWithNulCharacterIsRefused) {
    auto dictionaryWithKey = [](unsigned char marker, const std::string& keyBytes) {
        std::string s = "bplist00";
        s += "\xd1\x01\x02"; // one entry: key object 1, value object 2
        const char keyAt = static_cast<char>(s.size());
        s += static_cast<char>(marker);
        s += keyBytes;
        const char valueAt = static_cast<char>(s.size());
        s += "\x09"; // true
        const char table = static_cast<char>(s.size());
        s += {'\x08', keyAt, valueAt};
        s += std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + "\x03" + std::string(15, '\0') + table;
        return s;
    };
    std::string error;
    EXPECT_FALSE(Value::fromPlistBytes(dictionaryWithKey(0x53, std::string("a\0b", 3)), &error));
    EXPECT_NE(error.find("NUL"), std::string::npos) << error;
    EXPECT_FALSE(Value::fromPlistBytes(dictionaryWithKey(0x62, std::string("\0a\0\0", 4)), &error));
    EXPECT_NE(error.find("NUL"), std::string::npos) << error;

    auto fine = Value::fromPlistBytes(dictionaryWithKey(0x62, std::string("\0a\0\xfc", 4)), &error);
    ASSERT_TRUE(fine) << error;
    EXPECT_EQ(*fine, Value(Value::Dictionary{{"a\xc3\xbc", true}}));
}

TEST(ValueTest, CoercingReadsFollowFoundationConventions) {
    struct Case {
        Value v;
        bool b;
        std::int64_t i;
        double d;
    };
    const std::vector<Case> cases = {
        {Value(), false, 0, 0},
        {Value(true), true, 1, 1},
        {Value(false), false, 0, 0},
        {Value(7), true, 7, 7},
        {Value(-3.75), true, -3, -3.75},
        {Value(0.25), true, 0, 0.25},
        {Value(1e30), true, std::numeric_limits<std::int64_t>::max(), 1e30},
        {Value("YES"), true, 0, 0},
        {Value("yes"), true, 0, 0},
        {Value("true"), true, 0, 0},
        {Value("y"), true, 0, 0},
        {Value("NO"), false, 0, 0},
        {Value("false"), false, 0, 0},
        {Value(" 42 apples"), true, 42, 42},
        {Value("-17"), true, -17, -17},
        {Value("007"), true, 7, 7},
        {Value("0"), false, 0, 0},
        {Value("2.5"), true, 2, 2.5},
        {Value("99999999999999999999"), true, std::numeric_limits<std::int64_t>::max(), 1e20},
        {Value(""), false, 0, 0},
        {Value(Value::Data{1}), false, 0, 0},
        {Value(Value::Array{1}), false, 0, 0},
        {Value(plist_samples::utc(2024, 1, 1, 0, 0, 0)), false, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.v.toBool(), c.b) << c.v.description();
        EXPECT_EQ(c.v.toInteger(), c.i) << c.v.description();
        EXPECT_DOUBLE_EQ(c.v.toDouble(), c.d) << c.v.description();
    }
    EXPECT_EQ(Value(std::nan("")).toInteger(), 0);

    EXPECT_EQ(Value("text").toString(), "text");
    EXPECT_EQ(Value(12).toString(), "12");
    EXPECT_EQ(Value(0.1).toString(), "0.1");
    EXPECT_EQ(Value(true).toString(), "1");
    EXPECT_EQ(Value(Value::Data{}).toString(), std::nullopt);
    EXPECT_EQ(Value().toString(), std::nullopt);
}

TEST(ValueTest, MemberLookupAndDescriptionForLogs) {
    const Value v = plist_samples::expected();
    EXPECT_EQ(v["integer"], Value(42));
    EXPECT_TRUE(v["absent"].isNone());
    EXPECT_TRUE(Value(3)["anything"].isNone());

    const std::string text = v.description();
    EXPECT_NE(text.find("integer = 42;"), std::string::npos) << text;
    EXPECT_NE(text.find("string = \"Gr"), std::string::npos) << text;
    EXPECT_NE(text.find("date = 2024-02-29 13:45:30 +0000;"), std::string::npos) << text;
    EXPECT_NE(text.find("data = <0001feff>;"), std::string::npos) << text;
    EXPECT_EQ(Value("plain").description(), "plain");
}

TEST(ValueTest, FileWriteReplacesWholeFileAndKeepsItsMode) {
    TempHome home;
    const fs::path folder = home.makeFolder("lists");
    const fs::path file = folder / "list.plist";
    ASSERT_TRUE(Value(Value::Dictionary{{"a", 1}}).writePlistFile(file));
    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(plist_samples::expected().writePlistFile(file));
    EXPECT_EQ(Value::readPlistFile(file), plist_samples::expected());
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // No temporary file is left beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(ValueTest, FileWriteGoesThroughSymlinkAndFailsCleanly) {
    TempHome home;
    const fs::path real = home.writeFile("real/list.plist", "old");
    const fs::path link = home.path() / "link.plist";
    fs::create_symlink(real, link);
    ASSERT_TRUE(Value(Value::Dictionary{{"b", 2}}).writePlistFile(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Value::readPlistFile(real), Value(Value::Dictionary{{"b", 2}}));

    // A parent that is a regular file stops even root.
    const fs::path blocked = home.path() / "real/list.plist/inside.plist";
    std::string error;
    EXPECT_FALSE(Value(1).writePlistFile(blocked, &error));
    EXPECT_NE(error, "");
    EXPECT_EQ(Value::readPlistFile(real), Value(Value::Dictionary{{"b", 2}}));
}

#include "platform/alias/AliasRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using platform::AliasRecord;
using Bytes = std::vector<std::uint8_t>;

namespace {

AliasRecord sampleRecord() {
    AliasRecord r;
    r.path = "/media/photo station/DCIM";
    r.item.device = r.volume.device = 0x0811;
    r.item.inode = 1234567;
    r.item.isDirectory = true;
    r.item.hasBirthTime = true;
    r.item.birthSeconds = 1700000000;
    r.item.birthNanoseconds = 123456789;
    r.item.handleType = 1;
    r.item.handle = {1, 2, 3, 4, 5, 6, 7, 8};
    r.volume.uuid = "1234-ABCD";
    r.volume.fsid = 0x1122334455667788ull;
    r.volume.fsMagic = 0x4d44;
    r.fsType = "vfat";
    r.mountPoint = "/media/photo station";
    r.mountRoot = "/";
    r.relativePath = "DCIM";
    return r;
}

void putU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void appendField(Bytes& b, std::uint16_t tag, const Bytes& value) {
    b.push_back(tag & 0xff);
    b.push_back(tag >> 8);
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(value.size() >> (8 * i)));
    b.insert(b.end(), value.begin(), value.end());
    putU32(b, 8, static_cast<std::uint32_t>(b.size() - 12));
}

// Offset of the value of the first field with the tag.
std::size_t fieldValueAt(const Bytes& b, std::uint16_t tag) {
    std::size_t at = 12;
    while (at + 6 <= b.size()) {
        std::uint16_t t = b[at] | (b[at + 1] << 8);
        std::uint32_t len = b[at + 2] | (b[at + 3] << 8) | (b[at + 4] << 16) | (static_cast<std::uint32_t>(b[at + 5]) << 24);
        if (t == tag) return at + 6;
        at += 6 + len;
    }
    return 0;
}

std::string whyRejected(const Bytes& b) {
    std::string reason;
    EXPECT_FALSE(AliasRecord::decode(b, &reason).has_value());
    EXPECT_FALSE(reason.empty());
    return reason;
}

TEST(AliasRecordTest, RoundTripKeepsEveryFieldAndOptionalWitnessesMayBeAbsent) {
    const auto r = sampleRecord();
    const auto bytes = r.encode();
    auto back = AliasRecord::decode(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->encode(), bytes);
    EXPECT_EQ(back->volume.device, r.item.device);
    EXPECT_EQ(back->item.handle, r.item.handle);
    EXPECT_EQ(back->item.birthNanoseconds, r.item.birthNanoseconds);
    EXPECT_EQ(back->pathInFileSystem(), "/DCIM");

    auto bare = r;
    bare.item.hasBirthTime = false;
    bare.item.handle.clear();
    bare.volume.uuid.clear();
    bare.relativePath.clear(); // the mount point itself
    back = AliasRecord::decode(bare.encode());
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->item.hasBirthTime);
    EXPECT_TRUE(back->item.handle.empty());
    EXPECT_EQ(back->pathInFileSystem(), "/");
}

TEST(AliasRecordTest, FieldsOfALaterVersionAreSkipped) {
    auto bytes = sampleRecord().encode();
    appendField(bytes, 999, {9, 9, 9});
    auto back = AliasRecord::decode(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->path, sampleRecord().path);
}

TEST(AliasRecordTest, RejectsDamagedHeaders) {
    const auto good = sampleRecord().encode();
    EXPECT_NE(whyRejected({}).find("too short"), std::string::npos);

    auto badMagic = good;
    badMagic[0] = 'X';
    EXPECT_NE(whyRejected(badMagic).find("mark"), std::string::npos);

    auto future = good;
    future[4] = 2;
    EXPECT_NE(whyRejected(future).find("version 2"), std::string::npos);
    auto zero = good;
    zero[4] = 0;
    whyRejected(zero);

    auto absurdLength = good;
    putU32(absurdLength, 8, 0xffffffffu);
    whyRejected(absurdLength);

    auto trailing = good;
    trailing.push_back(0);
    whyRejected(trailing);

    Bytes huge(AliasRecord::kMaxRecordBytes + 1, 0);
    EXPECT_NE(whyRejected(huge).find("too long"), std::string::npos);
}

TEST(AliasRecordTest, RejectsEveryTruncation) {
    const auto good = sampleRecord().encode();
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + n);
        EXPECT_FALSE(AliasRecord::decode(cut)) << "cut at " << n;
        // Also with the length fixed up, so the cut field itself is what fails.
        if (n >= 12) {
            putU32(cut, 8, static_cast<std::uint32_t>(n - 12));
            EXPECT_FALSE(AliasRecord::decode(cut)) << "cut at " << n << " with matching length";
        }
    }
}

TEST(AliasRecordTest, RejectsDamagedFields) {
    const auto good = sampleRecord().encode();

    auto absurdField = good;
    putU32(absurdField, fieldValueAt(good, 1) - 4, 0x7fffffffu);
    EXPECT_NE(whyRejected(absurdField).find("remain"), std::string::npos);

    auto duplicate = good;
    appendField(duplicate, 4, Bytes(8, 0));
    EXPECT_NE(whyRejected(duplicate).find("twice"), std::string::npos);

    auto nulInPath = good;
    nulInPath[fieldValueAt(good, 1) + 3] = 0;
    EXPECT_NE(whyRejected(nulInPath).find("NUL"), std::string::npos);

    auto badFlag = good;
    badFlag[fieldValueAt(good, 2)] = 7;
    whyRejected(badFlag);

    auto badNanoseconds = good;
    putU32(badNanoseconds, fieldValueAt(good, 5) + 8, 1000000000u);
    whyRejected(badNanoseconds);

    auto r = sampleRecord();
    r.path = "relative/path";
    whyRejected(r.encode());
    r = sampleRecord();
    r.relativePath = "DCIM/../../etc";
    whyRejected(r.encode());
    r = sampleRecord();
    r.relativePath = "/DCIM";
    whyRejected(r.encode());
    r = sampleRecord();
    r.path = std::string(AliasRecord::kMaxStringBytes + 1, 'a');
    r.path[0] = '/';
    whyRejected(r.encode());
    r = sampleRecord();
    r.item.handle.assign(platform::FileIdentity::kMaxHandleBytes + 1, 1);
    whyRejected(r.encode());
}

TEST(AliasRecordTest, RejectsRecordsMissingARequiredField) {
    // Rebuild the record leaving out one field at a time.
    const auto good = sampleRecord().encode();
    for (std::uint16_t omit : {1, 2, 3, 4, 11, 12, 13}) {
        Bytes b(good.begin(), good.begin() + 12);
        std::size_t at = 12;
        while (at < good.size()) {
            std::uint16_t tag = good[at] | (good[at + 1] << 8);
            std::uint32_t len = good[at + 2] | (good[at + 3] << 8) | (good[at + 4] << 16);
            if (tag != omit) b.insert(b.end(), good.begin() + at, good.begin() + at + 6 + len);
            at += 6 + len;
        }
        putU32(b, 8, static_cast<std::uint32_t>(b.size() - 12));
        EXPECT_NE(whyRejected(b).find("missing"), std::string::npos) << "tag " << omit;
    }
}

// Random bytes, random bytes behind a valid header, and valid records with
// bytes flipped, cut, spliced or with length fields set to edge values.
// The reader must never crash or read out of bounds (run under ASan to see
// the latter), and whatever it accepts must encode again.
TEST(AliasRecordTest, FuzzedInputsNeverCrashTheReader) {
    std::mt19937_64 rng(20240611);
    const auto good = sampleRecord().encode();
    const std::uint32_t edges[] = {0, 1, 7, 8, 0xff, 0xffff, 0x7fffffff, 0xffffffff};
    std::size_t accepted = 0;
    constexpr int kRounds = 150000;
    for (int round = 0; round < kRounds; ++round) {
        Bytes b;
        switch (round % 5) {
        case 0:
            b.resize(rng() % 300);
            for (auto& x : b) x = static_cast<std::uint8_t>(rng());
            break;
        case 1:
            b.assign(good.begin(), good.begin() + 12);
            b.resize(12 + rng() % 300);
            for (std::size_t i = 12; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(rng());
            if (rng() % 2) putU32(b, 8, static_cast<std::uint32_t>(b.size() - 12));
            break;
        case 2:
            b = good;
            for (int flips = 1 + rng() % 4; flips > 0; --flips) b[rng() % b.size()] ^= 1u << (rng() % 8);
            break;
        case 3:
            b = good;
            putU32(b, rng() % (b.size() - 3), edges[rng() % std::size(edges)]);
            break;
        default:
            b = good;
            b.erase(b.begin() + rng() % b.size(), b.end());
            b.insert(b.end(), good.begin() + rng() % good.size(), good.end());
            break;
        }
        std::string reason;
        auto r = AliasRecord::decode(b, &reason);
        if (r) {
            ++accepted;
            EXPECT_TRUE(AliasRecord::decode(r->encode()));
        } else {
            EXPECT_FALSE(reason.empty());
        }
    }
    RecordProperty("inputs", kRounds);
    RecordProperty("accepted", static_cast<int>(accepted));
}

} // namespace

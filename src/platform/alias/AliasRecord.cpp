#include "platform/alias/AliasRecord.h"

#include "platform/alias/MountTable.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace platform {

namespace {

constexpr std::uint8_t kMagic[4] = {'T', 'l', 'v', 'A'};
constexpr std::size_t kHeaderBytes = 4 + 2 + 2 + 4; // magic, version, flags, body length
constexpr std::size_t kFieldHeaderBytes = 2 + 4;    // tag, length

enum Tag : std::uint16_t {
    kPath = 1,
    kIsDirectory = 2,
    kDevice = 3,
    kInode = 4,
    kBirthTime = 5,
    kHandle = 6,
    kVolumeUuid = 7,
    kVolumeFsid = 8,
    kVolumeMagic = 9,
    kFsType = 10,
    kMountPoint = 11,
    kMountRoot = 12,
    kRelativePath = 13,
};

class Writer {
public:
    void u16(std::uint16_t v) { little(v, 2); }
    void u32(std::uint32_t v) { little(v, 4); }
    void u64(std::uint64_t v) { little(v, 8); }
    void bytes(const void* p, std::size_t n) {
        auto b = static_cast<const std::uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void field(Tag tag, const std::vector<std::uint8_t>& value) {
        u16(tag);
        u32(static_cast<std::uint32_t>(value.size()));
        bytes(value.data(), value.size());
    }
    std::vector<std::uint8_t> out;

private:
    void little(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

std::vector<std::uint8_t> stringValue(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> u64Value(std::uint64_t v) {
    Writer w;
    w.u64(v);
    return w.out;
}

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
    bool has(std::size_t n) const { return b_.size() - pos_ >= n; }
    std::uint64_t little(int n) {
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(b_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    std::span<const std::uint8_t> take(std::size_t n) {
        auto s = b_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    std::size_t remaining() const { return b_.size() - pos_; }

private:
    std::span<const std::uint8_t> b_;
    std::size_t pos_ = 0;
};

std::uint64_t readU64(std::span<const std::uint8_t> v) {
    Reader r(v);
    return r.little(8);
}

bool fail(std::string* reason, std::string text) {
    if (reason) *reason = std::move(text);
    return false;
}

bool readString(std::span<const std::uint8_t> v, std::string& out, const char* name, std::string* reason) {
    if (v.size() > AliasRecord::kMaxStringBytes)
        return fail(reason, std::string(name) + " is " + std::to_string(v.size()) + " bytes long");
    if (std::find(v.begin(), v.end(), 0) != v.end()) return fail(reason, std::string(name) + " holds a NUL byte");
    out.assign(v.begin(), v.end());
    return true;
}

bool hasDotDot(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end - start == 2 && path.compare(start, 2, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

bool isAbsolute(const std::string& p) { return !p.empty() && p[0] == '/'; }

bool fixedSize(std::span<const std::uint8_t> v, std::size_t n, std::uint16_t tag, std::string* reason) {
    if (v.size() == n) return true;
    return fail(reason, "field " + std::to_string(tag) + " has length " + std::to_string(v.size()) + ", expected " +
                            std::to_string(n));
}

bool readField(std::uint16_t tag, std::span<const std::uint8_t> v, AliasRecord& r, std::string* reason) {
    switch (tag) {
    case kPath: return readString(v, r.path, "path", reason);
    case kIsDirectory:
        if (!fixedSize(v, 1, tag, reason)) return false;
        if (v[0] > 1) return fail(reason, "directory flag is " + std::to_string(v[0]));
        r.item.isDirectory = v[0] == 1;
        return true;
    case kDevice:
        if (!fixedSize(v, 8, tag, reason)) return false;
        r.item.device = r.volume.device = readU64(v);
        return true;
    case kInode:
        if (!fixedSize(v, 8, tag, reason)) return false;
        r.item.inode = readU64(v);
        return true;
    case kBirthTime: {
        if (!fixedSize(v, 12, tag, reason)) return false;
        Reader in(v);
        r.item.birthSeconds = static_cast<std::int64_t>(in.little(8));
        r.item.birthNanoseconds = static_cast<std::uint32_t>(in.little(4));
        if (r.item.birthNanoseconds >= 1000000000u) return fail(reason, "birth time nanoseconds out of range");
        r.item.hasBirthTime = true;
        return true;
    }
    case kHandle: {
        if (v.size() < 4 || v.size() - 4 > FileIdentity::kMaxHandleBytes)
            return fail(reason, "file handle field has length " + std::to_string(v.size()));
        Reader in(v);
        r.item.handleType = static_cast<std::int32_t>(static_cast<std::uint32_t>(in.little(4)));
        auto h = in.take(in.remaining());
        r.item.handle.assign(h.begin(), h.end());
        return true;
    }
    case kVolumeUuid: return readString(v, r.volume.uuid, "volume UUID", reason);
    case kVolumeFsid:
        if (!fixedSize(v, 8, tag, reason)) return false;
        r.volume.fsid = readU64(v);
        return true;
    case kVolumeMagic:
        if (!fixedSize(v, 8, tag, reason)) return false;
        r.volume.fsMagic = readU64(v);
        return true;
    case kFsType: return readString(v, r.fsType, "file system type", reason);
    case kMountPoint: return readString(v, r.mountPoint, "mount point", reason);
    case kMountRoot: return readString(v, r.mountRoot, "mount root", reason);
    case kRelativePath: return readString(v, r.relativePath, "relative path", reason);
    default: return true; // a field of a later version
    }
}

bool checkComplete(const AliasRecord& r, const std::set<std::uint16_t>& seen, std::string* reason) {
    static constexpr std::pair<Tag, const char*> required[] = {
        {kPath, "path"},           {kIsDirectory, "directory flag"}, {kDevice, "device"},
        {kInode, "inode"},         {kMountPoint, "mount point"},     {kMountRoot, "mount root"},
        {kRelativePath, "relative path"},
    };
    for (auto [tag, name] : required)
        if (!seen.count(tag)) return fail(reason, std::string("missing ") + name);
    if (!isAbsolute(r.path) || !isAbsolute(r.mountPoint) || !isAbsolute(r.mountRoot))
        return fail(reason, "path, mount point or mount root is not absolute");
    if (isAbsolute(r.relativePath) || hasDotDot(r.relativePath) || hasDotDot(r.mountRoot))
        return fail(reason, "relative path or mount root leaves its folder");
    return true;
}

} // namespace

std::vector<std::uint8_t> AliasRecord::encode() const {
    Writer body;
    body.field(kPath, stringValue(path));
    body.field(kIsDirectory, {static_cast<std::uint8_t>(item.isDirectory ? 1 : 0)});
    body.field(kDevice, u64Value(item.device));
    body.field(kInode, u64Value(item.inode));
    if (item.hasBirthTime) {
        Writer t;
        t.u64(static_cast<std::uint64_t>(item.birthSeconds));
        t.u32(item.birthNanoseconds);
        body.field(kBirthTime, t.out);
    }
    if (!item.handle.empty()) {
        Writer h;
        h.u32(static_cast<std::uint32_t>(item.handleType));
        h.bytes(item.handle.data(), item.handle.size());
        body.field(kHandle, h.out);
    }
    if (!volume.uuid.empty()) body.field(kVolumeUuid, stringValue(volume.uuid));
    body.field(kVolumeFsid, u64Value(volume.fsid));
    body.field(kVolumeMagic, u64Value(volume.fsMagic));
    body.field(kFsType, stringValue(fsType));
    body.field(kMountPoint, stringValue(mountPoint));
    body.field(kMountRoot, stringValue(mountRoot));
    body.field(kRelativePath, stringValue(relativePath));

    Writer out;
    out.bytes(kMagic, sizeof(kMagic));
    out.u16(kFormatVersion);
    out.u16(0);
    out.u32(static_cast<std::uint32_t>(body.out.size()));
    out.bytes(body.out.data(), body.out.size());
    return out.out;
}

std::optional<AliasRecord> AliasRecord::decode(std::span<const std::uint8_t> bytes, std::string* reason) {
    if (bytes.size() < kHeaderBytes) {
        fail(reason, "record too short (" + std::to_string(bytes.size()) + " bytes)");
        return std::nullopt;
    }
    if (bytes.size() > kMaxRecordBytes) {
        fail(reason, "record too long (" + std::to_string(bytes.size()) + " bytes)");
        return std::nullopt;
    }
    Reader in(bytes);
    auto magic = in.take(4);
    if (!std::equal(magic.begin(), magic.end(), kMagic)) {
        fail(reason, "no alias record mark");
        return std::nullopt;
    }
    const auto version = static_cast<std::uint16_t>(in.little(2));
    in.little(2); // flags, none defined yet
    const auto bodyLength = in.little(4);
    if (version == 0 || version > kFormatVersion) {
        fail(reason, "unknown record format version " + std::to_string(version));
        return std::nullopt;
    }
    if (bodyLength != in.remaining()) {
        fail(reason, "record states " + std::to_string(bodyLength) + " bytes of fields but holds " +
                         std::to_string(in.remaining()));
        return std::nullopt;
    }
    AliasRecord r;
    std::set<std::uint16_t> seen;
    while (in.remaining() > 0) {
        if (!in.has(kFieldHeaderBytes)) {
            fail(reason, "truncated field header");
            return std::nullopt;
        }
        const auto tag = static_cast<std::uint16_t>(in.little(2));
        const auto length = in.little(4);
        if (length > in.remaining()) {
            fail(reason, "field " + std::to_string(tag) + " states " + std::to_string(length) + " bytes but " +
                             std::to_string(in.remaining()) + " remain");
            return std::nullopt;
        }
        if (!seen.insert(tag).second) {
            fail(reason, "field " + std::to_string(tag) + " appears twice");
            return std::nullopt;
        }
        if (!readField(tag, in.take(length), r, reason)) return std::nullopt;
    }
    if (!checkComplete(r, seen, reason)) return std::nullopt;
    return r;
}

std::string AliasRecord::pathInFileSystem() const {
    return MountTable::join(mountRoot, relativePath);
}

} // namespace platform

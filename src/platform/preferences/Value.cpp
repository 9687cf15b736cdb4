#include "platform/preferences/Value.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/preferences/PlistGuard.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>

namespace platform {

namespace {

using Clock = std::chrono::system_clock;

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr std::int64_t ReferenceDateUnixSeconds = 978307200;

double secondsSinceReferenceDate(Value::Date d) {
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(d.time_since_epoch()).count();
    return static_cast<double>(micros) / 1e6 - static_cast<double>(ReferenceDateUnixSeconds);
}

Value::Date dateFromReferenceSeconds(std::int64_t sec, std::int64_t usec) {
    return Clock::time_point(std::chrono::seconds(sec + ReferenceDateUnixSeconds) + std::chrono::microseconds(usec));
}

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// ---- Coercion of strings, as Foundation's string values read them.

std::string_view trimmedNumberText(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    return s;
}

bool stringToBool(std::string_view s) {
    s = trimmedNumberText(s);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) s.remove_prefix(1);
    while (!s.empty() && s.front() == '0') s.remove_prefix(1);
    if (s.empty()) return false;
    const char c = s.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t stringToInteger(std::string_view s) {
    s = trimmedNumberText(s);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    std::uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
    if (ec == std::errc::result_out_of_range)
        return negative ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    if (ec != std::errc()) return 0;
    if (negative) {
        if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(magnitude);
}

double stringToDouble(std::string_view s) {
    s = trimmedNumberText(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    double d = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
    return ec == std::errc() ? d : 0.0;
}

std::int64_t doubleToInteger(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 9.2233720368547758e18) return std::numeric_limits<std::int64_t>::max();
    if (d <= -9.2233720368547758e18) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(d);
}

std::string shortestDouble(double d) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, d);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

// ---- Description, in the old-style property-list text of Foundation's logs.

bool needsQuotes(const std::string& s) {
    if (s.empty()) return true;
    return !std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_$:./", c);
    });
}

std::string quoted(const std::string& s) {
    if (!needsQuotes(s)) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string describeDate(Value::Date d) {
    std::time_t t = Clock::to_time_t(d);
    std::tm tm {};
    gmtime_r(&t, &tm);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buffer;
}

std::string describeData(const Value::Data& data) {
    constexpr std::size_t Shown = 64;
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    for (std::size_t i = 0; i < data.size() && i < Shown; ++i) {
        if (i && i % 4 == 0) out += ' ';
        out += hex[data[i] >> 4];
        out += hex[data[i] & 0x0F];
    }
    if (data.size() > Shown) out += " ... " + std::to_string(data.size()) + " bytes";
    return out + ">";
}

void describe(const Value& v, int indent, std::string& out);

void describeArray(const Value::Array& a, int indent, std::string& out) {
    const std::string pad(4 * (indent + 1), ' ');
    out += "(\n";
    for (std::size_t i = 0; i < a.size(); ++i) {
        out += pad;
        describe(a[i], indent + 1, out);
        out += i + 1 < a.size() ? ",\n" : "\n";
    }
    out += std::string(4 * indent, ' ') + ")";
}

void describeDictionary(const Value::Dictionary& d, int indent, std::string& out) {
    const std::string pad(4 * (indent + 1), ' ');
    out += "{\n";
    for (const auto& [key, value] : d) {
        out += pad + quoted(key) + " = ";
        describe(value, indent + 1, out);
        out += ";\n";
    }
    out += std::string(4 * indent, ' ') + "}";
}

void describe(const Value& v, int indent, std::string& out) {
    switch (v.type()) {
    case Value::Type::None: out += "(null)"; break;
    case Value::Type::String: out += quoted(*v.string()); break;
    case Value::Type::Date: out += describeDate(*v.date()); break;
    case Value::Type::Data: out += describeData(*v.data()); break;
    case Value::Type::Array: describeArray(*v.array(), indent, out); break;
    case Value::Type::Dictionary: describeDictionary(*v.dictionary(), indent, out); break;
    default: out += *v.toString(); break;
    }
}

// ---- libplist nodes to values and back.

struct PlistFree {
    void operator()(void* node) const { plist_free(node); }
};
using PlistNode = std::unique_ptr<void, PlistFree>;

std::optional<Value> fromNode(plist_t node, int depth, std::string* error);

std::optional<Value> arrayFromNode(plist_t node, int depth, std::string* error) {
    std::optional<Value> result(Value::Array{});
    Value::Array& array = *result->array();
    const std::uint32_t n = plist_array_get_size(node);
    array.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        auto item = fromNode(plist_array_get_item(node, i), depth + 1, error);
        if (!item) return std::nullopt;
        array.push_back(std::move(*item));
    }
    return result;
}

std::optional<Value> dictionaryFromNode(plist_t node, int depth, std::string* error) {
    std::optional<Value> result(Value::Dictionary{});
    Value::Dictionary& dict = *result->dictionary();
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, it, &key, &item);
        if (!item) {
            std::free(key);
            break;
        }
        std::string name = key ? key : "";
        std::free(key);
        auto value = fromNode(item, depth + 1, error);
        if (!value) {
            std::free(it);
            return std::nullopt;
        }
        dict.insert_or_assign(std::move(name), std::move(*value));
    }
    std::free(it);
    return result;
}

std::optional<Value> scalarFromNode(plist_t node, std::string* error) {
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        // libplist keeps negative integers as their two's complement.
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_UID: {
        std::uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return Value(std::string(s ? s : "", s ? length : 0));
    }
    case PLIST_DATE: {
        std::int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value(dateFromReferenceSeconds(sec, usec));
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const char* p = plist_get_data_ptr(node, &length);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(p);
        return Value(p ? Value::Data(bytes, bytes + length) : Value::Data());
    }
    default:
        fail(error, "unexpected node in property list");
        return std::nullopt;
    }
}

std::optional<Value> fromNode(plist_t node, int depth, std::string* error) {
    if (!node) {
        fail(error, "missing value in property list");
        return std::nullopt;
    }
    const plist_type type = plist_get_node_type(node);
    if (type != PLIST_ARRAY && type != PLIST_DICT) return scalarFromNode(node, error);
    if (depth > plist_guard::MaxDepth) {
        fail(error, "property list nested too deeply");
        return std::nullopt;
    }
    return type == PLIST_ARRAY ? arrayFromNode(node, depth, error) : dictionaryFromNode(node, depth, error);
}

plist_t dateNode(Value::Date d) {
    // libplist keeps dates as 32-bit seconds from 2001 (years 1933 to 2069).
    double t = secondsSinceReferenceDate(d);
    constexpr double Low = std::numeric_limits<std::int32_t>::min();
    constexpr double High = std::numeric_limits<std::int32_t>::max();
    t = std::clamp(t, Low, High);
    const double whole = std::floor(t);
    auto usec = static_cast<std::int32_t>(std::llround((t - whole) * 1e6));
    auto sec = static_cast<std::int32_t>(whole);
    if (usec >= 1000000) usec = 999999;
    return plist_new_date(sec, usec);
}

plist_t toNode(const Value& v, int depth);

plist_t arrayNode(const Value::Array& a, int depth) {
    plist_t node = plist_new_array();
    for (const Value& item : a) {
        plist_t child = toNode(item, depth + 1);
        if (!child) {
            plist_free(node);
            return nullptr;
        }
        plist_array_append_item(node, child);
    }
    return node;
}

plist_t dictionaryNode(const Value::Dictionary& d, int depth) {
    plist_t node = plist_new_dict();
    for (const auto& [key, value] : d) {
        // A None member has no property-list form; it is left out.
        if (value.isNone()) continue;
        plist_t child = toNode(value, depth + 1);
        if (!child) {
            plist_free(node);
            return nullptr;
        }
        plist_dict_set_item(node, key.c_str(), child);
    }
    return node;
}

// nullptr when the value cannot be written: None, or nested too deeply.
plist_t toNode(const Value& v, int depth) {
    switch (v.type()) {
    case Value::Type::None: return nullptr;
    case Value::Type::String: return plist_new_string(v.string()->c_str());
    case Value::Type::Integer: return plist_new_uint(static_cast<std::uint64_t>(v.toInteger()));
    case Value::Type::Real: return plist_new_real(v.toDouble());
    case Value::Type::Boolean: return plist_new_bool(v.toBool() ? 1 : 0);
    case Value::Type::Date: return dateNode(*v.date());
    case Value::Type::Data: {
        const auto& data = *v.data();
        return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
    }
    case Value::Type::Array:
    case Value::Type::Dictionary:
        if (depth > plist_guard::MaxDepth) return nullptr;
        return v.isArray() ? arrayNode(*v.array(), depth) : dictionaryNode(*v.dictionary(), depth);
    }
    return nullptr;
}

} // namespace

std::optional<Value::Date> Value::date() const {
    if (const Date* d = std::get_if<Date>(&v_)) return *d;
    return std::nullopt;
}

bool Value::toBool() const {
    switch (type()) {
    case Type::Boolean: return std::get<bool>(v_);
    case Type::Integer: return std::get<std::int64_t>(v_) != 0;
    case Type::Real: return std::get<double>(v_) != 0.0;
    case Type::String: return stringToBool(std::get<std::string>(v_));
    default: return false;
    }
}

std::int64_t Value::toInteger() const {
    switch (type()) {
    case Type::Boolean: return std::get<bool>(v_) ? 1 : 0;
    case Type::Integer: return std::get<std::int64_t>(v_);
    case Type::Real: return doubleToInteger(std::get<double>(v_));
    case Type::String: return stringToInteger(std::get<std::string>(v_));
    default: return 0;
    }
}

double Value::toDouble() const {
    switch (type()) {
    case Type::Boolean: return std::get<bool>(v_) ? 1.0 : 0.0;
    case Type::Integer: return static_cast<double>(std::get<std::int64_t>(v_));
    case Type::Real: return std::get<double>(v_);
    case Type::String: return stringToDouble(std::get<std::string>(v_));
    default: return 0.0;
    }
}

std::optional<std::string> Value::toString() const {
    switch (type()) {
    case Type::String: return std::get<std::string>(v_);
    case Type::Boolean: return std::string(std::get<bool>(v_) ? "1" : "0");
    case Type::Integer: return std::to_string(std::get<std::int64_t>(v_));
    case Type::Real: return shortestDouble(std::get<double>(v_));
    default: return std::nullopt;
    }
}

const Value& Value::operator[](const std::string& key) const {
    static const Value none;
    const Dictionary* d = dictionary();
    if (!d) return none;
    auto it = d->find(key);
    return it == d->end() ? none : it->second;
}

bool Value::operator==(const Value& other) const { return v_ == other.v_; }

std::optional<Value> Value::fromPlistBytes(const std::string& bytes, std::string* error) {
    if (bytes.empty()) {
        fail(error, "not a property list (empty)");
        return std::nullopt;
    }
    std::string why;
    if (!plist_guard::withinBounds(bytes, &why)) {
        fail(error, "not a usable property list (" + why + ")");
        return std::nullopt;
    }
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    PlistNode owner(root);
    if (!root) {
        fail(error, plist_guard::looksBinary(bytes) ? "not a property list (damaged binary list)"
                                                    : "not a property list (not well-formed XML list)");
        return std::nullopt;
    }
    return fromNode(root, 1, error);
}

std::optional<Value> Value::readPlistFile(const std::filesystem::path& file, std::string* error) {
    auto bytes = readWholeFile(file, plist_guard::MaxBytes, error);
    if (!bytes) return std::nullopt;
    std::string why;
    auto value = fromPlistBytes(*bytes, &why);
    if (!value) fail(error, file.string() + ": " + why);
    return value;
}

std::string Value::toXmlPlist() const {
    PlistNode root(toNode(*this, 1));
    if (!root) return {};
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    std::string out(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    return out;
}

bool Value::writePlistFile(const std::filesystem::path& file, std::string* error) const {
    const std::string xml = toXmlPlist();
    if (xml.empty()) return fail(error, "no property-list form (empty value or nested too deeply)");
    return writeFileAtomically(file, xml, error);
}

std::string Value::description() const {
    if (const std::string* s = string()) return *s;
    std::string out;
    describe(*this, 0, out);
    return out;
}

} // namespace platform

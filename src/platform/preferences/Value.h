#pragma once
// One property-list value: the currency of the preference store, of plist
// files and of notification payloads.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace platform {

class Value {
public:
    enum class Type { None, String, Integer, Real, Boolean, Date, Data, Array, Dictionary };
    using Date = std::chrono::system_clock::time_point;
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<Value>;
    using Dictionary = std::map<std::string, Value>;

    Value() = default;
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(std::int64_t i) : v_(i) {}
    Value(double d) : v_(d) {}
    Value(bool b) : v_(b) {}
    Value(Date d) : v_(d) {}
    Value(Data d) : v_(std::move(d)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Dictionary d) : v_(std::move(d)) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNone() const { return type() == Type::None; }
    bool isString() const { return type() == Type::String; }
    bool isNumber() const { return type() == Type::Integer || type() == Type::Real || type() == Type::Boolean; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isArray() const { return type() == Type::Array; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }

    // Exact accessors: nullptr when the value holds another type.
    const std::string* string() const { return std::get_if<std::string>(&v_); }
    const Data* data() const { return std::get_if<Data>(&v_); }
    const Array* array() const { return std::get_if<Array>(&v_); }
    const Dictionary* dictionary() const { return std::get_if<Dictionary>(&v_); }
    Array* array() { return std::get_if<Array>(&v_); }
    Dictionary* dictionary() { return std::get_if<Dictionary>(&v_); }
    std::optional<Date> date() const;

    // Coercing reads, as the preference store's typed reads see them:
    // numbers and booleans convert into each other; strings "YES"/"true"/a
    // number convert to booleans and numbers; anything else gives NO / 0.
    bool toBool() const;
    std::int64_t toInteger() const;
    double toDouble() const;
    // A string, or the description of a number; nullopt for other types.
    std::optional<std::string> toString() const;

    // Dictionary member, or None.
    const Value& operator[](const std::string& key) const;

    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

    // Property-list encoding. Readers take XML or binary lists and never
    // throw: on failure they return nullopt and say why in *error. Lists
    // nested deeper than 512 levels, expanding to more than a million values
    // or larger than 16 MiB are refused. XML keeps dates to the second (as
    // Foundation's does); strings and keys end at a NUL character; an integer
    // above INT64_MAX reads as its 64-bit two's complement.
    static std::optional<Value> fromPlistBytes(const std::string& bytes, std::string* error = nullptr);
    static std::optional<Value> readPlistFile(const std::filesystem::path& file, std::string* error = nullptr);
    std::string toXmlPlist() const;
    // Writes an XML property list atomically (temporary file, fsync, rename).
    bool writePlistFile(const std::filesystem::path& file, std::string* error = nullptr) const;

    // Human-readable form for log lines.
    std::string description() const;

private:
    std::variant<std::monostate, std::string, std::int64_t, double, bool, Date, Data, Array, Dictionary> v_;
};

} // namespace platform

#pragma once
// One property list with a member of every type, as Python's plistlib writes
// it in XML and in binary form, and the value both must read as. Written by
// another implementation than libplist, so the reader is not only checked
// against its own writer.

#include "platform/preferences/Value.h"

#include <chrono>
#include <string>

namespace plist_samples {

inline const std::string& xml() {
    static const std::string text = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>array</key>
	<array>
		<string>a</string>
		<integer>1</integer>
		<array/>
		<dict/>
	</array>
	<key>big</key>
	<integer>9007199254740993</integer>
	<key>data</key>
	<data>
	AAH+/w==
	</data>
	<key>date</key>
	<date>2024-02-29T13:45:30Z</date>
	<key>dict</key>
	<dict>
		<key>nested</key>
		<dict>
			<key>deep</key>
			<array>
				<string>x</string>
			</array>
		</dict>
	</dict>
	<key>empty</key>
	<string></string>
	<key>integer</key>
	<integer>42</integer>
	<key>negative</key>
	<integer>-7</integer>
	<key>no</key>
	<false/>
	<key>real</key>
	<real>3.25</real>
	<key>string</key>
	<string>Grüße &lt;&amp;&gt; "quoted"</string>
	<key>yes</key>
	<true/>
</dict>
</plist>
)";
    return text;
}

inline const std::string& binary() {
    static const std::string bytes(
        "\x62\x70\x6c\x69\x73\x74\x30\x30\xdc\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x12\x13"
        "\x14\x15\x1b\x1c\x1d\x1e\x1f\x20\x21\x55\x61\x72\x72\x61\x79\x53\x62\x69\x67\x54\x64\x61\x74\x61"
        "\x54\x64\x61\x74\x65\x54\x64\x69\x63\x74\x55\x65\x6d\x70\x74\x79\x57\x69\x6e\x74\x65\x67\x65\x72"
        "\x58\x6e\x65\x67\x61\x74\x69\x76\x65\x52\x6e\x6f\x54\x72\x65\x61\x6c\x56\x73\x74\x72\x69\x6e\x67"
        "\x53\x79\x65\x73\xa4\x0e\x0f\x10\x11\x51\x61\x10\x01\xa0\xd0\x13\x00\x20\x00\x00\x00\x00\x00\x01"
        "\x44\x00\x01\xfe\xff\x33\x41\xc5\xc8\x60\xfd\x00\x00\x00\xd1\x16\x17\x56\x6e\x65\x73\x74\x65\x64"
        "\xd1\x18\x19\x54\x64\x65\x65\x70\xa1\x1a\x51\x78\x50\x10\x2a\x13\xff\xff\xff\xff\xff\xff\xff\xf9"
        "\x08\x23\x40\x0a\x00\x00\x00\x00\x00\x00\x6f\x10\x12\x00\x47\x00\x72\x00\xfc\x00\xdf\x00\x65\x00"
        "\x20\x00\x3c\x00\x26\x00\x3e\x00\x20\x00\x22\x00\x71\x00\x75\x00\x6f\x00\x74\x00\x65\x00\x64\x00"
        "\x22\x09\x08\x21\x27\x2b\x30\x35\x3a\x40\x48\x51\x54\x59\x60\x64\x69\x6b\x6d\x6e\x6f\x78\x7d\x86"
        "\x89\x90\x93\x98\x9a\x9c\x9d\x9f\xa8\xa9\xb2\xd9\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00"
        "\x00\x00\x00\x22\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xda",
        284);
    return bytes;
}

inline platform::Value::Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
    using namespace std::chrono;
    return sys_days(year(y) / month(mo) / day(d)) + hours(h) + minutes(mi) + seconds(s);
}

inline platform::Value expected() {
    using platform::Value;
    return Value(Value::Dictionary{
        {"array", Value(Value::Array{"a", 1, Value(Value::Array{}), Value(Value::Dictionary{})})},
        {"big", Value(std::int64_t{9007199254740993})},
        {"data", Value(Value::Data{0x00, 0x01, 0xfe, 0xff})},
        {"date", Value(utc(2024, 2, 29, 13, 45, 30))},
        {"dict", Value(Value::Dictionary{
                     {"nested", Value(Value::Dictionary{{"deep", Value(Value::Array{"x"})}})}})},
        {"empty", ""},
        {"integer", 42},
        {"negative", -7},
        {"no", false},
        {"real", 3.25},
        {"string", "Grüße <&> \"quoted\""},
        {"yes", true},
    });
}

} // namespace plist_samples

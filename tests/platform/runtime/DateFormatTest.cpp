#include "platform/runtime/DateFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using platform::Date;
using platform::DateFormat;

namespace {

// Runs the test body in a fixed time zone and restores the previous one.
class DateFormatTest : public ::testing::Test {
protected:
    void useZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }
    void TearDown() override {
        if (saved_) setenv("TZ", saved_->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    void SetUp() override {
        if (const char* tz = getenv("TZ")) saved_ = tz;
    }
    std::optional<std::string> saved_;
};

Date at(std::time_t unixSeconds, int millis = 0) {
    return Date(std::chrono::seconds(unixSeconds)) + std::chrono::milliseconds(millis);
}

} // namespace

TEST_F(DateFormatTest, FieldsInLocalZone) {
    useZone("Europe/Berlin");
    Date d = at(1765138505, 42); // 2025-12-07 20:15:05.042 UTC
    EXPECT_EQ(DateFormat::format(d, "yyyy-MM-dd"), "2025-12-07");
    EXPECT_EQ(DateFormat::format(d, "yyyy-MM-dd HH:mm:ss.SSS"), "2025-12-07 21:15:05.042");
    EXPECT_EQ(DateFormat::format(d, "HH"), "21");
    EXPECT_EQ(DateFormat::format(d, "mm"), "15");
    EXPECT_EQ(DateFormat::format(d, "Z"), "+0100");
    EXPECT_EQ(DateFormat::iso8601(d), "2025-12-07T21:15:05+0100");
    EXPECT_EQ(DateFormat::localHour(d), 21);
    EXPECT_EQ(DateFormat::localMinute(d), 15);
}

TEST_F(DateFormatTest, NegativeOffsetAndSummerTime) {
    useZone("America/New_York");
    Date d = at(1751400000); // 2025-07-01 20:00:00 UTC, EDT
    EXPECT_EQ(DateFormat::format(d, "yyyy-MM-dd HH:mm Z"), "2025-07-01 16:00 -0400");
}

TEST_F(DateFormatTest, QuotedTextAndPunctuationStandAsWritten) {
    useZone("UTC");
    Date d = at(0);
    EXPECT_EQ(DateFormat::format(d, "'day' dd 'o''clock' ''"), "day 01 o'clock '");
    EXPECT_EQ(DateFormat::format(d, "yyyy/MM/dd_HH-mm"), "1970/01/01_00-00");
}

TEST_F(DateFormatTest, MillisecondsBeforeEpochRoundDown) {
    useZone("UTC");
    EXPECT_EQ(DateFormat::format(at(0, -1), "yyyy-MM-dd HH:mm:ss.SSS"), "1969-12-31 23:59:59.999");
}

TEST_F(DateFormatTest, DescriptionNamesDateAndTime) {
    useZone("UTC");
    std::string s = DateFormat::describe(at(1765138505));
    EXPECT_NE(s.find("2025"), std::string::npos) << s;
    EXPECT_NE(s.find("20:15:05"), std::string::npos) << s;
}

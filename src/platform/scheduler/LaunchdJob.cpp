#include "platform/scheduler/LaunchdJob.h"

#include "platform/runtime/Log.h"
#include "platform/scheduler/StepFailure.h"

#include <algorithm>
#include <cstdio>

namespace fs = std::filesystem;

namespace platform {
namespace {

// Room for the suffixes of the files named after the label within a file
// name's 255 bytes.
constexpr std::size_t kMaxLabelBytes = 200;

std::optional<Value> readDescription(const fs::path& file, std::string* error) {
    std::string why;
    auto value = Value::readPlistFile(file, &why);
    if (!value) return refuse<Value>(error, "cannot read the job description " + file.string() + ": " + why);
    if (!value->isDictionary())
        return refuse<Value>(error, "the job description " + file.string() + " is not a dictionary");
    return value;
}

std::optional<std::string> labelOf(const Value& description, std::string* error) {
    const std::string* label = description["Label"].string();
    if (!label) return refuse<std::string>(error, "the job description has no Label string");
    if (std::string why = LaunchdJob::whyUnsafeLabel(*label); !why.empty())
        return refuse<std::string>(error, "Label " + why);
    return *label;
}

std::optional<std::vector<std::string>> programArgumentsOf(const Value& description, std::string* error) {
    using Arguments = std::vector<std::string>;
    const Value::Array* items = description["ProgramArguments"].array();
    if (!items || items->empty()) return refuse<Arguments>(error, "the job description has no ProgramArguments");
    Arguments arguments;
    for (const Value& item : *items) {
        if (!item.isString())
            return refuse<Arguments>(error, "ProgramArguments item " + std::to_string(arguments.size()) +
                                              " is not a string but " + item.description());
        arguments.push_back(*item.string());
    }
    if (arguments.front().empty()) return refuse<Arguments>(error, "ProgramArguments names an empty program");
    return arguments;
}

// Integers only: a launchd that reads 7.5 or "7" as an hour does not exist.
std::optional<int> calendarField(const Value& interval, const std::string& key, int max, std::string* error) {
    const Value& v = interval[key];
    if (v.type() != Value::Type::Integer) return refuse<int>(error, "StartCalendarInterval has no integer " + key);
    const std::int64_t n = v.toInteger();
    if (n < 0 || n > max)
        return refuse<int>(error, "StartCalendarInterval " + key + " " + std::to_string(n) + " is outside 0-" +
                                    std::to_string(max));
    return static_cast<int>(n);
}

// A daily time is all the application asks for; say so rather than run at
// another time than a richer interval meant.
void logIgnoredCalendarKeys(const std::string& label, const Value::Dictionary& interval) {
    for (const auto& [key, value] : interval)
        if (key != "Hour" && key != "Minute")
            logf("%s: StartCalendarInterval key %s is not supported and ignored: the job runs daily", label.c_str(),
                 key.c_str());
}

} // namespace

std::optional<LaunchdJob> LaunchdJob::fromFile(const fs::path& file, std::string* error) {
    auto description = readDescription(file, error);
    if (!description) return std::nullopt;
    return fromValue(*description, error);
}

std::optional<LaunchdJob> LaunchdJob::fromValue(const Value& description, std::string* error) {
    if (!description.isDictionary()) return refuse<LaunchdJob>(error, "the job description is not a dictionary");
    LaunchdJob job;
    auto label = labelOf(description, error);
    if (!label) return std::nullopt;
    job.label = *label;
    auto arguments = programArgumentsOf(description, error);
    if (!arguments) return std::nullopt;
    job.programArguments = std::move(*arguments);

    const Value& interval = description["StartCalendarInterval"];
    if (!interval.isDictionary())
        return refuse<LaunchdJob>(error, "the job description has no StartCalendarInterval dictionary");
    auto hour = calendarField(interval, "Hour", 23, error);
    if (!hour) return std::nullopt;
    auto minute = calendarField(interval, "Minute", 59, error);
    if (!minute) return std::nullopt;
    job.hour = *hour;
    job.minute = *minute;
    logIgnoredCalendarKeys(job.label, *interval.dictionary());
    return job;
}

std::optional<std::string> LaunchdJob::labelOfFile(const fs::path& file, std::string* error) {
    auto description = readDescription(file, error);
    if (!description) return std::nullopt;
    return labelOf(*description, error);
}

std::string LaunchdJob::whyUnsafeLabel(const std::string& label) {
    if (label.empty()) return "is empty";
    if (label.size() > kMaxLabelBytes) return "is longer than " + std::to_string(kMaxLabelBytes) + " bytes";
    const std::string quoted = "\"" + label + "\"";
    if (label.find('/') != std::string::npos) return quoted + " contains \"/\"";
    if (label.front() == '.') return quoted + " starts with \".\"";
    auto control = [](unsigned char c) { return c < 0x20 || c == 0x7f; };
    if (std::any_of(label.begin(), label.end(), control)) return "contains control characters";
    return {};
}

std::string LaunchdJob::timeOfDay() const {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    return text;
}

} // namespace platform

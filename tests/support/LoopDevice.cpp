#include "support/LoopDevice.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

std::string quoted(const fs::path& p) {
    std::string q = "'";
    for (char c : p.string()) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

bool LoopDevice::makeExt4Image(const fs::path& image, int megabytes, std::string* why) {
    return makeImage(image, megabytes, "ext4 -q -F", why);
}

bool LoopDevice::makeImage(const fs::path& image, int megabytes, const std::string& mkfs, std::string* why) {
    std::error_code ec;
    std::ofstream(image, std::ios::binary).close();
    fs::resize_file(image, static_cast<std::uintmax_t>(megabytes) * 1024 * 1024, ec);
    const std::string command = "mkfs." + mkfs + " " + quoted(image) + " >/dev/null 2>&1";
    if (ec || std::system(command.c_str()) != 0) {
        if (why) *why = "could not make an image with mkfs." + mkfs;
        return false;
    }
    return true;
}

std::unique_ptr<LoopDevice> LoopDevice::attach(const fs::path& image, std::string* why) {
    const std::string command = "losetup --find --show " + quoted(image) + " 2>/dev/null";
    std::FILE* out = popen(command.c_str(), "r");
    char line[256] = {};
    const bool read = out && std::fgets(line, sizeof(line), out);
    const int status = out ? pclose(out) : -1;
    std::string device = read ? line : "";
    while (!device.empty() && (device.back() == '\n' || device.back() == ' ')) device.pop_back();
    if (status != 0 || device.empty()) {
        if (why) *why = "no loop device could be attached (losetup)";
        return nullptr;
    }
    return std::unique_ptr<LoopDevice>(new LoopDevice(device));
}

LoopDevice::~LoopDevice() {
    const std::string command = "losetup -d " + quoted(device_) + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not detach %s\n", device_.c_str());
}

} // namespace testing_support

#pragma once
// An image file attached to a free loop device, so a test can mount a real
// block file system, and mount it again through another device.

#include <filesystem>
#include <memory>
#include <string>

namespace testing_support {

// The device is detached again when the object ends.
class LoopDevice {
public:
    // An ext4 image of the given size, made with mkfs.ext4.
    static bool makeExt4Image(const std::filesystem::path& image, int megabytes, std::string* why);
    // An image made by mkfs.<mkfs> ("vfat", or a type with its options).
    static bool makeImage(const std::filesystem::path& image, int megabytes, const std::string& mkfs, std::string* why);
    static std::unique_ptr<LoopDevice> attach(const std::filesystem::path& image, std::string* why);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    const std::filesystem::path& path() const { return device_; }

private:
    explicit LoopDevice(std::filesystem::path device) : device_(std::move(device)) {}
    std::filesystem::path device_;
};

} // namespace testing_support

#include "watch/SlotStream.h"

#include "core/Settings.h"
#include "platform/runtime/Log.h"
#include "watch/watcher.h"

#include <thread>
#include <utility>

using platform::logf;

void SlotStream::start(std::int16_t index, const ParamDictionary& param, std::shared_ptr<watcher::StreamOwner> owner) {
    const Settings::Folder folder = Settings::folder(param);
    if (!folder.enable.toBool()) {
        logf("WatcherNSObject => setupWatcher...NOT Enabled...");
        return;
    }
    if (!folder.path || !folder.valid) {
        if (!folder.path) logf("WatcherNSObject => setupWatcher...pathToWatch is NIL");
        if (!folder.valid) logf("WatcherNSObject => setupWatcher...isValidPath is FALSE");
        return;
    }
    const auto& path = folder.path;
    const std::string pathKey = CommonHeader::param(param, sPrefCameraFolderPathKey);

    starting_ = std::make_shared<platform::StreamCancel>();
    platform::UserInfo setup{{"pathToWatch", *path},
                             {kUserInfoWatchPath, pathKey},
                             {kUserInfoIndex, static_cast<std::int32_t>(index)},
                             {"cancel", starting_}};
    logf("WatcherNSObject => setupWatcher...pathToWatch = %s, watchPath = %s, index = %d", path->c_str(),
         pathKey.c_str(), index);
    std::thread([owner = std::move(owner), setup] { watcher::runStreamThread(setup, *owner); }).detach();
}

bool SlotStream::adopt(const watcher::StreamHandles& handles) {
    if (!handles.start || handles.start != starting_) {
        // This thread must not run on unseen.
        if (handles.runLoop) handles.runLoop->stop();
        return false;
    }
    handles_ = handles;
    return true;
}

bool SlotStream::stop(std::int16_t index) {
    // A stream still adding its watches stops adding them and lets them go.
    const auto starting = std::exchange(starting_, nullptr);
    if (starting) starting->cancel();
    const auto loop = std::exchange(handles_, {}).runLoop;
    if (loop) {
        logf("Trying to Stop myLoop[%i]........", index);
        loop->stop();
    } else {
        logf("Inside WatcherNSObject => unloadWatcher...myRunLoop[%i] is NIL....", index);
    }
    return loop || starting;
}

// The tray icon as a StatusNotifierItem: an object on the session bus that the
// desktop's org.kde.StatusNotifierWatcher lists and its tray draws. A left click
// arrives as Activate, a right click as ContextMenu, both with the pointer's screen
// position. When the watcher goes away (the tray restarts) the item reports it and
// registers again by itself as soon as a watcher is back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>


class SessionBus;

// One size of the icon: rows top-down of 0xAARRGGBB pixels with straight alpha.
struct TrayPixmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> argb;
};

// The themed icon name (may be empty) and the pixmaps the tray uses when its theme
// lacks that name.
struct TrayIconImage {
    std::string name;
    std::vector<TrayPixmap> pixmaps;
};

class TrayItem {
public:
    explicit TrayItem(SessionBus* bus);  // no bus: never registers
    ~TrayItem();
    TrayItem(const TrayItem&) = delete;
    TrayItem& operator=(const TrayItem&) = delete;

    // Publishes the item and asks the watcher to list it. False, without waiting for any
    // peer, when no watcher runs; the item then registers when one appears. Called again,
    // it replaces the icon and tooltip of the listed item.
    bool Register(const TrayIconImage& icon, std::string tooltip);
    // Listed by a present watcher (true from a successful Register until the watcher
    // refuses, does not answer or goes away, or the bus itself is lost).
    bool Registered() const;

    std::function<void(int x, int y)> onActivate;
    std::function<void(int x, int y)> onContextMenu;
    // The item became listed again after the watcher came back (true), or lost its
    // watcher (false).
    std::function<void(bool present)> onWatcherChanged;

    // The pixmaps as the item hands them out: ARGB32 in network byte order; pixmaps of
    // a wrong size or shape are left out.
    struct PixmapBytes {
        int32_t width;
        int32_t height;
        std::vector<uint8_t> bytes;
    };
    static std::vector<PixmapBytes> SerializePixmaps(const std::vector<TrayPixmap>& pixmaps);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

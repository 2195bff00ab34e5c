// Balloons as desktop notifications (org.freedesktop.Notifications). The tray icon has
// one balloon slot, so every balloon replaces the previous one; a click on the current
// balloon (its "default" action) is reported, a dismissal is not.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class SessionBus;

class Notifier {
public:
    explicit Notifier(SessionBus* bus);  // no bus: every balloon is skipped
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Shows a balloon, replacing the last one, under the app name "Quillaven". Titles are
    // cut to 63 characters and texts to 255 (whole characters; invalid UTF-8 becomes
    // U+FFFD). expireMs: -1 the server's default, 0 never, else milliseconds. Never waits
    // for the server; balloons asked for while one is on its way are sent after it, the
    // latest only.
    void Show(std::string title, std::string text, int expireMs);
    // False when no notification server runs or can be started, or it stopped answering
    // (until one appears), and once the bus is gone.
    bool Available() const;

    std::function<void()> onClicked;

    // Valid UTF-8 of at most `maxCharacters` code points, cut at a character boundary.
    static std::string Shorten(std::string_view text, size_t maxCharacters);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

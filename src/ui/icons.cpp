#include "ui/icons.h"

#include <dirent.h>
#include <librsvg/rsvg.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/xdg.h"

namespace {

constexpr int kMaxIconPixels = 1024;      // larger requests draw the vector path
constexpr size_t kMaxCachedIcons = 256;   // rendered masks kept per process

struct IconEntry {
    char16_t codePoint;
    std::vector<const char*> names;
};

const std::vector<IconEntry>& IconTable() {
    static const std::vector<IconEntry> table = {
        {kIconCheckMark, {"object-select-symbolic", "emblem-ok-symbolic"}},
        {kIconError, {"dialog-error-symbolic", "emblem-important-symbolic"}},
        {kIconCancel, {"window-close-symbolic", "process-stop-symbolic"}},
        {kIconImage, {"image-x-generic-symbolic"}},
        {kIconVideo, {"video-x-generic-symbolic"}},
        {kIconAudio, {"audio-x-generic-symbolic"}},
        {kIconDocument, {"x-office-document-symbolic", "text-x-generic-symbolic"}},
        {kIconSettings, {"emblem-system-symbolic", "preferences-system-symbolic"}},
        {kIconFolder, {"folder-open-symbolic"}},
        {kIconRefresh, {"view-refresh-symbolic"}},
        {kIconDelete, {"user-trash-symbolic"}},
        {kIconSpeed, {"power-profile-performance-symbolic"}},
    };
    return table;
}

std::mutex iconMutex;
std::string preferredTheme;
std::map<std::string, std::string> foundFiles;              // name → file ("" when none)
std::map<std::pair<std::string, int>, cairo_surface_t*> masks;  // (file, pixels) → A8 mask

std::vector<std::string> IconRoots() {
    std::vector<std::string> roots = {DataHome() + "/icons"};
    if (const char* home = std::getenv("HOME")) roots.push_back(std::string(home) + "/.icons");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        std::string dir = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!dir.empty() && dir.front() == '/') roots.push_back(dir + "/icons");
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return roots;
}

bool IsFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// <root>/<theme>/<scalable or symbolic>/<context>/<name>.svg, contexts read from the folder.
std::string FindInTheme(const std::string& root, const std::string& theme, const char* name) {
    for (const char* sizeDir : {"scalable", "symbolic"}) {
        std::string base = root + "/" + theme + "/" + sizeDir;
        DIR* dir = ::opendir(base.c_str());
        if (!dir) continue;
        std::string found;
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::string candidate = base + "/" + entry->d_name + "/" + name + ".svg";
            if (IsFile(candidate)) {
                found = candidate;
                break;
            }
        }
        ::closedir(dir);
        if (!found.empty()) return found;
    }
    return {};
}

std::string FindLocked(const char* name) {
    auto cached = foundFiles.find(name);
    if (cached != foundFiles.end()) return cached->second;
    std::string found;
    std::vector<std::string> themes;
    if (!preferredTheme.empty()) themes.push_back(preferredTheme);
    themes.push_back("Adwaita");
    themes.push_back("hicolor");
    for (const std::string& theme : themes) {
        if (theme.find('/') != std::string::npos || theme == "..") continue;
        for (const std::string& root : IconRoots()) {
            found = FindInTheme(root, theme, name);
            if (!found.empty()) break;
        }
        if (!found.empty()) break;
    }
    foundFiles[name] = found;
    return found;
}

// The SVG rendered to an alpha mask of pixels × pixels, cached.
cairo_surface_t* MaskFor(const std::string& file, int pixels) {
    auto key = std::make_pair(file, pixels);
    auto cached = masks.find(key);
    if (cached != masks.end()) return cached->second;
    if (masks.size() >= kMaxCachedIcons) {
        for (auto& [k, surface] : masks)
            if (surface) cairo_surface_destroy(surface);
        masks.clear();
    }
    cairo_surface_t* mask = nullptr;
    GError* error = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_file(file.c_str(), &error);
    if (handle) {
        mask = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixels, pixels);
        cairo_t* cr = cairo_create(mask);
        RsvgRectangle viewport{0, 0, static_cast<double>(pixels), static_cast<double>(pixels)};
        if (!rsvg_handle_render_document(handle, cr, &viewport, &error)) {
            cairo_destroy(cr);
            cairo_surface_destroy(mask);
            mask = nullptr;
        } else {
            cairo_destroy(cr);
            cairo_surface_flush(mask);
        }
        g_object_unref(handle);
    }
    if (error) g_error_free(error);
    masks[key] = mask;
    return mask;
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
}

}  // namespace

const std::vector<const char*>& IconNamesFor(char16_t codePoint) {
    static const std::vector<const char*> none;
    for (const IconEntry& entry : IconTable())
        if (entry.codePoint == codePoint) return entry.names;
    return none;
}

void SetIconThemeName(std::string name) {
    std::lock_guard lock(iconMutex);
    if (name == preferredTheme) return;
    preferredTheme = std::move(name);
    foundFiles.clear();
}

std::string FindThemedIcon(const char* name) {
    std::lock_guard lock(iconMutex);
    return FindLocked(name);
}

void DrawIcon(cairo_t* cr, char16_t codePoint, const RectF& box, const Color& color, double opacity) {
    double side = std::min(box.width, box.height);
    if (side <= 0) return;
    // Pixels on screen: the box in user units times the context's scale.
    double sx = 1, sy = 0;
    cairo_user_to_device_distance(cr, &sx, &sy);
    int pixels = static_cast<int>(std::lround(side * std::hypot(sx, sy)));
    cairo_surface_t* mask = nullptr;
    if (pixels >= 1 && pixels <= kMaxIconPixels) {
        std::lock_guard lock(iconMutex);
        for (const char* name : IconNamesFor(codePoint)) {
            std::string file = FindLocked(name);
            if (!file.empty() && (mask = MaskFor(file, pixels))) break;
        }
        if (mask) {
            cairo_save(cr);
            double x = box.x + (box.width - side) / 2, y = box.y + (box.height - side) / 2;
            cairo_translate(cr, x, y);
            cairo_scale(cr, side / pixels, side / pixels);
            SetSource(cr, color, opacity);
            cairo_mask_surface(cr, mask, 0, 0);
            cairo_restore(cr);
            return;
        }
    }
    DrawVectorIcon(cr, codePoint, box, color, opacity);
}

void DrawVectorIcon(cairo_t* cr, char16_t codePoint, const RectF& box, const Color& color, double opacity) {
    double side = std::min(box.width, box.height);
    if (side <= 0) return;
    cairo_save(cr);
    cairo_translate(cr, box.x + (box.width - side) / 2, box.y + (box.height - side) / 2);
    cairo_scale(cr, side / 16, side / 16);  // paths are drawn on a 16-unit grid
    SetSource(cr, color, opacity);
    cairo_set_line_width(cr, 1.5);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    switch (codePoint) {
        case kIconCheckMark:
            cairo_move_to(cr, 2.5, 8.5);
            cairo_line_to(cr, 6, 12);
            cairo_line_to(cr, 13.5, 4);
            cairo_stroke(cr);
            break;
        case kIconCancel:
            Line(cr, 3.5, 3.5, 12.5, 12.5);
            Line(cr, 12.5, 3.5, 3.5, 12.5);
            cairo_stroke(cr);
            break;
        case kIconError:
            cairo_arc(cr, 8, 8, 7, 0, 2 * M_PI);
            cairo_fill(cr);
            cairo_set_source_rgba(cr, 0, 0, 0, 0);
            cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
            cairo_rectangle(cr, 7.1, 3.5, 1.8, 5.5);
            cairo_arc(cr, 8, 11.3, 1.1, 0, 2 * M_PI);
            cairo_fill(cr);
            break;
        case kIconImage:
            RoundedRectPath(cr, RectF{1.5, 2.5, 13, 11}, 1.5);
            cairo_stroke(cr);
            cairo_move_to(cr, 2, 12);
            cairo_line_to(cr, 6, 7.5);
            cairo_line_to(cr, 9, 10.5);
            cairo_line_to(cr, 11, 8.5);
            cairo_line_to(cr, 14, 12);
            cairo_stroke(cr);
            cairo_arc(cr, 11, 5.5, 1.2, 0, 2 * M_PI);
            cairo_fill(cr);
            break;
        case kIconVideo:
            RoundedRectPath(cr, RectF{1.5, 3.5, 9, 9}, 1.5);
            cairo_stroke(cr);
            cairo_move_to(cr, 11, 7);
            cairo_line_to(cr, 14.5, 4.5);
            cairo_line_to(cr, 14.5, 11.5);
            cairo_line_to(cr, 11, 9);
            cairo_close_path(cr);
            cairo_fill(cr);
            break;
        case kIconAudio:
            cairo_move_to(cr, 6, 12);
            cairo_line_to(cr, 6, 3);
            cairo_line_to(cr, 13, 1.8);
            cairo_line_to(cr, 13, 10.5);
            cairo_stroke(cr);
            cairo_arc(cr, 4.3, 12, 1.9, 0, 2 * M_PI);
            cairo_fill(cr);
            cairo_arc(cr, 11.3, 10.5, 1.9, 0, 2 * M_PI);
            cairo_fill(cr);
            break;
        default:  // a page with a folded corner: documents and anything without a path of its own
            cairo_move_to(cr, 3, 1.5);
            cairo_line_to(cr, 9.5, 1.5);
            cairo_line_to(cr, 13, 5);
            cairo_line_to(cr, 13, 14.5);
            cairo_line_to(cr, 3, 14.5);
            cairo_close_path(cr);
            cairo_stroke(cr);
            cairo_move_to(cr, 9.5, 1.5);
            cairo_line_to(cr, 9.5, 5);
            cairo_line_to(cr, 13, 5);
            cairo_stroke(cr);
            break;
    }
    cairo_restore(cr);
}

std::vector<uint32_t> AppIconPixels(int size, const Color& accent) {
    std::vector<uint32_t> pixels;
    if (size < 1 || size > kMaxIconPixels) return pixels;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, size / 32.0, size / 32.0);
    // A rounded tile in the accent with two arrows turning into each other: convert.
    FillRoundedRect(cr, RectF{1, 1, 30, 30}, 7, accent);
    cairo_set_source_rgba(cr, 1, 1, 1, 1);
    cairo_set_line_width(cr, 3);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_arc(cr, 16, 16, 8, M_PI * 1.05, M_PI * 1.85);
    cairo_stroke(cr);
    cairo_arc(cr, 16, 16, 8, M_PI * 0.05, M_PI * 0.85);
    cairo_stroke(cr);
    for (double angle : {M_PI * 1.85, M_PI * 0.85}) {
        double x = 16 + 8 * std::cos(angle), y = 16 + 8 * std::sin(angle);
        double tx = -std::sin(angle), ty = std::cos(angle);  // direction of travel
        double nx = std::cos(angle), ny = std::sin(angle);
        cairo_move_to(cr, x + 4 * tx, y + 4 * ty);
        cairo_line_to(cr, x + 3.5 * nx, y + 3.5 * ny);
        cairo_line_to(cr, x - 3.5 * nx, y - 3.5 * ny);
        cairo_close_path(cr);
        cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    pixels.reserve(static_cast<size_t>(size) * static_cast<size_t>(size));
    for (int y = 0; y < size; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * static_cast<size_t>(stride));
        for (int x = 0; x < size; ++x) {
            uint32_t p = row[x];
            uint32_t a = p >> 24;
            if (a == 0) {
                pixels.push_back(0);
                continue;
            }
            auto channel = [&](int shift) { return std::min<uint32_t>(255, (((p >> shift) & 0xFF) * 255 + a / 2) / a); };
            pixels.push_back(a << 24 | channel(16) << 16 | channel(8) << 8 | channel(0));
        }
    }
    cairo_surface_destroy(surface);
    return pixels;
}

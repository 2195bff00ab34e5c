// "Show in folder": the desktop's file manager opens the folder of a file with the
// file selected (org.freedesktop.FileManager1 ShowItems); without one, the folder is
// opened with xdg-open.
#pragma once

#include <string>
#include <string_view>

class SessionBus;

// Never waits for the file manager. `bus` may be null.
void ShowInFolder(SessionBus* bus, const std::string& path);

// "file://" and the absolute path, every byte but letters, digits, "-._~/" percent-encoded.
std::string FileUri(std::string_view path);

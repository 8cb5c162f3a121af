#pragma once

#include <memory>
#include <string>
#include <vector>

class QGuiApplication;

namespace plumora {

// Whether a command-line argument names a WMF or EMF file (by its extension,
// as the readers choose their format).
bool namesMetafile(const std::string& argument);

// The text of a metafile is drawn with Qt's fonts, which need a GUI
// application; without one the metafile player leaves text out. While it
// lives, this keeps one on the offscreen platform when some argument names a
// metafile (and only then: other files start as quickly as ever). The
// offscreen platform needs no display, and is chosen whatever QT_QPA_PLATFORM
// says: plumora-cli shows no window, and a session's platform (wayland, xcb)
// may not be reachable where it runs. Made on the main thread, before any
// file is read; workers may then draw text on their own pictures.
class MetafileText {
public:
    explicit MetafileText(const std::vector<std::string>& arguments);
    ~MetafileText();
    MetafileText(const MetafileText&) = delete;
    MetafileText& operator=(const MetafileText&) = delete;

    bool fontsAvailable() const { return m_application != nullptr; }

private:
    std::unique_ptr<QGuiApplication> m_application;
};

}  // namespace plumora

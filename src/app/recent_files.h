#pragma once

#include <QObject>
#include <QVariantList>

#include <functional>
#include <string>
#include <vector>

class QMenu;

namespace plumora {

// File > "Open Recent": the pictures opened or saved last, newest first,
// at most kMaxFiles, each an item numbered 1 to 10 by its place. Names are
// kept in the file system's own bytes, so a name that is not UTF-8 still
// names its file.
class RecentFiles : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxFiles = 10;

    // The submenu "Open Recent" (object name "OpenRecent1"); choosing an
    // item calls open with its file.
    RecentFiles(QMenu* menu, std::function<void(const std::string&)> open, QObject* parent);

    QMenu* menu() const { return m_menu; }
    const std::vector<std::string>& files() const { return m_files; }

    // The file goes to the top, once.
    void add(const std::string& file);
    void remove(const std::string& file);

    // The list as the settings keep it, and back; a list from elsewhere is
    // taken only as far as it holds names, at most kMaxFiles.
    QVariantList toSettings() const;
    void fromSettings(const QVariantList& list);

signals:
    // After add or remove changed the list.
    void changed();

private:
    void rebuild();

    QMenu* m_menu;
    std::function<void(const std::string&)> m_open;
    std::vector<std::string> m_files;
};

}  // namespace plumora

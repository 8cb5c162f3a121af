#include "app/recent_files.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>

#include <algorithm>

namespace plumora {

RecentFiles::RecentFiles(QMenu* menu, std::function<void(const std::string&)> open, QObject* parent)
    : QObject(parent), m_menu(menu), m_open(std::move(open))
{
    m_menu->setObjectName(QStringLiteral("OpenRecent1"));
    rebuild();
}

void RecentFiles::add(const std::string& file)
{
    std::erase(m_files, file);
    m_files.insert(m_files.begin(), file);
    if (m_files.size() > std::size_t(kMaxFiles))
        m_files.resize(std::size_t(kMaxFiles));
    rebuild();
    emit changed();
}

void RecentFiles::remove(const std::string& file)
{
    if (std::erase(m_files, file) == 0)
        return;
    rebuild();
    emit changed();
}

QVariantList RecentFiles::toSettings() const
{
    QVariantList list;
    for (const std::string& file : m_files)
        list << QByteArray::fromStdString(file);
    return list;
}

void RecentFiles::fromSettings(const QVariantList& list)
{
    m_files.clear();
    for (const QVariant& v : list) {
        const QByteArray name = v.toByteArray();
        if (!name.isEmpty() && m_files.size() < std::size_t(kMaxFiles) &&
            std::find(m_files.begin(), m_files.end(), name.toStdString()) == m_files.end())
            m_files.push_back(name.toStdString());
    }
    rebuild();
}

void RecentFiles::rebuild()
{
    // The item chosen may be the one that asks for this (its file gone):
    // it goes once its signal has returned.
    for (QAction* item : m_menu->actions()) {
        m_menu->removeAction(item);
        item->deleteLater();
    }
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        const std::string file = m_files[i];
        // "&1" to "&9", then "1&0": the number is the item's letter.
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        const QString shown = QDir::toNativeSeparators(QFile::decodeName(file.c_str()));
        QAction* item = m_menu->addAction(number + u' ' + QString(shown).replace(u'&', QStringLiteral("&&")));
        item->setObjectName(QStringLiteral("Recent%1").arg(i + 1));
        connect(item, &QAction::triggered, this, [this, file] { m_open(file); });
    }
    // Nothing to choose: the submenu shows greyed.
    m_menu->menuAction()->setEnabled(!m_files.empty());
}

}  // namespace plumora

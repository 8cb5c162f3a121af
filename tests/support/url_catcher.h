#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace plumora::test {

// Stands in for the desktop's handler of addresses and files
// (QDesktopServices::setUrlHandler): keeps what it is asked to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace plumora::test

#pragma once

#include <QWidget>

namespace plumora {

// "About Plumora": the product's name and version, modeless, on top.
class TAboutus : public QWidget {
    Q_OBJECT
public:
    explicit TAboutus(QWidget* mainWindow);
};

}  // namespace plumora

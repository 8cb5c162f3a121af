#pragma once

#include <QWidget>

namespace plumora {

// "About Plumora": the product's name and version, modeless, on top.
class AboutBox : public QWidget {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* mainWindow);
};

}  // namespace plumora

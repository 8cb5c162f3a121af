#pragma once

#include <QWidget>

namespace plumora {

// A window that a later version of the program fills in (freehand
// colouring, image size): it exists from start-up with its name, caption
// and size so that the rest of the program can already show and hide it.
class PendingWindow : public QWidget {
    Q_OBJECT
public:
    PendingWindow(QWidget* mainWindow, const char* className, const char* caption, int width, int height);
};

}  // namespace plumora

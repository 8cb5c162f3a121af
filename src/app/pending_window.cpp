#include "app/pending_window.h"

#include "app/effect_windows/effect_dialog.h"

#include <QLabel>
#include <QVBoxLayout>

namespace plumora {

PendingWindow::PendingWindow(QWidget* mainWindow, const char* className, const char* caption, int width, int height)
    : QWidget(mainWindow, toolWindowFlags())
{
    setObjectName(QString::fromLatin1(className));
    setWindowTitle(QString::fromUtf8(caption));
    resize(width, height);
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(tr("This window is not available yet."), this);
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
}

}  // namespace plumora

#include "app/about_dialog.h"

#include "app/effect_windows/effect_dialog.h"
#include "app/product.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace plumora {

AboutBox::AboutBox(QWidget* mainWindow) : QWidget(mainWindow, toolWindowFlags())
{
    setObjectName(QStringLiteral("TAboutus"));
    setWindowTitle(QStringLiteral("About Plumora"));

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(64, 64));
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("Label1"));
    text->setText(
        QStringLiteral("<h2>%1</h2><p>Version %2</p><p>Turns your photographs into drawings and paintings.</p>")
            .arg(QString::fromLatin1(product::kName), QString::fromLatin1(product::kVersion)));
    text->setTextFormat(Qt::RichText);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    ok->setDefault(true);
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(ok, 0, Qt::AlignRight);
    setFixedSize(sizeHint().expandedTo(QSize(300, 150)));
}

}  // namespace plumora

#include "app/messages.h"

#include "app/product.h"
#include "raster/parallel.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <exception>
#include <new>

namespace plumora {

namespace {

std::function<void(const ShownMessage&)>& sink()
{
    static std::function<void(const ShownMessage&)> s;
    return s;
}

}  // namespace

void setMessageSink(std::function<void(const ShownMessage&)> s)
{
    sink() = std::move(s);
}

namespace {

std::function<bool(const ShownMessage&)>& answerer()
{
    static std::function<bool(const ShownMessage&)> a;
    return a;
}

}  // namespace

void setQuestionAnswerer(std::function<bool(const ShownMessage&)> answer)
{
    answerer() = std::move(answer);
}

namespace {

std::function<SaveAnswer(const ShownMessage&)>& saveAnswerer()
{
    static std::function<SaveAnswer(const ShownMessage&)> a;
    return a;
}

}  // namespace

void setSaveQuestionAnswerer(std::function<SaveAnswer(const ShownMessage&)> answer)
{
    saveAnswerer() = std::move(answer);
}

Qt::WindowFlags dialogWindowFlags()
{
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

QPointer<QWidget>& programWindow()
{
    static QPointer<QWidget> window;
    return window;
}

void setProgramWindow(QWidget* window)
{
    programWindow() = window;
}

void showMessage(QWidget* owner, const QString& caption, const QString& text)
{
    if (sink()) {
        sink()({owner, caption, text});
        return;
    }
    // A box with no owner of its own still opens over the program's window,
    // not wherever the desktop puts a new window.
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner ? owner : programWindow().data(),
                    dialogWindowFlags());
    // A name or an address in a message can be copied from it.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
}

bool askYesNo(QWidget* owner, const QString& caption, const QString& text)
{
    if (answerer())
        return answerer()({owner, caption, text});
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                    owner ? owner : programWindow().data(), dialogWindowFlags());
    box.setDefaultButton(QMessageBox::No);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    return box.exec() == QMessageBox::Yes;
}

SaveAnswer askToSaveChanges(QWidget* owner, const QString& text)
{
    const QString caption = QString::fromLatin1(product::kName);
    if (saveAnswerer())
        return saveAnswerer()({owner, caption, text});
    QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                    owner ? owner : programWindow().data(), dialogWindowFlags());
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return SaveAnswer::Save;
    case QMessageBox::Discard:
        return SaveAnswer::Discard;
    default:
        return SaveAnswer::Cancel;
    }
}

void placeOver(QWidget* window, const QWidget* over)
{
    if (!window || !over)
        return;
    const QRect frame = over->frameGeometry();
    const QSize size = window->frameGeometry().size();
    window->move(frame.center() - QPoint(size.width() / 2, size.height() / 2));
}

void reportError(const QString& message)
{
    // As the default handler of a desktop application does: the program's
    // name as caption, the error's message as text.
    showMessage(QApplication::activeWindow(), QString::fromLatin1(product::kName), message);
}

void runGuarded(const std::function<void()>& command)
{
    try {
        command();
    } catch (const Cancelled&) {
        // The user's own doing, told in the status line by the long-work
        // runner: no box.
    } catch (const std::bad_alloc&) {
        reportError(QStringLiteral("Out of memory."));
    } catch (const std::exception& e) {
        reportError(QString::fromUtf8(e.what()));
    }
}

}  // namespace plumora

#pragma once

#include <QString>
#include <Qt>

#include <functional>

class QWidget;

namespace plumora {

// Every message box of the program goes through here, so that tests can
// read what would have been shown instead of blocking on a modal box.
struct ShownMessage {
    QWidget* owner = nullptr;  // nullptr: a box with no owner
    QString caption;
    QString text;
};

// Shows a message box with one OK button and waits for it. A box with no
// owner opens over the program's window.
void showMessage(QWidget* owner, const QString& caption, const QString& text);
void setProgramWindow(QWidget* window);

// Asks a question with "Yes" and "No" ("No" the default) and waits for the
// answer; tests answer through setQuestionAnswerer instead.
bool askYesNo(QWidget* owner, const QString& caption, const QString& text);
void setQuestionAnswerer(std::function<bool(const ShownMessage&)> answer);

// Asks whether to save the changes to a picture before it is set aside,
// with "Save", "Discard" and "Cancel" ("Save" the default, Esc "Cancel");
// tests answer through setSaveQuestionAnswerer instead.
enum class SaveAnswer { Save, Discard, Cancel };
SaveAnswer askToSaveChanges(QWidget* owner, const QString& text);
void setSaveQuestionAnswerer(std::function<SaveAnswer(const ShownMessage&)> answer);

// Every box the program shows is a dialog of its owner with a close box
// only: a window manager offers no minimise or maximise for it (minimising
// a box of a window that owns it would take that window along).
Qt::WindowFlags dialogWindowFlags();

// Moves a window so that it stands centred over another one.
void placeOver(QWidget* window, const QWidget* over);

// Replaces the boxes by a function (tests); an empty function restores them.
void setMessageSink(std::function<void(const ShownMessage&)> sink);

// The application's default error handler: shows the error's own message.
void reportError(const QString& message);

// Runs one command of the user's. An exception that escapes it is reported
// by the default error handler and goes no further, so the program carries
// on with the state the command left, which is the state before it: every
// command computes first and changes the document last.
void runGuarded(const std::function<void()>& command);

// A slot that runs fn guarded, for connecting to Qt signals.
template <class F>
auto guarded(F fn)
{
    return [fn = std::move(fn)](auto&&...) { runGuarded(fn); };
}

}  // namespace plumora

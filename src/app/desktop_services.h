#pragma once

// What the program asks of the user's desktop: the wallpaper and a new mail
// message with the picture attached. Both go through commands the desktop
// provides, found on PATH and chosen at run time, so that every desktop we
// know gets its own way and one without any degrades quietly.

#include "raster/bitmap32.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace plumora {

// The folder the wallpaper and mail files are written to, with a trailing
// separator: the user's data folder for the program (created when missing).
// Never the executable's folder: an installed copy may not write there, and
// where it may (~/.local/bin) pictures do not belong. The wallpaper must stay
// where the desktop was told it is, so it is data, not cache.
QString programFileFolder();

// Stands in for that folder (tests); an empty folder restores the real one.
void setProgramFileFolder(const QString& folder);

// The group of the per-user settings store holding the wallpaper values.
inline constexpr const char* kWallpaperSettingsGroup = "Control Panel/Desktop";

// Runs a piece of work that takes a while and returns when it has ended,
// rethrowing what it threw. The desktop program passes its long-work runner,
// so that its windows keep answering while a big picture is encoded and
// written; without one the work runs in place.
using LongWorkRunner = std::function<void(const std::function<void()>&)>;

// Makes picture the desktop wallpaper: writes it as "wallpaper.bmp" (32-bit)
// in programFileFolder() (through runLong), records "Title Wallpaper" and
// "Wallpaper" in the settings store and asks the running desktop to show the
// file. A file that cannot be written raises FileWriteError before anything
// else happens.
struct WallpaperResult {
    QString file;        // the file's full name
    bool shown = false;  // a desktop's command took it
};
WallpaperResult setAsWallpaper(const TBitmap32& picture, const LongWorkRunner& runLong = {});

// A new mail message as a list of key=value lines turns into.
struct MailRecipient {
    QString name;            // the address as given
    QString address;         // "SMTP:" + the address
    int recipientClass = 1;  // "to"
};

struct MailFile {
    QString pathName;   // the full path as given
    QString fileName;   // what follows the last '/' or '\'
    int position = -1;  // not placed in the text
};

struct MailMessage {
    QString subject;
    QString noteText;
    std::optional<MailRecipient> recipient;
    std::vector<MailFile> files;
};

// Reads a mail request: lines "key=value" with the keys "to", "subject",
// "body" and "attachment0", "attachment1", ... (counted up to the first
// number that is absent). A key that is missing or has an empty value is
// absent; the first line with a key counts.
MailMessage buildMailMessage(const QStringList& request);

// Hands the message of a mail request to the desktop's mail program as a new
// message to complete and send: through xdg-email, or, where that is missing
// or fails, as a "mywork.eml" draft in programFileFolder() opened with the
// program the desktop has for mail files. Returns 0 when one of them took
// it, 1 when none did.
// draft, when given, gets the draft's name if one was written.
int SendMapiMail(const QStringList& request, QString* draft = nullptr);

// The request "Mail to friend" sends: the fixed subject and greeting, and
// pictureFile as the only attachment.
QStringList pictureMailRequest(const QString& pictureFile);

// Writes picture as "mywork.jpg" in programFileFolder() (through runLong)
// and offers it to the mail program. A file that cannot be written raises
// FileWriteError and no mail is started.
struct MailResult {
    bool taken = false;  // a mail program took the message
    QString picture;     // the picture's file
    QString draft;       // the message saved as a draft, when it was
};
MailResult mailPicture(const TBitmap32& picture, const LongWorkRunner& runLong = {});

}  // namespace plumora

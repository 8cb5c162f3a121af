#include "app/desktop_services.h"

#include "app/product.h"
#include "formats/bmp.h"
#include "formats/picture_file.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

#include <algorithm>

namespace plumora {

namespace {

QString g_fileFolder;  // set by tests; empty: the user's data folder

// Wallpaper setters answer at once; a desktop that hangs must not hang us.
constexpr int kCommandTimeoutMs = 10000;
// xdg-email checks what it needs and fails within moments; once it has
// started the mail program it may wait for that program to exit, and then
// we leave it running.
constexpr int kMailCommandWaitMs = 5000;

QString withTrailingSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

std::string localName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

// Only the encoding and writing go to the runner: the settings store and
// the desktop's commands stay on the calling thread, as QProcess wants a
// thread that Qt started.
void inRunner(const LongWorkRunner& runLong, const std::function<void()>& work)
{
    if (runLong)
        runLong(work);
    else
        work();
}

// ---- Commands -------------------------------------------------------------

struct CommandResult {
    bool finished = false;  // it ran to its end (exitCode is valid)
    bool stillRunning = false;
    int exitCode = -1;
    QByteArray output;
};

// Runs an installed command without a shell, its arguments passed as they
// are. A command that is missing or does not start gives a result that is
// neither finished nor running.
CommandResult runCommand(const QString& name, const QStringList& arguments)
{
    CommandResult result;
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return result;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(kCommandTimeoutMs))
        return result;
    if (!process.waitForFinished(kCommandTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.finished = process.exitStatus() == QProcess::NormalExit;
    result.exitCode = process.exitCode();
    result.output = process.readAllStandardOutput();
    return result;
}

// The commands left running (a mail program's compose window), each until it
// ends. Never deleted: deleting a QProcess kills its program, and closing
// Plumora must not close the message the user is writing.
QObject& runningCommands()
{
    static QObject* const running = new QObject;
    return *running;
}

// Like runCommand, but a command still running after the wait is left to run
// on (it is the mail program's compose window by then) instead of killed.
CommandResult startCommand(const QString& name, const QStringList& arguments)
{
    CommandResult result;
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty())
        return result;
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, arguments);
    if (!process->waitForStarted(kCommandTimeoutMs)) {
        delete process;
        return result;
    }
    if (!process->waitForFinished(kMailCommandWaitMs) && process->state() != QProcess::NotRunning) {
        // Deleting a QProcess kills its process, so this one lives until it ends.
        process->setParent(&runningCommands());
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        result.stillRunning = true;
        return result;
    }
    result.finished = process->exitStatus() == QProcess::NormalExit;
    result.exitCode = process->exitCode();
    delete process;
    return result;
}

// ---- Wallpaper ------------------------------------------------------------

enum class Desktop { Gnome, Cinnamon, Mate, Kde, Xfce, Unknown };

Desktop desktopNamed(const QString& name)
{
    const QString n = name.trimmed().toLower();
    // Unity, Budgie and Pantheon draw GNOME's background setting; "ubuntu" is
    // the session name of Ubuntu's GNOME.
    if (n == u"gnome" || n == u"gnome-classic" || n == u"gnome-flashback" || n == u"ubuntu" || n == u"unity" ||
        n == u"budgie" || n == u"budgie-desktop" || n == u"pantheon")
        return Desktop::Gnome;
    if (n == u"x-cinnamon" || n == u"cinnamon")
        return Desktop::Cinnamon;
    if (n == u"mate")
        return Desktop::Mate;
    if (n == u"kde" || n.startsWith(u"plasma"))
        return Desktop::Kde;
    if (n == u"xfce" || n == u"xfce4" || n == u"xubuntu")
        return Desktop::Xfce;
    return Desktop::Unknown;
}

// XDG_CURRENT_DESKTOP lists the desktop and the ones it follows, most
// specific first ("ubuntu:GNOME"); display managers that do not set it still
// set DESKTOP_SESSION (some to the session file's path).
Desktop runningDesktop()
{
    const QStringList current = qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
    for (const QString& name : current) {
        const Desktop desktop = desktopNamed(name);
        if (desktop != Desktop::Unknown)
            return desktop;
    }
    const QString session = qEnvironmentVariable("DESKTOP_SESSION");
    return desktopNamed(session.mid(session.lastIndexOf(u'/') + 1));
}

bool commandExists(const QString& name)
{
    return !QStandardPaths::findExecutable(name).isEmpty();
}

// Every Xfce background is one property per screen, monitor and workspace;
// setting all that exist changes every one of them, as one wallpaper should.
bool succeeded(const CommandResult& result)
{
    return result.finished && result.exitCode == 0;
}

// True when at least one background took the file.
bool setXfceWallpaper(const QString& file)
{
    const QString channel = QStringLiteral("xfce4-desktop");
    const CommandResult listed = runCommand(QStringLiteral("xfconf-query"), {"-c", channel, "-l"});
    if (!succeeded(listed))
        return false;
    static const QRegularExpression kImageProperty(
        QStringLiteral("^/backdrop/screen[^/]*/monitor[^/]*/workspace[^/]*/last-image$"));
    const QStringList lines = QString::fromLocal8Bit(listed.output).split(u'\n', Qt::SkipEmptyParts);
    bool set = false;
    for (const QString& line : lines) {
        const QString property = line.trimmed();
        if (kImageProperty.match(property).hasMatch())
            set = succeeded(runCommand(QStringLiteral("xfconf-query"), {"-c", channel, "-p", property, "-s", file})) ||
                  set;
    }
    return set;
}

// Tells the desktop through the setting it reads its background from. False
// when this desktop's command is not installed or refused the file.
bool tellDesktop(Desktop desktop, const QString& file)
{
    // gsettings takes a text that is not a quoted GVariant as the string itself.
    const QString uri = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
    const QString gsettings = QStringLiteral("gsettings");
    switch (desktop) {
    case Desktop::Gnome:
        if (!commandExists(gsettings))
            return false;
        // Since GNOME 42 the dark style shows its own picture; older versions
        // lack the key and refuse the second command, which does no harm.
        {
            const bool light =
                succeeded(runCommand(gsettings, {"set", "org.gnome.desktop.background", "picture-uri", uri}));
            runCommand(gsettings, {"set", "org.gnome.desktop.background", "picture-uri-dark", uri});
            return light;
        }
    case Desktop::Cinnamon:
        if (!commandExists(gsettings))
            return false;
        return succeeded(runCommand(gsettings, {"set", "org.cinnamon.desktop.background", "picture-uri", uri}));
    case Desktop::Mate:
        if (!commandExists(gsettings))
            return false;
        return succeeded(runCommand(gsettings, {"set", "org.mate.background", "picture-filename", file}));
    case Desktop::Kde:
        if (!commandExists(QStringLiteral("plasma-apply-wallpaperimage")))
            return false;
        return succeeded(runCommand(QStringLiteral("plasma-apply-wallpaperimage"), {file}));
    case Desktop::Xfce:
        if (!commandExists(QStringLiteral("xfconf-query")))
            return false;
        return setXfceWallpaper(file);
    case Desktop::Unknown:
        break;
    }
    return false;
}

// A window manager without a desktop of its own shows the root window's
// background, which these programs set (and restore at the next login
// through their own start-up files).
bool setRootBackground(const QString& file)
{
    if (commandExists(QStringLiteral("feh")))
        return succeeded(runCommand(QStringLiteral("feh"), {"--bg-fill", file}));
    if (commandExists(QStringLiteral("nitrogen")))
        return succeeded(runCommand(QStringLiteral("nitrogen"), {"--set-zoom-fill", file, "--save"}));
    return false;
}

// ---- Mail -----------------------------------------------------------------

const QString kSmtpPrefix = QStringLiteral("SMTP:");

// The value of the first line "key=...", empty when there is none.
QString requestValue(const QStringList& request, QStringView key)
{
    for (const QString& line : request) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals >= 0 && QStringView(line).first(equals) == key)
            return line.mid(equals + 1);
    }
    return {};
}

QString fileNamePart(const QString& path)
{
    const qsizetype separator = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(separator + 1);
}

QString bareAddress(const MailRecipient& recipient)
{
    return recipient.address.mid(kSmtpPrefix.size());
}

bool sendThroughXdgEmail(const MailMessage& message)
{
    QStringList arguments;
    if (!message.subject.isEmpty())
        arguments << QStringLiteral("--subject") << message.subject;
    if (!message.noteText.isEmpty())
        arguments << QStringLiteral("--body") << message.noteText;
    for (const MailFile& file : message.files)
        arguments << QStringLiteral("--attach") << file.pathName;
    if (message.recipient)
        arguments << bareAddress(*message.recipient);
    const CommandResult result = startCommand(QStringLiteral("xdg-email"), arguments);
    return result.stillRunning || (result.finished && result.exitCode == 0);
}

constexpr const char* kCrLf = "\r\n";

bool isPlainAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    return true;
}

// Base64 in lines of 76 characters, each ended by CR LF.
QByteArray base64Lines(const QByteArray& bytes)
{
    const QByteArray encoded = bytes.toBase64();
    QByteArray lines;
    lines.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        lines += encoded.mid(i, 76) + kCrLf;
    return lines;
}

// A header's text: as it is when it is printable ASCII, otherwise as encoded
// words of at most 75 characters on folded lines, each holding whole
// characters. Line breaks in the text end up encoded, never as header lines.
QByteArray headerText(const QString& text)
{
    if (isPlainAscii(text))
        return text.toLatin1();
    constexpr qsizetype kBytesPerWord = 45;  // 60 base64 characters + 12 of framing
    QByteArray result;
    QByteArray word;
    auto flush = [&] {
        if (!result.isEmpty())
            result += "\r\n ";
        result += "=?UTF-8?B?" + word.toBase64() + "?=";
        word.clear();
    };
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray character = text.mid(i, length).toUtf8();
        if (word.size() + character.size() > kBytesPerWord)
            flush();
        word += character;
        i += length;
    }
    flush();
    return result;
}

// A parameter value: quoted when it is plain ASCII, otherwise in the
// charset form of RFC 2231 (name*=UTF-8''...).
QByteArray parameter(const char* name, const QString& value)
{
    if (isPlainAscii(value) && !value.contains(u'"') && !value.contains(u'\\'))
        return QByteArray(name) + "=\"" + value.toLatin1() + '"';
    return QByteArray(name) + "*=UTF-8''" + value.toUtf8().toPercentEncoding();
}

QByteArray contentTypeFor(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == u"jpg" || suffix == u"jpeg")
        return "image/jpeg";
    if (suffix == u"bmp")
        return "image/bmp";
    if (suffix == u"png")
        return "image/png";
    if (suffix == u"gif")
        return "image/gif";
    return "application/octet-stream";
}

// The body with CR LF line ends, as 7-bit text where it is plain ASCII in
// lines short enough for mail, otherwise in base64.
QByteArray textPart(const QString& body)
{
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    const QStringList lines = text.split(u'\n');
    text = lines.join(QStringLiteral("\r\n"));
    bool sevenBit = true;
    for (const QString& line : lines)
        sevenBit = sevenBit && line.size() <= 998 && isPlainAscii(line);
    QByteArray part = "Content-Type: text/plain; charset=utf-8\r\n";
    if (sevenBit)
        return part + "Content-Transfer-Encoding: 7bit\r\n\r\n" + text.toLatin1() + kCrLf;
    return part + "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(text.toUtf8());
}

// The message as an RFC 5322 mail file with MIME parts. A draft has no
// sender yet, so there is no From line (an empty one is not allowed);
// X-Unsent asks mail programs that know it to open the file for editing.
// Empty when an attachment cannot be read.
std::optional<QByteArray> mailFile(const MailMessage& message)
{
    const QByteArray boundary = "=_plumora_" + QUuid::createUuid().toByteArray(QUuid::Id128);
    QByteArray mail;
    mail += "X-Unsent: 1\r\n";
    mail += "Date: " + QDateTime::currentDateTime().toString(Qt::RFC2822Date).toLatin1() + kCrLf;
    if (message.recipient) {
        QString address = bareAddress(*message.recipient);
        address.remove(u'\r').remove(u'\n');
        mail += "To: " + address.toUtf8() + kCrLf;
    }
    if (!message.subject.isEmpty())
        mail += "Subject: " + headerText(message.subject) + kCrLf;
    mail += "MIME-Version: 1.0\r\n";
    mail += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    mail += "--" + boundary + kCrLf + textPart(message.noteText);
    for (const MailFile& file : message.files) {
        QFile attachment(file.pathName);
        if (!attachment.open(QIODevice::ReadOnly))
            return std::nullopt;
        mail += "--" + boundary + kCrLf;
        mail += "Content-Type: " + contentTypeFor(file.fileName) + kCrLf;
        mail += "Content-Transfer-Encoding: base64\r\n";
        mail += "Content-Disposition: attachment; " + parameter("filename", file.fileName) + "\r\n\r\n";
        mail += base64Lines(attachment.readAll());
    }
    mail += "--" + boundary + "--\r\n";
    return mail;
}

// draft: set to the file's name once it is written.
bool openAsMailFile(const MailMessage& message, QString* draft)
{
    const std::optional<QByteArray> mail = mailFile(message);
    if (!mail)
        return false;
    const QString name = programFileFolder() + QStringLiteral("mywork.eml");
    try {
        writeFileAtomically(localName(name), std::vector<std::uint8_t>(mail->begin(), mail->end()));
    } catch (const FileWriteError&) {
        return false;
    }
    if (draft)
        *draft = name;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(name));
}

}  // namespace

QString programFileFolder()
{
    if (!g_fileFolder.isEmpty())
        return withTrailingSeparator(QDir::cleanPath(g_fileFolder));
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);  // a failure shows when the file is written
    return withTrailingSeparator(data);
}

void setProgramFileFolder(const QString& folder)
{
    g_fileFolder = folder;
}

WallpaperResult setAsWallpaper(const TBitmap32& picture, const LongWorkRunner& runLong)
{
    const QString file = programFileFolder() + QStringLiteral("wallpaper") + QStringLiteral(".bmp");
    inRunner(runLong, [&, name = localName(file)] { writeFileAtomically(name, encodeBmp32(picture)); });

    QSettings settings(QStringLiteral("Plumora"), QStringLiteral("Plumora"));
    settings.beginGroup(QLatin1String(kWallpaperSettingsGroup));
    settings.setValue(QStringLiteral("Title Wallpaper"), QStringLiteral("1"));
    settings.setValue(QStringLiteral("Wallpaper"), file);
    settings.endGroup();
    settings.sync();

    const bool shown = tellDesktop(runningDesktop(), file) || setRootBackground(file);
    return {file, shown};
}

MailMessage buildMailMessage(const QStringList& request)
{
    MailMessage message;
    const QString to = requestValue(request, u"to");
    if (!to.isEmpty())
        message.recipient = MailRecipient{to, kSmtpPrefix + to, 1};
    for (int i = 0;; ++i) {
        const QString path = requestValue(request, QStringLiteral("attachment%1").arg(i));
        if (path.isEmpty())
            break;
        message.files.push_back(MailFile{path, fileNamePart(path), -1});
    }
    message.subject = requestValue(request, u"subject");
    message.noteText = requestValue(request, u"body");
    return message;
}

int SendMapiMail(const QStringList& request, QString* draft)
{
    const MailMessage message = buildMailMessage(request);
    if (sendThroughXdgEmail(message) || openAsMailFile(message, draft))
        return 0;
    return 1;
}

QStringList pictureMailRequest(const QString& pictureFile)
{
    const QStringList body = {
        QStringLiteral("Hello!"),
        QString(),
        QStringLiteral("Attachment is my great work. It is made by Plumora."),
        QStringLiteral("This is a good software. The download link is folows:"),
        QString::fromLatin1(product::kDownloadPage),
        QString(),
        QStringLiteral("Please try it. It would give you happiness!"),
        QStringLiteral("Good luck!"),
    };
    return {
        QStringLiteral("subject=Give you my great work, perfect sketch!"),
        QStringLiteral("body=") + body.join(QStringLiteral("\r\n")),
        QStringLiteral("attachment0=") + pictureFile,
    };
}

MailResult mailPicture(const TBitmap32& picture, const LongWorkRunner& runLong)
{
    MailResult result;
    result.picture = programFileFolder() + QStringLiteral("mywork") + QStringLiteral(".jpg");
    inRunner(runLong, [&, name = localName(result.picture)] {
        writeFileAtomically(name, encodePicture(picture, SaveFormat::Jpeg));
    });
    result.taken = SendMapiMail(pictureMailRequest(result.picture), &result.draft) == 0;
    return result;
}

}  // namespace plumora

// Wallpaper and mail as the desktop sees them: the desktop's commands are
// replaced by small scripts that record their arguments, placed alone on
// PATH, and the settings store and data folders point into a temporary
// home, so nothing here reaches the real user's desktop or settings.

#include "app/desktop_services.h"
#include "formats/bmp.h"
#include "formats/jpeg.h"
#include "formats/picture_file.h"
#include "support/pictures.h"
#include "support/url_catcher.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cstdlib>
#include <memory>

using namespace plumora;
using test::UrlCatcher;

namespace {

const QString kBody = QStringLiteral("Hello!\r\n"
                                     "\r\n"
                                     "Attachment is my great work. It is made by Plumora.\r\n"
                                     "This is a good software. The download link is folows:\r\n"
                                     "https://github.com/plumora/plumora/releases\r\n"
                                     "\r\n"
                                     "Please try it. It would give you happiness!\r\n"
                                     "Good luck!");

QByteArray readAll(const QString& name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A mail file or one of its MIME entities: header lines (unfolded) and body.
struct MimeEntity {
    QMap<QByteArray, QByteArray> headers;  // lower-case name -> value
    QByteArray body;
};

MimeEntity parseEntity(const QByteArray& text)
{
    MimeEntity part;
    const qsizetype end = text.indexOf("\r\n\r\n");
    const QByteArray head = text.left(end).replace("\r\n ", " ");
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            part.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    part.body = text.mid(end + 4);
    return part;
}

}  // namespace

class DesktopServicesTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_work;
    UrlCatcher m_opened;
    QByteArray m_path;

    QString bin() const { return m_work->filePath(QStringLiteral("bin")); }
    QString log() const { return m_work->filePath(QStringLiteral("commands.log")); }
    QString exeFolder() const { return m_work->filePath(QStringLiteral("program folder")); }

    // A command that records its name and arguments, prints output and ends
    // with the line finish. Only shell built-ins: PATH holds nothing else.
    void standIn(const QString& name, const QStringList& output = {}, const QString& finish = "exit 0")
    {
        QString script =
            QStringLiteral("#!/bin/sh\nprintf '%s\\037' \"${0##*/}\" \"$@\" >> '%1'\nprintf '\\036' >> '%1'\n")
                .arg(log());
        for (const QString& line : output)
            script += QStringLiteral("printf '%s\\n' '%1'\n").arg(line);
        script += finish + u'\n';
        QFile file(bin() + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(script.toUtf8());
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Every command run, in order: its name followed by its arguments.
    QList<QStringList> commands() const
    {
        QList<QStringList> result;
        for (const QByteArray& call : readAll(log()).split('\036')) {
            if (call.isEmpty())
                continue;
            QStringList words = QString::fromUtf8(call).split(u'\037');
            words.removeLast();  // after the last separator
            result.append(words);
        }
        return result;
    }

    void setDesktop(const char* current, const char* session = "")
    {
        qputenv("XDG_CURRENT_DESKTOP", current);
        qputenv("DESKTOP_SESSION", session);
    }

    QString settingsValue(const QString& key) const
    {
        QSettings settings(QStringLiteral("Plumora"), QStringLiteral("Plumora"));
        settings.beginGroup(QStringLiteral("Control Panel/Desktop"));
        return settings.value(key).toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.filePath(QStringLiteral("config")));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
        m_path = qgetenv("PATH");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        qputenv("PATH", m_path);
        setProgramFileFolder({});
    }

    void init()
    {
        m_work = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(m_work->path()).mkpath(QStringLiteral("bin")));
        QVERIFY(QDir(m_work->path()).mkpath(exeFolder()));
        qputenv("PATH", QFile::encodeName(bin()));
        setDesktop("");
        setProgramFileFolder(exeFolder());
        QSettings(QStringLiteral("Plumora"), QStringLiteral("Plumora")).clear();
        m_opened.urls.clear();
    }

    // ---- Where the files go ----

    void filesGoToTheUserDataFolderNeverBesideTheProgram()
    {
        setProgramFileFolder({});
        const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(data.startsWith(m_home.path()));
        QCOMPARE(programFileFolder(), data + u'/');
        QVERIFY(QDir(data).exists());
        QCOMPARE(setAsWallpaper(test::uniformPicture(2, 2, 1, 2, 3, 255)).file,
                 data + QStringLiteral("/wallpaper.bmp"));
        QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/wallpaper.bmp")));
    }

    // ---- Wallpaper ----

    void wallpaperFileAndSettings()
    {
        const TBitmap32 picture = test::randomPicture(5, 3, 7);
        const QString file = setAsWallpaper(picture).file;
        QCOMPARE(file, exeFolder() + QStringLiteral("/wallpaper.bmp"));
        const QByteArray bytes = readAll(file);
        QCOMPARE(bytes.size(), 14 + 40 + 5 * 3 * 4);
        QCOMPARE(int(bytes[28]), 32);  // bits per pixel
        for (int i = 14 + 40 + 3; i < bytes.size(); i += 4)
            QCOMPARE(std::uint8_t(bytes[i]), std::uint8_t(255));  // opaque to readers that take it as alpha
        const TBitmap32 read = decodeBmp(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size());
        QCOMPARE(read.width(), 5);
        QCOMPARE(read.height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                QCOMPARE(test::pixelAt(read, x, y) & 0xFFFFFF, test::pixelAt(picture, x, y) & 0xFFFFFF);
        QCOMPARE(settingsValue(QStringLiteral("Title Wallpaper")), QStringLiteral("1"));
        QCOMPARE(settingsValue(QStringLiteral("Wallpaper")), file);
    }

    void wallpaperCommandForEachDesktop_data()
    {
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QByteArray>("session");
        QTest::addColumn<QStringList>("installed");
        QTest::addColumn<QStringList>(
            "expected");  // one command, "|" between words; "URI" and "FILE" stand for the file
        const QStringList all = {"gsettings", "plasma-apply-wallpaperimage", "feh", "nitrogen"};
        const QString gnome = QStringLiteral("gsettings|set|org.gnome.desktop.background|");
        QTest::newRow("GNOME") << QByteArray("ubuntu:GNOME") << QByteArray("ubuntu") << all
                               << QStringList{gnome + "picture-uri|URI", gnome + "picture-uri-dark|URI"};
        QTest::newRow("KDE") << QByteArray("KDE") << QByteArray("plasma") << all
                             << QStringList{"plasma-apply-wallpaperimage|FILE"};
        QTest::newRow("Cinnamon") << QByteArray("X-Cinnamon") << QByteArray() << all
                                  << QStringList{"gsettings|set|org.cinnamon.desktop.background|picture-uri|URI"};
        QTest::newRow("MATE by session") << QByteArray() << QByteArray("mate") << all
                                         << QStringList{"gsettings|set|org.mate.background|picture-filename|FILE"};
        QTest::newRow("bare X") << QByteArray() << QByteArray() << all << QStringList{"feh|--bg-fill|FILE"};
        QTest::newRow("bare X, nitrogen") << QByteArray("i3") << QByteArray("i3") << QStringList{"nitrogen"}
                                          << QStringList{"nitrogen|--set-zoom-fill|FILE|--save"};
        QTest::newRow("GNOME without gsettings")
            << QByteArray("GNOME") << QByteArray() << QStringList{"feh"} << QStringList{"feh|--bg-fill|FILE"};
        QTest::newRow("nothing to tell") << QByteArray("GNOME") << QByteArray() << QStringList{} << QStringList{};
    }

    void wallpaperCommandForEachDesktop()
    {
        QFETCH(QByteArray, current);
        QFETCH(QByteArray, session);
        QFETCH(QStringList, installed);
        QFETCH(QStringList, expected);
        for (const QString& name : installed)
            standIn(name);
        setDesktop(current.constData(), session.constData());
        const WallpaperResult result = setAsWallpaper(test::uniformPicture(3, 2, 10, 20, 30, 255));
        const QString file = result.file;
        // Told as shown only when a command took it.
        QCOMPARE(result.shown, !expected.isEmpty());
        // The folder name has a space: the URI must carry it encoded.
        const QString uri = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
        QVERIFY(uri.startsWith(QStringLiteral("file:///")) && uri.contains(QStringLiteral("program%20folder")));
        QList<QStringList> want;
        for (const QString& command : expected) {
            QStringList words = command.split(u'|');
            words.replaceInStrings(QRegularExpression(QStringLiteral("^URI$")), uri);
            words.replaceInStrings(QRegularExpression(QStringLiteral("^FILE$")), file);
            want.append(words);
        }
        QCOMPARE(commands(), want);
        QCOMPARE(settingsValue(QStringLiteral("Wallpaper")), file);
    }

    void wallpaperOnXfceSetsEveryWorkspaceImage()
    {
        standIn(QStringLiteral("xfconf-query"),
                {"/backdrop/screen0/monitorVirtual1/workspace0/last-image",
                 "/backdrop/screen0/monitorVirtual1/workspace0/image-style",
                 "/backdrop/screen0/monitoreDP-1/workspace3/last-image", "/desktop-icons/style"});
        standIn(QStringLiteral("feh"));
        setDesktop("XFCE", "xfce");
        const WallpaperResult result = setAsWallpaper(test::uniformPicture(1, 1, 0, 0, 0, 0));
        const QString file = result.file;
        QVERIFY(result.shown);
        const QStringList set = {"xfconf-query", "-c", "xfce4-desktop", "-p"};
        QCOMPARE(commands(),
                 (QList<QStringList>{
                     {"xfconf-query", "-c", "xfce4-desktop", "-l"},
                     set + QStringList{"/backdrop/screen0/monitorVirtual1/workspace0/last-image", "-s", file},
                     set + QStringList{"/backdrop/screen0/monitoreDP-1/workspace3/last-image", "-s", file}}));
    }

    void failingDesktopCommandIsIgnored()
    {
        standIn(QStringLiteral("gsettings"), {}, QStringLiteral("exit 1"));
        setDesktop("GNOME");
        QVERIFY(!setAsWallpaper(test::uniformPicture(1, 1, 0, 0, 0, 0)).shown);
        QCOMPARE(commands().size(), 2);  // the dark picture is still asked for
    }

    void unwritableWallpaperFileStopsEverything()
    {
        standIn(QStringLiteral("gsettings"));
        setDesktop("GNOME");
        QVERIFY(QDir(exeFolder()).mkdir(QStringLiteral("wallpaper.bmp")));  // a folder in the file's place
        try {
            setAsWallpaper(test::uniformPicture(1, 1, 0, 0, 0, 0));
            QFAIL("no error");
        } catch (const FileWriteError& error) {
            QVERIFY(QString::fromUtf8(error.what()).contains(QStringLiteral("wallpaper.bmp")));
        }
        QVERIFY(commands().isEmpty());
        QVERIFY(settingsValue(QStringLiteral("Wallpaper")).isEmpty());
    }

    // ---- The mail request ----

    void requestRules()
    {
        MailMessage m = buildMailMessage({"subject=S", "body=a=b", "attachment0=/tmp/x/one.jpg"});
        QVERIFY(!m.recipient);
        QCOMPARE(m.subject, QStringLiteral("S"));
        QCOMPARE(m.noteText, QStringLiteral("a=b"));

        m = buildMailMessage({"to=friend@example.org", "to=second@example.org"});
        QVERIFY(m.recipient);
        QCOMPARE(m.recipient->name, QStringLiteral("friend@example.org"));
        QCOMPARE(m.recipient->address, QStringLiteral("SMTP:friend@example.org"));
        QCOMPARE(m.recipient->recipientClass, 1);

        m = buildMailMessage({"attachment2=/c.jpg", "attachment0=C:\\dir\\mywork.jpg", "attachment3=/d.jpg"});
        QCOMPARE(m.files.size(), std::size_t(1));
        QCOMPARE(m.files[0].pathName, QStringLiteral("C:\\dir\\mywork.jpg"));
        QCOMPARE(m.files[0].fileName, QStringLiteral("mywork.jpg"));
        QCOMPARE(m.files[0].position, -1);

        m = buildMailMessage({"attachment0=a/b\\c/d.bmp", "attachment1=plain.jpg"});
        QCOMPARE(m.files.size(), std::size_t(2));
        QCOMPARE(m.files[0].fileName, QStringLiteral("d.bmp"));
        QCOMPARE(m.files[1].fileName, QStringLiteral("plain.jpg"));
    }

    void emptyValuesAreAbsent()
    {
        const MailMessage m = buildMailMessage({"to=", "subject=", "attachment0=", "attachment1=/x.jpg", "body"});
        QVERIFY(!m.recipient);
        QVERIFY(m.files.empty());
        QVERIFY(m.subject.isEmpty() && m.noteText.isEmpty());
    }

    // ---- Handing the mail over ----

    void xdgEmailGetsEachPartAsItsOwnArgument()
    {
        standIn(QStringLiteral("xdg-email"));
        const QStringList request = {"to=friend@example.org", "subject=Look at this", "body=line 1\r\nline 2",
                                     "attachment0=/tmp/a b.jpg", "attachment1=/tmp/c.bmp"};
        QCOMPARE(SendMapiMail(request), 0);
        QCOMPARE(commands(),
                 (QList<QStringList>{{"xdg-email", "--subject", "Look at this", "--body", "line 1\r\nline 2",
                                      "--attach", "/tmp/a b.jpg", "--attach", "/tmp/c.bmp", "friend@example.org"}}));
        QVERIFY(!QFile::exists(exeFolder() + QStringLiteral("/mywork.eml")));
        QVERIFY(m_opened.urls.isEmpty());
    }

    void mailToFriendSendsThePictureWithTheGreeting()
    {
        standIn(QStringLiteral("xdg-email"));
        const TBitmap32 picture = test::uniformPicture(8, 6, 40, 120, 200, 255);
        QVERIFY(mailPicture(picture).taken);
        const QString file = exeFolder() + QStringLiteral("/mywork.jpg");
        QCOMPARE(commands(), (QList<QStringList>{{"xdg-email", "--subject", "Give you my great work, perfect sketch!",
                                                  "--body", kBody, "--attach", file}}));
        const QByteArray jpeg = readAll(file);
        const TBitmap32 read = decodeJpeg(reinterpret_cast<const std::uint8_t*>(jpeg.constData()), jpeg.size());
        QCOMPARE(read.width(), 8);
        QCOMPARE(read.height(), 6);
        QVERIFY(std::abs(int(read.ScanLine(3)[2]) - 200) <= 3);
    }

    void mailProgramStillOpenAfterTheWaitCountsAsTaken()
    {
        // xdg-email that stays until the mail program closes is left running.
        standIn(QStringLiteral("xdg-email"), {}, QStringLiteral("exec /bin/sleep 7"));
        QCOMPARE(SendMapiMail({"subject=S"}), 0);
        QCOMPARE(commands().size(), 1);
        QVERIFY(!QFile::exists(exeFolder() + QStringLiteral("/mywork.eml")));
    }

    void mailFileWhenXdgEmailFails()
    {
        standIn(QStringLiteral("xdg-email"), {}, QStringLiteral("exit 3"));
        const TBitmap32 picture = test::uniformPicture(4, 4, 1, 2, 3, 255);
        mailPicture(picture);
        const QString name = exeFolder() + QStringLiteral("/mywork.eml");
        QCOMPARE(m_opened.urls, QList<QUrl>{QUrl::fromLocalFile(name)});
        const QByteArray mail = readAll(name);
        const MimeEntity message = parseEntity(mail);
        QVERIFY(!message.headers.contains("from"));
        QVERIFY(!message.headers.contains("to"));
        QCOMPARE(message.headers.value("subject"), QByteArray("Give you my great work, perfect sketch!"));
        QCOMPARE(message.headers.value("mime-version"), QByteArray("1.0"));
        const QRegularExpressionMatch boundary =
            QRegularExpression(QStringLiteral("^multipart/mixed; boundary=\"(.+)\"$"))
                .match(QString::fromLatin1(message.headers.value("content-type")));
        QVERIFY(boundary.hasMatch());
        const QByteArray separator = "--" + boundary.captured(1).toLatin1();
        const QList<QByteArray> pieces = [&] {
            QList<QByteArray> found;
            qsizetype at = mail.indexOf(separator + "\r\n");
            while (at >= 0) {
                const qsizetype start = at + separator.size() + 2;
                const qsizetype next = mail.indexOf("\r\n" + separator, start);
                found.append(mail.mid(start, next - start));
                at = mail.indexOf(separator + "\r\n", next + 2);
            }
            return found;
        }();
        QVERIFY(mail.endsWith(separator + "--\r\n"));
        QCOMPARE(pieces.size(), 2);
        const MimeEntity text = parseEntity(pieces[0]);
        QCOMPARE(text.headers.value("content-type"), QByteArray("text/plain; charset=utf-8"));
        QCOMPARE(text.body, kBody.toUtf8());
        const MimeEntity attachment = parseEntity(pieces[1]);
        QCOMPARE(attachment.headers.value("content-type"), QByteArray("image/jpeg"));
        QCOMPARE(attachment.headers.value("content-transfer-encoding"), QByteArray("base64"));
        QCOMPARE(attachment.headers.value("content-disposition"), QByteArray("attachment; filename=\"mywork.jpg\""));
        for (const QByteArray& line : attachment.body.split('\n'))
            QVERIFY(line.size() <= 77);
        QCOMPARE(QByteArray::fromBase64(attachment.body), readAll(exeFolder() + QStringLiteral("/mywork.jpg")));
    }

    void mailFileWithRecipientAndForeignText()
    {
        // No xdg-email at all. The subject is long enough for several encoded words.
        const QString subject = QStringLiteral("Mon œuvre — ") + QString(30, QChar(0x00e9)) + QStringLiteral(" 😀!");
        const QString body = QStringLiteral("Voilà\nligne deux");
        QCOMPARE(SendMapiMail({"to=ami@example.org", "subject=" + subject, "body=" + body}), 0);
        const QByteArray mail = readAll(exeFolder() + QStringLiteral("/mywork.eml"));
        const MimeEntity message = parseEntity(mail);
        QCOMPARE(message.headers.value("to"), QByteArray("ami@example.org"));
        QString decoded;
        for (const QByteArray& word : message.headers.value("subject").split(' ')) {
            QVERIFY(word.startsWith("=?UTF-8?B?") && word.endsWith("?=") && word.size() <= 75);
            decoded += QString::fromUtf8(QByteArray::fromBase64(word.mid(10, word.size() - 12)));
        }
        QCOMPARE(decoded, subject);
        const qsizetype textStart = mail.indexOf("Content-Type: text/plain");
        const MimeEntity text = parseEntity(mail.mid(textStart));
        QCOMPARE(text.headers.value("content-transfer-encoding"), QByteArray("base64"));
        QCOMPARE(QString::fromUtf8(QByteArray::fromBase64(text.body.left(text.body.indexOf("--")))),
                 QStringLiteral("Voilà\r\nligne deux"));
    }

    void noMailFacilityReturnsOne()
    {
        standIn(QStringLiteral("xdg-email"), {}, QStringLiteral("exit 4"));
        QCOMPARE(SendMapiMail({"subject=S", "attachment0=" + m_work->filePath(QStringLiteral("gone.jpg"))}), 1);
        QVERIFY(QDir(exeFolder()).mkdir(QStringLiteral("mywork.eml")));
        QCOMPARE(SendMapiMail({"subject=S"}), 1);
        QVERIFY(m_opened.urls.isEmpty());
    }

    void noMailProgramIsToldWithWhereThePictureIs()
    {
        standIn(QStringLiteral("xdg-email"), {}, QStringLiteral("exit 4"));
        // The draft's name comes back once it is written.
        QString draft;
        QCOMPARE(SendMapiMail({"subject=S"}, &draft), 0);
        QCOMPARE(draft, exeFolder() + QStringLiteral("/mywork.eml"));
        // Neither a mail program nor a draft: the picture's place is told.
        QVERIFY(QFile::remove(draft));
        QVERIFY(QDir(exeFolder()).mkdir(QStringLiteral("mywork.eml")));
        const MailResult result = mailPicture(test::uniformPicture(2, 2, 0, 0, 0, 255));
        QVERIFY(!result.taken);
        QCOMPARE(result.picture, exeFolder() + QStringLiteral("/mywork.jpg"));
        QVERIFY(result.draft.isEmpty());
    }

    void unwritablePictureStartsNoMail()
    {
        standIn(QStringLiteral("xdg-email"));
        QVERIFY(QDir(exeFolder()).mkdir(QStringLiteral("mywork.jpg")));
        QVERIFY_THROWS_EXCEPTION(FileWriteError, mailPicture(test::uniformPicture(2, 2, 0, 0, 0, 255)));
        QVERIFY(commands().isEmpty());
    }
};

QTEST_MAIN(DesktopServicesTest)
#include "desktop_services_test.moc"

#include "formats/picture_file.h"

#include "formats/bmp.h"
#include "formats/encoders.h"
#include "formats/exif.h"
#include "formats/gif.h"
#include "formats/heif.h"
#include "formats/ico.h"
#include "formats/jpeg.h"
#include "formats/jxl.h"
#include "formats/metafile.h"
#include "raster/errors.h"
#include "raster/limits.h"
#include "raster/parallel.h"

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>
#include <QThread>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plumora {

namespace {

namespace fs = std::filesystem;

std::string upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return text;
}

// The extension test looks at the last four characters only, so "photo.jpeg"
// matches through "JPEG" (and so would "myjpeg", which is harmless: the
// decoder then decides).
std::string lastFour(const std::string& name)
{
    return upper(name.size() <= 4 ? name : name.substr(name.size() - 4));
}

std::string lowerExtension(const std::string& name)
{
    std::string ext = std::filesystem::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// Files larger than this cannot hold a picture we would accept.
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{2} << 30;

}  // namespace

std::vector<std::uint8_t> readWholeFile(const std::string& name)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!file)
        throw PlumoraError("Cannot open the file: " + std::generic_category().message(errno));
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(name, ec);
    if (ec)
        throw PlumoraError("Cannot read the file: " + ec.message());
    if (size > kMaxFileBytes)
        throw PlumoraError("The file is too large to be a picture Plumora can open.");
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
        throw PlumoraError("Cannot read the file: it ended early.");
    return bytes;
}

std::string iconErrorText(const std::string& name, const std::string& message)
{
    return "Input picture" + name + "Error." + message;
}

namespace {

// What a file's first bytes say it is, for the formats that are read by
// their content whatever the file is called: phones and web sites often
// hand out a HEIC, AVIF, JPEG XL or WebP picture under a ".jpg" name.
enum class Content { Other, Heif, Jxl, Webp };

Content contentOf(const std::string& name)
{
    std::uint8_t head[64];
    std::size_t got = 0;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Content::Other;  // the reader chosen by the name tells why
    while (got < sizeof head) {
        const ssize_t n = ::read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    ::close(fd);
    if (looksLikeHeif(head, got))
        return Content::Heif;
    if (looksLikeJxl(head, got))
        return Content::Jxl;
    if (got >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0)
        return Content::Webp;
    return Content::Other;
}

}  // namespace

std::optional<TBitmap32> LoadPictureFile(const std::string& name, const IconErrorHandler& onIconError)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec))
        return std::nullopt;
    switch (contentOf(name)) {
    case Content::Heif: {
        const std::vector<std::uint8_t> bytes = readWholeFile(name);
        return decodeHeif(bytes.data(), bytes.size());
    }
    case Content::Jxl: {
        const std::vector<std::uint8_t> bytes = readWholeFile(name);
        return decodeJxl(bytes.data(), bytes.size());
    }
    case Content::Webp:
        return TBitmap32();  // Qt's plugin reads it (readAnyPicture)
    case Content::Other:
        break;
    }
    using Decoder = TBitmap32 (*)(const std::uint8_t*, std::size_t);
    const std::string ext = lastFour(name);
    Decoder decode = nullptr;
    // The JPEG decoder writes 255 into the fourth byte as it decodes; the
    // others give the file's own transparency (or 0), which a pass then
    // overwrites. Keeping that pass off the JPEG path saves a whole pass over
    // the largest pictures people open.
    bool opaque = false;
    if (ext == ".BMP")
        decode = decodeBmp;
    else if (ext == ".JPG" || ext == "JPEG") {
        decode = decodeJpeg;
        opaque = true;
    } else if (ext == ".GIF")
        decode = decodeGif;
    else if (ext == ".WMF")
        decode = decodeWmf;
    else if (ext == ".EMF")
        decode = decodeEmf;
    else if (ext == ".ICO") {
        TBitmap32 icon;
        try {
            const std::vector<std::uint8_t> bytes = readWholeFile(name);
            icon = decodeIco(bytes.data(), bytes.size());
        } catch (const PlumoraError& e) {
            const std::string text = iconErrorText(name, e.what());
            if (!onIconError)
                throw PlumoraError(text);
            onIconError(text);
            return TBitmap32();
        }
        FillAlpha(icon, 255);
        return icon;
    }
    if (!decode)
        return TBitmap32();
    const std::vector<std::uint8_t> bytes = readWholeFile(name);
    TBitmap32 picture = decode(bytes.data(), bytes.size());
    if (!opaque)
        FillAlpha(picture, 255);
    return picture;
}

std::string notValidFormatMessage(const std::string& name)
{
    return name + " is not a valid format";
}

TBitmap32 openPicture(const std::string& name)
{
    std::optional<TBitmap32> picture = LoadPictureFile(name);
    if (!picture || picture->width() <= 0)
        throw NotValidFormatError(notValidFormatMessage(name));
    return std::move(*picture);
}

// Qt's image I/O is used from threads Qt did not start: plumora-cli's batch
// workers, Python's threads, the Open dialog's preview. Qt gives such a
// thread an "adopted" thread object, and every QObject made on it (a QFile, a
// QBuffer) belongs to it. Most go when the call ends, but the plugin loader
// and the image plugins it makes (webp, tiff, wbmp, ...) are made once, by
// whichever thread first asks for them, and live until the process ends.
// When that thread was adopted and ended before, its thread data has already
// given up a reference the plugins still count on: at exit, as Qt unloads the
// plugins one by one, the thread data is freed under the first plugin and
// used, then freed again, under the next ("corrupted double-linked list",
// exit status 134, in a batch whose worker happened to reach the plugins
// first; valgrind shows the read after the free in ~QObjectPrivate from
// __cxa_finalize). So the loader and every plugin are made once, up front, on
// a thread Qt starts itself, whose thread object is kept to the end: its data
// then outlives every plugin, whichever thread reads or writes pictures.
namespace {
// Deliberately never deleted: the plugins belong to this thread until the
// process ends. Held here, where leak checkers see it is still in use.
QThread* g_imagePluginThread = nullptr;
}  // namespace

void loadQtImagePlugins()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_imagePluginThread = QThread::create([] {
            QImageReader::supportedImageFormats();
            QImageWriter::supportedImageFormats();
        });
        g_imagePluginThread->start();
        g_imagePluginThread->wait();
    });
}

namespace {

// Qt decodes the formats we have no reader of our own for. Its default cap
// on one picture (256 MB) would refuse a 100-megapixel photograph, so it is
// raised to our own limit, which is checked on the header's size first.
TBitmap32 readWithQt(const std::string& name, SvgDrawings svg)
{
    // Qt would turn a name that is not UTF-8 into another name (its bytes
    // replaced by U+FFFD) and read that file, if there is one. So the file is
    // opened here under its own bytes and Qt reads the open file; its
    // extension still tells Qt which plugin to try first, as the name would.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw NotValidFormatError(notValidFormatMessage(name));
    loadQtImagePlugins();
    QFile file;  // closes fd once it has opened on it
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw NotValidFormatError(notValidFormatMessage(name));
    }
    // A WebP under another name (phones and web sites hand them out as
    // ".jpg") is read as what it is: Qt tries only the plugin it is told.
    const QByteArray extension =
        contentOf(name) == Content::Webp ? QByteArray("webp") : QByteArray::fromStdString(lowerExtension(name)).mid(1);
    if (svg == SvgDrawings::Refused) {
        // By its content (the name may say .png) and by its name (a reader
        // tries the plugin the extension names first).
        const QByteArray format = QImageReader::imageFormat(&file).toLower();
        if (format.startsWith("svg") || extension.startsWith("svg"))
            throw PlumoraError(kSvgRefusedMessage);
    }
    QImageReader reader(&file, extension);
    reader.setAllocationLimit(int(kMaxPixels * 4 / (1024 * 1024)) + 1);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        throw NotValidFormatError(notValidFormatMessage(name));
    const QSize size = reader.size();
    if (size.isValid())
        checkPictureSize(size.width(), size.height());
    QImage image = reader.read();
    if (image.isNull())
        throw PlumoraError("The picture cannot be read: " + reader.errorString().toStdString());
    checkPictureSize(image.width(), image.height());
    image = image.convertToFormat(QImage::Format_RGB32);
    TBitmap32 picture(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        throwIfCancelled();
        std::uint8_t* row = picture.ScanLine(y);
        std::memcpy(row, image.constScanLine(y), picture.bytesPerLine());
        // RGB32 promises 255 there; a plugin that breaks the promise must
        // not make an opened picture transparent.
        for (int x = 0; x < picture.width(); ++x)
            row[4 * x + kAlpha] = 255;
    }
    return picture;
}

}  // namespace

TBitmap32 readAnyPicture(const std::string& name, SvgDrawings svg)
{
    std::optional<TBitmap32> picture = LoadPictureFile(name);
    if (!picture)
        throw NotValidFormatError(notValidFormatMessage(name));
    if (picture->empty())
        return readWithQt(name, svg);
    return std::move(*picture);
}

const std::vector<WritableType>& writableTypes()
{
    static const std::vector<WritableType> types = {
        {SaveFormat::Jpeg, "JPEG", {".jpg", ".jpeg"}, true}, {SaveFormat::Png, "PNG", {".png"}, false},
        {SaveFormat::Webp, "WebP", {".webp"}, true},         {SaveFormat::Tiff, "TIFF", {".tif", ".tiff"}, false},
        {SaveFormat::Bmp, "BMP", {".bmp"}, false},           {SaveFormat::Wmf, "WMF", {".wmf"}, false},
    };
    return types;
}

const WritableType& writableType(SaveFormat format)
{
    for (const WritableType& type : writableTypes())
        if (type.format == format)
            return type;
    throw PlumoraError("Unknown picture format.");
}

std::optional<SaveFormat> saveFormatFor(const std::string& name)
{
    const std::string ext = lowerExtension(name);
    for (const WritableType& type : writableTypes())
        if (std::find(type.extensions.begin(), type.extensions.end(), ext) != type.extensions.end())
            return type.format;
    return std::nullopt;
}

std::string replaceExtension(const std::string& name, const std::string& ext)
{
    const std::size_t slash = name.find_last_of('/');
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + ext;
    return name.substr(0, dot) + ext;
}

namespace {

void checkSaveOptions(const SaveOptions& options)
{
    if (options.quality < kQualityMin || options.quality > kQualityMax)
        throw PlumoraError("The quality must be from " + std::to_string(kQualityMin) + " to " +
                           std::to_string(kQualityMax) + ", not " + std::to_string(options.quality) + ".");
}

}  // namespace

std::vector<std::uint8_t> encodePicture(const TBitmap32& picture, SaveFormat format, const SaveOptions& options)
{
    checkSaveOptions(options);
    // What the writers embed: the profile as it came, the Exif block made
    // true of this picture (a few small blocks: no pass over the pixels).
    PictureMetadata metadata;
    if (isRgbIccProfile(options.metadata.icc.data(), options.metadata.icc.size()))
        metadata.icc = options.metadata.icc;
    if (!options.metadata.exif.empty())
        metadata.exif = exifForWriting(options.metadata.exif, options.keepLocation, picture.width(), picture.height());
    switch (format) {
    case SaveFormat::Bmp:
        return encodeBmp24(picture);
    case SaveFormat::Jpeg:
        return encodeJpeg(picture, options.quality, metadata);
    case SaveFormat::Png:
        return encodePng(picture, metadata);
    case SaveFormat::Wmf:
        return encodeWmf(picture);
    case SaveFormat::Webp:
        return encodeWebp(picture, options.quality, options.lossless, metadata);
    case SaveFormat::Tiff:
        return encodeTiff(picture, metadata);
    }
    throw PlumoraError("Unknown picture format.");
}

namespace {

std::string systemReason(int error)
{
    return std::generic_category().message(error);
}

// Writes size bytes to fd, through short writes and interruptions.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    std::size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= std::size_t(n);
    }
    return true;
}

constexpr char kTemporaryPrefix[] = ".plumora-";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;

// A new file next to name, opened for writing, that no one else has: its
// name is returned in `temporary`. It is created with mode (which the user's
// umask may narrow further) from the start: a file given its mode only once
// it is written could be read by others while it is written.
int createTemporaryNextTo(const std::string& name, mode_t mode, std::string& temporary)
{
    const std::size_t slash = name.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    thread_local std::mt19937_64 generator{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(generator()));
        temporary = folder + kTemporaryPrefix + suffix + kTemporarySuffix;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

void writeFileAtomically(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    writeFileAtomically(name, [&](const ByteSink& write) { write(bytes.data(), bytes.size()); });
}

void writeFileAtomically(const std::string& name, const std::function<void(const ByteSink&)>& produce)
{
    // Done with the system's calls on the name's own bytes: Qt's QSaveFile
    // would decode a name that is not UTF-8 into another one, and two such
    // names into the same one. The steps are QSaveFile's: a temporary file in
    // the same folder, flushed to the disk and then renamed over the name in
    // one step, so that a reader (or a crash) sees the old file or the whole
    // new one, never half of it.
    const auto failed = [&](int error) {
        return FileWriteError("Cannot write " + name + ": " + systemReason(error), error);
    };
    // A link is saved through, as editors do: the file it points to gets the
    // new bytes and the link stays a link.
    std::string target = name;
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(name, ec))) {
        const fs::path resolved = fs::canonical(name, ec);
        if (!ec)
            target = resolved.string();
    }
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0;

    // A file replaced is private while its new bytes are written if it was
    // private before (a new file gets what the umask gives any new file).
    std::string temporary;
    const int fd = createTemporaryNextTo(target, replacing ? existing.st_mode & 0777 : 0666, temporary);
    if (fd < 0)
        throw failed(errno);
    // The temporary file goes unless it is renamed into place, also when
    // producing the bytes throws.
    try {
        produce([&](const std::uint8_t* data, std::size_t size) {
            if (!writeAll(fd, data, size))
                throw failed(errno == 0 ? EIO : errno);
        });
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    // The file replaced keeps its permissions.
    bool ok = !replacing || ::fchmod(fd, existing.st_mode & 07777) == 0;
    // A file system that cannot flush (EINVAL) is no reason to fail, as it
    // is none for QSaveFile; one that loses the bytes is.
    ok = ok && (::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP);
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        throw failed(error == 0 ? EIO : error);
    }
}

int removeStaleTemporaries(const std::string& folder, std::chrono::system_clock::time_point before)
{
    const auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    const std::string prefix = kTemporaryPrefix, suffix = kTemporarySuffix;
    const std::int64_t limit = std::chrono::duration_cast<std::chrono::nanoseconds>(before.time_since_epoch()).count();
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != prefix.size() + kTemporaryDigits + suffix.size() || name.compare(0, prefix.size(), prefix) ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) ||
            !std::all_of(name.begin() + std::ptrdiff_t(prefix.size()), name.end() - std::ptrdiff_t(suffix.size()),
                         isHex))
            continue;
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const std::int64_t changed = std::int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
        if (changed < limit && ::unlink(it->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

void savePicture(const TBitmap32& picture, const std::string& name, const SaveOptions& options)
{
    const std::optional<SaveFormat> format = saveFormatFor(name);
    if (!format) {
        std::vector<std::string> all;
        for (const WritableType& type : writableTypes())
            all.insert(all.end(), type.extensions.begin(), type.extensions.end());
        std::string list;
        for (std::size_t i = 0; i < all.size(); ++i)
            list += (i == 0 ? "" : i + 1 == all.size() ? " and " : ", ") + all[i];
        throw PlumoraError(name + ": Plumora saves " + list + " files.");
    }
    checkSaveOptions(options);
    // A BMP file is nearly as large as the picture: written a band at a
    // time, it is never held whole in memory.
    if (*format == SaveFormat::Bmp)
        writeFileAtomically(name, [&](const ByteSink& write) { writeBmp24(picture, write); });
    else
        writeFileAtomically(name, encodePicture(picture, *format, options));
}

}  // namespace plumora

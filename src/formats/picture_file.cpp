#include "formats/picture_file.h"

#include "formats/bmp.h"
#include "formats/jpeg.h"
#include "raster/errors.h"

#include <QByteArray>
#include <QBuffer>
#include <QImage>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace plumora {

namespace {

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

std::optional<TBitmap32> LoadPictureFile(const std::string& name)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(name, ec))
        return std::nullopt;
    const std::string ext = lastFour(name);
    if (ext == ".BMP") {
        const std::vector<std::uint8_t> bytes = readWholeFile(name);
        return decodeBmp(bytes.data(), bytes.size());
    }
    if (ext == ".JPG" || ext == "JPEG") {
        const std::vector<std::uint8_t> bytes = readWholeFile(name);
        return decodeJpeg(bytes.data(), bytes.size());
    }
    return TBitmap32();
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
    FillAlpha(*picture, 255);
    return std::move(*picture);
}

std::optional<SaveFormat> saveFormatFor(const std::string& name)
{
    const std::string ext = lowerExtension(name);
    if (ext == ".bmp")
        return SaveFormat::Bmp;
    if (ext == ".jpg" || ext == ".jpeg")
        return SaveFormat::Jpeg;
    if (ext == ".png")
        return SaveFormat::Png;
    return std::nullopt;
}

namespace {

std::vector<std::uint8_t> encodePng(const TBitmap32& picture)
{
    if (picture.empty())
        throw PlumoraError("An empty picture cannot be saved.");
    // Wrapped without copying; RGB32 ignores the fourth byte, as the other
    // formats we write do.
    const QImage image(picture.bits(), picture.width(), picture.height(), qsizetype(picture.bytesPerLine()),
                       QImage::Format_RGB32);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        throw PlumoraError("The picture could not be encoded as PNG.");
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

}  // namespace

std::vector<std::uint8_t> encodePicture(const TBitmap32& picture, SaveFormat format)
{
    switch (format) {
    case SaveFormat::Bmp:
        return encodeBmp24(picture);
    case SaveFormat::Jpeg:
        return encodeJpeg(picture, 90);
    case SaveFormat::Png:
        return encodePng(picture);
    }
    throw PlumoraError("Unknown picture format.");
}

void writeFileAtomically(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    QSaveFile file(QString::fromStdString(name));
    if (!file.open(QIODevice::WriteOnly))
        throw FileWriteError("Cannot write the file: " + file.errorString().toStdString());
    const char* data = reinterpret_cast<const char*>(bytes.data());
    qint64 written = 0;
    while (written < qint64(bytes.size())) {
        const qint64 n = file.write(data + written, qint64(bytes.size()) - written);
        if (n <= 0) {
            file.cancelWriting();
            throw FileWriteError("Cannot write the file: " + file.errorString().toStdString());
        }
        written += n;
    }
    if (!file.commit())
        throw FileWriteError("Cannot write the file: " + file.errorString().toStdString());
}

void savePicture(const TBitmap32& picture, const std::string& name)
{
    const std::optional<SaveFormat> format = saveFormatFor(name);
    if (!format)
        throw PlumoraError(name + ": Plumora saves .bmp, .jpg, .jpeg and .png files.");
    writeFileAtomically(name, encodePicture(picture, *format));
}

}  // namespace plumora

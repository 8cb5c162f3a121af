#include "cli/metafile_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>

#include <algorithm>
#include <cctype>
#include <clocale>

namespace plumora {

namespace {

// QGuiApplication keeps references to these for its whole life.
int g_argc = 3;
char g_program[] = "plumora-cli";
char g_platformOption[] = "-platform";
char g_platform[] = "offscreen";
char* g_argv[] = {g_program, g_platformOption, g_platform, nullptr};

// Qt ends the process when the platform it is told to use is missing; then
// text is better left out than every file lost.
bool offscreenPlatformInstalled()
{
    for (const QString& folder : QCoreApplication::libraryPaths()) {
        const QDir platforms(folder + QStringLiteral("/platforms"));
        if (!platforms.entryList({QStringLiteral("*qoffscreen*")}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

// Qt's notes on its own set-up (a missing runtime folder, a font it replaced)
// are not the tool's to print; its errors still are.
void quietQtNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        qt_message_output(type, context, message);
}

}  // namespace

bool namesMetafile(const std::string& argument)
{
    if (argument.size() < 4)
        return false;
    std::string extension = argument.substr(argument.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".wmf" || extension == ".emf";
}

MetafileText::MetafileText(const std::vector<std::string>& arguments)
{
    if (QCoreApplication::instance() != nullptr || std::none_of(arguments.begin(), arguments.end(), namesMetafile))
        return;
    if (!offscreenPlatformInstalled())
        return;
    qInstallMessageHandler(quietQtNotes);
    // Qt switches the C library to the user's locale; numbers on the
    // command line are read the C way.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    m_application = std::make_unique<QGuiApplication>(g_argc, g_argv);
    std::setlocale(LC_ALL, locale.c_str());
}

MetafileText::~MetafileText() = default;

}  // namespace plumora

// SPDX-License-Identifier: MIT
#include "remotescriptinstaller.h"

#include "settingskeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringDecoder>

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace RemoteScriptInstaller {
namespace {

fs::path toPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString message(const std::error_code &ec)
{
    return QString::fromLocal8Bit(ec.message().c_str());
}

bool isLink(const QString &path)
{
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(toPath(path), ec));
}

// Removes one entry of the destination without ever leaving it: a link is removed
// itself, a real folder with everything in it (remove_all does not follow links).
void removeEntry(const fs::directory_entry &entry)
{
    std::error_code ec;
    const fs::file_status status = entry.symlink_status(ec);
    if (ec)
        return;
    if (fs::is_directory(status))
        fs::remove_all(entry.path(), ec);
    else
        fs::remove(entry.path(), ec);
}

bool isStale(const fs::directory_entry &entry)
{
    const fs::path &p = entry.path();
    return p.extension() == ".py" || p.filename() == "__pycache__";
}

} // namespace

QString describe(const Outcome &outcome)
{
    struct
    {
        QString operator()(const UpToDate &o) const
        {
            return QStringLiteral("upToDate(%1)").arg(o.version);
        }
        QString operator()(const Installed &o) const
        {
            return QStringLiteral("installed(%1)").arg(o.version);
        }
        QString operator()(const Updated &o) const
        {
            return QStringLiteral("updated(%1 -> %2)").arg(o.from, o.to);
        }
        QString operator()(const LibraryNotFound &o) const
        {
            return QStringLiteral("libraryNotFound(%1)").arg(o.expected);
        }
        QString operator()(const Failed &o) const
        {
            return QStringLiteral("failed(%1)").arg(o.reason);
        }
    } visitor;
    return std::visit(visitor, outcome);
}

const QStringList &remoteScriptFiles()
{
    static const QStringList files = {
        QStringLiteral("__init__.py"),        QStringLiteral("playback_controller.py"),
        QStringLiteral("mapping_manager.py"), QStringLiteral("ableton_socket_server.py"),
        QStringLiteral("socket_manager.py"),  QStringLiteral("setlist_manager.py"),
    };
    return files;
}

QString userLibraryPath(const Environment &env)
{
    if (env.chosenUserLibrary)
        return *env.chosenUserLibrary;
    return env.homeFolder + QStringLiteral("/Music/Ableton/User Library");
}

std::optional<QString> findUserLibrary(const Environment &env)
{
    const QString path = userLibraryPath(env);
    std::error_code ec;
    if (fs::exists(toPath(path), ec))
        return path;
    return std::nullopt;
}

QString destinationFolder(const QString &userLibrary)
{
    return userLibrary + QStringLiteral("/Remote Scripts/Marquell");
}

std::optional<QString> installedVersion(const QString &destination)
{
    const QString markerPath = destination + QLatin1Char('/') + QLatin1String(kMarkerName);
    // A linked marker was not written by us; reading it would trust a file outside.
    if (isLink(markerPath))
        return std::nullopt;
    QFile marker(markerPath);
    if (!marker.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = marker.readAll();
    if (marker.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = QString(decoder(bytes)).trimmed();
    if (decoder.hasError() || text.isEmpty())
        return std::nullopt;
    return text;
}

std::optional<QString> copyRemoteScript(const QString &source, const QString &destination,
                                        const QString &version)
{
    const fs::path dest = toPath(destination);
    std::error_code ec;

    // Writing through a linked destination would put files wherever the link points.
    if (fs::is_symlink(fs::symlink_status(dest, ec))) {
        return QStringLiteral("%1 is a symbolic link. Marquell only installs into a real folder.")
            .arg(destination);
    }

    fs::create_directories(dest, ec);
    if (ec)
        return QStringLiteral("Couldn't create the folder %1: %2").arg(destination, message(ec));
    if (!fs::is_directory(fs::symlink_status(dest, ec))) {
        return QStringLiteral("Couldn't create the folder %1: %2")
            .arg(destination, message(std::make_error_code(std::errc::not_a_directory)));
    }

    // Gather first, then remove: removing while iterating may skip entries.
    std::vector<fs::directory_entry> stale;
    for (fs::directory_iterator it(dest, ec), end; !ec && it != end; it.increment(ec)) {
        if (isStale(*it))
            stale.push_back(*it);
    }
    for (const fs::directory_entry &entry : stale)
        removeEntry(entry);

    const fs::path from = toPath(source);
    for (const QString &name : remoteScriptFiles()) {
        const fs::path file = toPath(name);
        // Without overwrite a leftover entry (even a link) makes the copy fail rather
        // than write through it.
        fs::copy_file(from / file, dest / file, fs::copy_options::none, ec);
        if (ec)
            return QStringLiteral("Couldn't copy %1 into %2: %3")
                .arg(name, destination, message(ec));
    }

    const QString markerPath = destination + QLatin1Char('/') + QLatin1String(kMarkerName);
    // The atomic write replaces the file at the link's target; drop a link first.
    if (isLink(markerPath))
        fs::remove(toPath(markerPath), ec);
    QSaveFile marker(markerPath);
    if (!marker.open(QIODevice::WriteOnly) || marker.write(version.toUtf8()) < 0 ||
        !marker.commit())
        return QStringLiteral("Couldn't write %1: %2").arg(markerPath, marker.errorString());
    return std::nullopt;
}

Outcome installIfNeeded(const Environment &env)
{
    if (!env.sourceFolder)
        return Failed{QStringLiteral("This build has no Resources folder.")};

    QStringList missing;
    for (const QString &name : remoteScriptFiles()) {
        std::error_code ec;
        if (!fs::exists(toPath(*env.sourceFolder + QLatin1Char('/') + name), ec))
            missing.append(name);
    }
    if (!missing.isEmpty()) {
        return Failed{
            QStringLiteral("This build is missing part of the Remote Script: ") +
            missing.join(QStringLiteral(", ")) +
            QStringLiteral(
                ". Check that Marquell_Python_Backend is still a member of the Marquell target.")};
    }

    const std::optional<QString> library = findUserLibrary(env);
    if (!library)
        return LibraryNotFound{userLibraryPath(env)};

    const QString destination = destinationFolder(*library);
    const QString shipped = env.shippedVersion;
    const std::optional<QString> installed = installedVersion(destination);
    if (installed && *installed == shipped)
        return UpToDate{shipped};

    if (const std::optional<QString> error =
            copyRemoteScript(*env.sourceFolder, destination, shipped))
        return Failed{*error};
    if (!installed)
        return Installed{shipped};
    return Updated{*installed, shipped};
}

std::optional<QString> chosenUserLibrary(const QSettings &settings)
{
    const QVariant value = settings.value(settingskeys::abletonUserLibraryPath);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString path = value.toString();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> shippedFolder(const QString &executableFolder)
{
    const QDir exe(executableFolder);
    QStringList candidates;
    if (executableFolder.endsWith(QStringLiteral(".app/Contents/MacOS")))
        candidates << exe.filePath(QStringLiteral("../Resources"));
    // bin/ beside share/, in an installed prefix and in a build tree alike.
    candidates << exe.filePath(QStringLiteral("../share/marquell/remote_script"));
    for (const QString &candidate : candidates) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return std::nullopt;
}

} // namespace RemoteScriptInstaller

// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

class QSettings;

// Keeps the Remote Script in Ableton's User Library in step with the copy this build
// carries. Runs synchronously on the main thread and shows nothing: the caller turns
// the Outcome into alerts.
namespace RemoteScriptInstaller {

struct UpToDate
{
    QString version;
    bool operator==(const UpToDate &) const = default;
};
struct Installed
{
    QString version;
    bool operator==(const Installed &) const = default;
};
struct Updated
{
    QString from;
    QString to;
    bool operator==(const Updated &) const = default;
};
struct LibraryNotFound
{
    QString expected; // the User Library path that does not exist
    bool operator==(const LibraryNotFound &) const = default;
};
struct Failed
{
    QString reason; // shown to the user as it is
    bool operator==(const Failed &) const = default;
};

using Outcome = std::variant<UpToDate, Installed, Updated, LibraryNotFound, Failed>;

// One readable line per outcome, for logs and test failures.
QString describe(const Outcome &outcome);

// Everything the installer reads from outside, gathered by the caller.
struct Environment
{
    // The folder holding the shipped files; none when this build carries none.
    std::optional<QString> sourceFolder;
    QString shippedVersion; // already "0" when the build has no version
    // The stored "abletonUserLibraryPath", when the setting holds a text.
    std::optional<QString> chosenUserLibrary;
    QString homeFolder;
};

inline constexpr char kMarkerName[] = ".installed-version";

// The shipped files, in the order they are checked and copied.
const QStringList &remoteScriptFiles();

Outcome installIfNeeded(const Environment &env);

QString userLibraryPath(const Environment &env);
std::optional<QString> findUserLibrary(const Environment &env);
// <User Library>/Remote Scripts/Marquell
QString destinationFolder(const QString &userLibrary);
// The marker's trimmed content; none when missing, unreadable, empty or a link.
std::optional<QString> installedVersion(const QString &destination);

// Cleans the destination, copies the shipped files in order and writes the marker.
// Returns the reason of the first failing step, or none on success.
std::optional<QString> copyRemoteScript(const QString &source, const QString &destination,
                                        const QString &version);

// The stored User Library choice, when it is a text.
std::optional<QString> chosenUserLibrary(const QSettings &settings);

// Where this build's shipped files lie, given the executable's folder: the bundle's
// Resources folder on macOS, else "../share/marquell/remote_script" (an installed
// prefix and a build tree share that layout). None when there is no such folder.
std::optional<QString> shippedFolder(const QString &executableFolder);

} // namespace RemoteScriptInstaller

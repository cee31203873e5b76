// SPDX-License-Identifier: MIT
#pragma once

#include "daemonprompts.h"
#include "loginitem.h"
#include "thrucontrol.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

// A login item whose state the test sets; enable fails when failure is set.
class FakeLoginItem final : public LoginItem
{
public:
    bool isEnabled() override { return enabled; }
    std::optional<LoginItemError> enable() override
    {
        calls.append(QStringLiteral("enable"));
        enabled = !failure;
        return failure;
    }
    void disable() override
    {
        calls.append(QStringLiteral("disable"));
        enabled = false;
    }
    void migrateLegacyAgent() override {}

    bool enabled = false;
    std::optional<LoginItemError> failure;
    QStringList calls;
};

// Answers every alert at once and keeps its two texts.
class RecordingPrompts final : public DaemonPrompts
{
public:
    void showError(const QString &description, const QString &recoverySuggestion) override
    {
        shown.append({description, recoverySuggestion});
    }
    QList<QStringList> shown;
};

// Thru inputs the test lists; toggling flips the selection as the real one does.
class FakeThru final : public ThruControl
{
public:
    QList<Source> availableSources() const override { return sources; }
    QSet<qint32> selectedSourceIDs() const override { return selected; }
    void toggle(qint32 id) override
    {
        if (!selected.remove(id))
            selected.insert(id);
    }
    QList<Source> sources;
    QSet<qint32> selected;
};

// A launchctl stand-in: appends its arguments as one line to "calls" beside it and
// exits with the status written in "status" (0 when there is none).
class FakeLaunchctl final
{
public:
    FakeLaunchctl()
    {
        QFile script(path());
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nd=$(dirname \"$0\")\necho \"$*\" >>\"$d/calls\"\n"
                     "exit $(cat \"$d/status\" 2>/dev/null || echo 0)\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path() const { return m_dir.filePath(QStringLiteral("launchctl")); }
    void setStatus(int status) const
    {
        QFile file(m_dir.filePath(QStringLiteral("status")));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray::number(status));
    }
    // Lines so far; reading clears them.
    QStringList takeCalls() const
    {
        QFile file(m_dir.filePath(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QStringList lines =
            QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        file.remove();
        return lines;
    }

private:
    QTemporaryDir m_dir;
};

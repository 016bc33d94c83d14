#pragma once

// Pieces shared by the files that make up the authoring window.

#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace CreateShipParts {

constexpr int kStartDelayMs = 100;
// Scene pickers: the file dialog splits patterns at blanks, so no semicolons.
constexpr char kSceneFilter[] = "Scene files (*.pbd *.bod *.bob)";
constexpr int kPathRole = Qt::UserRole;
constexpr int kFolderRole = Qt::UserRole + 1; // set on target-folder items
constexpr int kPart1Role = Qt::UserRole + 2;
constexpr int kPart2Role = Qt::UserRole + 3;

inline QString boldLabel(const QString& text)
{
    return QStringLiteral("<b>") + text + QStringLiteral(":</b>");
}

inline QStringList existingFiles(const QStringList& files)
{
    QStringList kept;
    for (const QString& f : files)
        if (QFileInfo(f).isFile())
            kept << f;
    return kept;
}

} // namespace CreateShipParts

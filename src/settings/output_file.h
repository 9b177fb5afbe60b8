#pragma once

#include <QString>

namespace tonvale::settings {

// Browse starts in the folder of the stored output path: the text before its last "/",
// or "." when there is none.
QString BrowseInitialDir(const QString& storedPath);

// The path Browse stores: the chosen path with the last extension of its file name
// (if any) replaced by ".mp3". A dot in a folder name is not an extension.
QString WithMp3Extension(const QString& chosenPath);

inline const QString kBrowseTitle = QStringLiteral("Select Output");
inline const QString kBrowseFilter = QStringLiteral("mp3 file(*.mp3)");

}  // namespace tonvale::settings

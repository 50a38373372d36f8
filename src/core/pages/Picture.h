#pragma once

#include "core/pictures/CaptureDate.h"
#include "core/pictures/Exif.h"
#include "core/pictures/ThumbnailCache.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace pages {

// One picture of the open directory: its file, the name typed for it and what
// its file's head told. Whatever else is learnt about a picture belongs here.
struct Picture {
    QString fileName;                       // as on disk, through the file-name codec
    std::optional<QString> typed;           // the new name typed for it, when it differs from its shown name
    std::optional<exif::HeadFacts> head;    // once the head was read (by the thumbnails)
    std::optional<dates::CaptureDate> date; // once its capture date was read
    // The file the user saw under fileName: taken when a page first showed it
    // (and after each save that renamed it), so that a save renames only that
    // file and never one another program put under its name.
    thumbs::FileKey seen;
    // Its companion files (RAW, sidecars), as on disk; renamed with it.
    QStringList companions;
};

} // namespace pages

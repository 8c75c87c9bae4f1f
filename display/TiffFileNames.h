#pragma once

#include <QString>

#include <cstdint>

namespace vexo {
namespace core {

// The names of saved TIFF files, from the name the user picked in the save dialog.
class TiffFileNames
{
public:
    TiffFileNames() = delete;

    // The picked name as it will be written: unchanged when it ends in ".tif" in any
    // letter case, otherwise with ".tif" appended (so "x.tiff" becomes "x.tiff.tif").
    static QString withSuffix(const QString& picked);

    // The stem of a numbered series: a name from withSuffix() without its suffix.
    static QString sequenceBase(const QString& fileName);

    // File `index` of a series: the stem, the index in at least five digits and ".tif"
    // in lower case ("run" and 7 give "run00007.tif", 123456 gives "run123456.tif").
    static QString sequenceFile(const QString& base, std::int64_t index);
};

} // namespace core
} // namespace vexo

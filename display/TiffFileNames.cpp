#include "display/TiffFileNames.h"

namespace vexo {
namespace core {

QString TiffFileNames::withSuffix(const QString& picked)
{
    if (picked.toLower().endsWith(QLatin1String(".tif")))
        return picked;
    return picked + QLatin1String(".tif");
}

QString TiffFileNames::sequenceBase(const QString& fileName)
{
    return fileName.left(fileName.size() - 4);
}

QString TiffFileNames::sequenceFile(const QString& base, std::int64_t index)
{
    // One arg() call for both: a stem containing "%1" must not be expanded again.
    return QStringLiteral("%1%2.tif")
        .arg(base, QStringLiteral("%1").arg(static_cast<qlonglong>(index), 5, 10, QLatin1Char('0')));
}

} // namespace core
} // namespace vexo

#pragma once
// The build gives each test the paths of its programs and of the tree's files
// relative to the test program's own folder (vx_test_paths in
// tests/CMakeLists.txt), so that test objects do not depend on where the tree
// is; built() makes such a path whole. The benchmarks, which share some of
// the tests' fixtures, are given absolute paths: those stay as they are.

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace vxtest {

inline QString built(const char* relativeToTestProgram)
{
    static const QString testFolder =
        QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    const QString relative = QString::fromUtf8(relativeToTestProgram);
    if (QDir::isAbsolutePath(relative))
        return relative;
    const QString whole = QDir::cleanPath(testFolder + QLatin1Char('/') + relative);
    return relative.endsWith(QLatin1Char('/')) ? whole + QLatin1Char('/') : whole;
}

} // namespace vxtest

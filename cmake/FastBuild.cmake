# Faster builds of the Qt-heavy targets (the log module's libraries, the
# result pane, the window, vxlog's commands), whose files spend much of their
# compile time on the same Qt and standard headers and on the same inline Qt
# code:
#   - precompiled headers: each target compiles them once, with its own flags
#     (a sanitizer build's included), instead of once a file;
#   - unity builds: their files are compiled a few at a time in one unit, so
#     the headers and inline Qt code they share are compiled once a batch.
#     File-local names must then differ between the files of a target.
# bench/README.md ("Building the viewer") has the figures.
#
# Precompiled headers are off by default: with the unity builds, each
# target's header is one more step its units wait for, one core working,
# and a first build of the viewer took longer with them than without.
# A build with a compiler launcher (ccache) has the unity builds off by
# default too, and a warm cache is faster still: a unity file includes its
# sources by their absolute paths, so that a clone in another folder (every
# CI run) would find none of them in the cache; nor does ccache cache a file
# compiled with a precompiled header unless told to be sloppy about it.
#
#   vx_build_fast(<target> CORE|SQL|WIDGETS)

if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(VX_FAST_BUILD_DEFAULT OFF)
else()
  set(VX_FAST_BUILD_DEFAULT ON)
endif()
option(VX_PRECOMPILE_HEADERS "Precompile the Qt headers of the Qt-heavy targets" OFF)
option(VX_UNITY_BUILD "Compile the Qt-heavy targets a few files at a time" ${VX_FAST_BUILD_DEFAULT})

set(VX_PCH_CORE
  <algorithm> <atomic> <chrono> <functional> <memory> <mutex> <string> <vector>
  <QByteArray> <QDateTime> <QDir> <QFileInfo> <QObject> <QString> <QStringList> <QVector>)
set(VX_PCH_SQL <QSqlDatabase> <QSqlError> <QSqlQuery>)
set(VX_PCH_WIDGETS
  <QAbstractScrollArea> <QApplication> <QComboBox> <QKeyEvent> <QLabel> <QPainter>
  <QPushButton> <QToolButton> <QWidget>)

function(vx_build_fast target kind)
  if(VX_UNITY_BUILD)
    # Units of 16 rather than CMake's 8: the targets now compile side by
    # side, so fewer, larger units keep both cores busy and parse the
    # shared headers fewer times.
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 16)
  endif()
  if(NOT VX_PRECOMPILE_HEADERS)
    return()
  endif()
  set(headers ${VX_PCH_CORE})
  if(kind STREQUAL "SQL")
    list(APPEND headers ${VX_PCH_SQL})
  elseif(kind STREQUAL "WIDGETS")
    list(APPEND headers ${VX_PCH_WIDGETS})
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

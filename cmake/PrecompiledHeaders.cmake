# Precompiled headers for the targets whose files spend most of their compile
# time parsing the same Qt and standard headers (the log module's libraries,
# the result pane, the window, vxlog's commands): each target compiles them
# once, with its own flags (a sanitizer build's included), instead of once a
# file. bench/README.md has the figures.
#
# A build with a compiler launcher (ccache) has them off by default: ccache
# does not cache a file compiled with a precompiled header unless told to be
# sloppy about it, and a warm cache is faster still.
#
#   vx_precompile_headers(<target> CORE|WIDGETS)

if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(VX_PCH_DEFAULT OFF)
else()
  set(VX_PCH_DEFAULT ON)
endif()
option(VX_PRECOMPILE_HEADERS "Precompile the Qt headers of the Qt-heavy targets" ${VX_PCH_DEFAULT})

set(VX_PCH_CORE
  <algorithm> <atomic> <chrono> <functional> <memory> <mutex> <string> <vector>
  <QByteArray> <QDateTime> <QDir> <QFileInfo> <QObject> <QString> <QStringList> <QVector>)
set(VX_PCH_SQL <QSqlDatabase> <QSqlError> <QSqlQuery>)
set(VX_PCH_WIDGETS
  <QAbstractScrollArea> <QApplication> <QComboBox> <QKeyEvent> <QLabel> <QPainter>
  <QPushButton> <QToolButton> <QWidget>)

function(vx_precompile_headers target kind)
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

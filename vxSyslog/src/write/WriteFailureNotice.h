#pragma once

#include <QString>

#include <cstdint>

#include <vxSyslog/DropReason.h>

namespace SystemLog {

// The one line on standard error that a program prints when its log cannot
// be written, so that a program whose lines are lost does not stay silent.
//
// A process says it the first time lines are given up because the database
// cannot be opened or written, and again only when the reason (or the file)
// changes: never once per line. Lines kept in a side file for the next writer
// are said once per side file. Plain C output only, since the last lines of a
// program may be given up while the process exits. Any thread.
namespace WriteFailureNotice {

// Lines were given up: "无法写入日志数据库 <path>：<why>；日志行被丢弃".
void linesGivenUp(const QString& path, DropReason reason, const QString& why);

// Lines were kept in a side file: "日志数据库 <path> 暂时无法写入（<why>）：
// <n> 条日志行已保存在 <side file>，下一个写入这个数据库的程序会把它们写入".
void linesSetAside(const QString& path, const QString& why, std::uint64_t lines, const QString& sideFile);

// Lines were given up at the end and not even their count could be kept in
// a side file: "日志数据库 <path> 无法写入（<why>），也无法在旁边保存计数：
// <n> 条日志行已丢失，没有留下其他记录". Said every time.
void linesLost(const QString& path, const QString& why, std::uint64_t lines);

// The file at the log's path was replaced or deleted while the program ran,
// and the writer now writes the file at the path: "日志文件 <path> 被替换：
// 之后的日志行写入现在位于该路径的文件" or "日志文件 <path> 被删除：之后的日志行
// 写入在原路径重新建立的文件". Said once each time it happens.
void fileMoved(const QString& path, bool deleted);

} // namespace WriteFailureNotice

} // namespace SystemLog

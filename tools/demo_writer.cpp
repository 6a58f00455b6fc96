// Fills ./dbLog.db with a few hundred sample records of all five record types,
// written the way the machine's programs log: LogLine statements routed by the
// log service into its writer thread, so every row is stamped now.
//
//   quarrow_demo_writer [COUNT]     (default 300)
#include <QThread>

#include <cstdio>
#include <cstdlib>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

using SystemLog::LogLine;
using SystemLog::vxSysLog;

namespace {

void logParameterChange(int i)
{
    LogLine line(0);
    line.stream() << "参数修改：主轴转速由 " << 1200 + 10 * i << " 改为 " << 1250 + 10 * i << " 转/分";
}

void logUserActivity(int i)
{
    LogLine line(1);
    if (i % 2)
        line.stream() << "用户 operator" << i % 7 << " 登录";
    else
        line.stream() << "用户 operator" << i % 7 << " 打开加工程序 P" << 1000 + i;
}

void logSystemStatus(int i)
{
    LogLine line(2);
    line.stream() << "系统状态：CPU 占用 " << 20 + i % 50 << "%，内存占用 " << 40 + i % 30 << "%";
}

void logAlarm(int i)
{
    LogLine line(3);
    line.stream() << "报警：" << (i % 2 ? "X" : "Z") << " 轴伺服过载，报警号 " << 4000 + i % 17;
}

void logOtherInfo(int i)
{
    LogLine line(4);
    line.stream() << "其他信息：自动备份完成，共 " << 10 + i << " 个文件";
}

void logSample(int i)
{
    switch (i % 5) {
    case 0: logParameterChange(i / 5); break;
    case 1: logUserActivity(i / 5); break;
    case 2: logSystemStatus(i / 5); break;
    case 3: logAlarm(i / 5); break;
    default: logOtherInfo(i / 5); break;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    vxSysLog::instance()->init();
    for (int i = 0; i < count; ++i) {
        logSample(i);
        if (i % 50 == 49)
            QThread::msleep(300); // spread the rows over a few seconds
    }
    // Stops the writer, which writes everything still queued first.
    vxSysLog::release();
    std::printf("wrote %d sample records to ./dbLog.db\n", count);
    return 0;
}

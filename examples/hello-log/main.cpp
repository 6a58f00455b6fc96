// Starts the log service, logs one line of each record type from two threads,
// and ends: ./dbLog.db then holds six new rows (two of type 4, "其他信息"),
// which the viewer shows.
#include <QString>

#include <thread>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

int main()
{
    // Opens ./dbLog.db and starts the writer; when main ends, every line
    // logged before is stored. No QCoreApplication or event loop is needed.
    SystemLog::vxSysLog::Session log;

    std::thread spindle([] {
        VXLOG_STATUS << "主轴启动, 转速 " << 12000 << " rpm";
        VXLOG_ALARM << "主轴温度 " << 78.5 << " °C, 超过上限";
        VXLOG_INFO << "主轴线程结束";
    });
    std::thread panel([] {
        VXLOG_USER << "操作员 " << QStringLiteral("张伟") << " 登录";
        VXLOG_PARAM << "进给速度 " << 800 << " -> " << 1200 << " mm/min";
        VXLOG(4) << "面板线程结束";  // the same as VXLOG_INFO
    });
    spindle.join();
    panel.join();
    return 0;
}

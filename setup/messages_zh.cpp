// Compiled with -fexec-charset=GBK: the literals below reach the program as code page 936
// bytes, the encoding MessageBoxA expects on a Chinese (PRC) system.
#include "setup/messages.h"

const char kCaptionZh[] = "安装Olvan智能客户端";

const char* MessageTextZh(SetupMessage m) {
  switch (m) {
    case kMsgRunningCopy: return "有正在运行的客户端安装程序，请稍候再试。";
    case kMsgNoAdmin: return "您没有管理员权限，无法进行安装操作！";
    case kMsgDiskSpace: return "系统盘空间不足，安装要求系统盘必须有300M以上的空间。";
    case kMsgCustomUpdate: return "客户端正在升级定制信息，请稍后再试。";
    default: return "";
  }
}

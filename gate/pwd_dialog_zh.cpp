// Compiled with -fexec-charset=GBK: these literals reach the program as code page 936 bytes.
#include "gate/pwd_dialog.h"

const PwdDialogTexts kPwdTextsZh = {
    "卸载密码",
    "已安装的客户端受密码保护，需要输入卸载密码才能进行升级。请输入密码：",
    "确定",
    "取消",
    "密码错误，请重新输入：",
    "超过最大密码错误重试次数，安装程序即将退出。",
    "密码错误",
};

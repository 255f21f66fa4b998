#pragma once

#include <QString>

// What the service logs of its clients and of each request, after the client's label. Those with a
// %1 are filled in with QString::arg after tr() in the "DevProxy" context.
namespace ServiceTexts {

inline const QString kVersionQueried = QStringLiteral("取回Kiv3 Device Proxy版本資訊");
inline const QString kInvalidJson = QStringLiteral("送來無效的json字串");
inline const QString kMissingMethod = QStringLiteral("送來的資料缺少method");
inline const QString kPrintersListed = QStringLiteral("查詢本電腦登錄的印表機");
inline const QString kPrinted = QStringLiteral("執行列印作業");
inline const QString kInvalidMethod = QStringLiteral("無效的method屬性");
inline const QString kPrinterFailed = QStringLiteral("印表機系統初始化失敗");
inline constexpr char kInvalidPrinter[] = "無效的印表機: %1";
inline const QString kNoDefaultPrinter = QStringLiteral("系統未設定預設印表機");
inline const QString kInvalidPaperSize = QStringLiteral("不支援的紙張尺寸");
inline const QString kInvalidOrientation = QStringLiteral("不支援的列印方向");
inline const QString kInternalError = QStringLiteral("發生內部錯誤");
inline const QString kPrinterStatesListed = QStringLiteral("查詢本電腦登錄的印表機狀態");
// A client's connection, opened and ended; its label, name and address, fills %1.
inline constexpr char kConnected[] = "與用戶端'%1'建立連線成功";
inline constexpr char kConnectedSecurely[] = "與用戶端'%1'建立加密連線成功";
inline constexpr char kDisconnected[] = "與用戶端'%1'連線結束";
// A request handled: the client's label, then what was done.
inline constexpr char kRequestLine[] = "用戶'%1' %2";
// A client cut off for the messages it has waiting; a TLS client's first error.
inline constexpr char kWaitingOverLimit[] = "用戶端'%1'等待處理的訊息超過上限, 中斷連線";
inline constexpr char kSslError[] = "SSL發生錯誤: %1";
// Written to the debug output when the service ends with clients still connected.
inline constexpr char kClientsLeftAtClose[] = "關閉時尚有%1條session存在";
// A request beyond the print bounds, by the bound: the count asked for and the limit.
inline constexpr const char *kOverLimit[] = {
    "列印份數%1超過上限%2", // copies
    "列印頁數%1超過上限%2", // pages
    "列印項目數%1超過上限%2", // items
    "列印文字%1字超過上限%2字", // characters
    "列印字型%1種超過上限%2種", // font faces
    "列印字型大小%1超過上限%2", // font size
};

} // namespace ServiceTexts

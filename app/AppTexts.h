#pragma once

#include <QString>

// What the program shows and logs of itself: the start-up banner, the window's and the tray's
// texts, and the command line's refusals. Those kept as char arrays go through tr() in the
// class that shows them, before any %1 is filled in with QString::arg; the others are shown
// as they are.
namespace AppTexts {

inline const QString kProductTitle = QStringLiteral("Quor Kiv3 Device Proxy");

// The banner: the version fills %1, then comes where clients connect from, then whose
// pages are admitted. The addresses and the origins, one a line, fill theirs.
inline const QString kBannerStart = QStringLiteral("Kiv3 Device Proxy(%1)成功啟動, ");
inline const QString kLocalOnlyBanner = QStringLiteral("只接受本機(127.0.0.1及::1)的連線.\n");
inline const QString kNoAddressBanner = QStringLiteral("但此電腦沒有可連接的IP位址.\n");
inline constexpr char kAddressesBanner[] = "可從下列IP位址取得服務:\r\n\n%1\n";
inline constexpr char kOriginsBanner[] = "只接受來自下列來源的網頁連線:\r\n\n%1\n";
inline const QString kNoOriginAdmittedBanner
    = QStringLiteral("也接受沒有來源(非瀏覽器)的用戶端連線.\n");
inline const QString kNoOriginRefusedBanner
    = QStringLiteral("拒絕沒有來源(非瀏覽器)的用戶端連線.\n");
inline const QString kStarted = QStringLiteral("開始提供服務");
// The reason fills %1.
inline constexpr char kStartFailed[] = "無法啟動Kiv3 Device Proxy, 錯誤原因為:\n%1.";

// MForm: the tray's entries and the simulated devices' mode.
inline constexpr char kShowEntry[] = "顯示視窗";
inline constexpr char kHideEntry[] = "隱藏視窗";
inline constexpr char kCleanEntry[] = "清除視窗";
inline constexpr char kDetachEntry[] = "中斷並嘗試連接下一台讀卡機";
inline constexpr char kQuitEntry[] = "結束Kiv3 Device Proxy";
inline constexpr char kSimulationMode[]
    = "模擬裝置模式: 讀卡機及來電顯示設備都是模擬的, 由網頁或選單simulate操作";
inline constexpr char kSimulationToolTip[] = "Quor Kiv3 Device Proxy (模擬裝置模式)";

// SimulationMenu: its entries, the labels of its dialogs, and its log line, which the
// simulated action's text fills.
inline const QString kSimulationMenuTitle = QStringLiteral("simulate");
inline constexpr char kPlugInEntry[] = "連接模擬讀卡機";
inline constexpr char kUnplugEntry[] = "拔除模擬讀卡機";
inline constexpr char kCardEntry[] = "模擬刷卡...";
inline constexpr char kCallEntry[] = "模擬來電...";
inline constexpr char kCardLabel[] = "卡號:";
inline constexpr char kCallerNumberLabel[] = "來電號碼:";
inline constexpr char kMenuLine[] = "選單: %1";

// The command line's refusals: the stray argument, the text given as an origin.
inline const QString kUnexpectedArgument = QStringLiteral("unexpected argument '%1'.");
inline const QString kNotAnOrigin
    = QStringLiteral("'%1' is not an origin: write scheme://host or scheme://host:port, e.g. "
                     "https://shop.example:8443.");

} // namespace AppTexts

#pragma once

#include <QtGlobal>

// The log lines of the card reader and the caller-ID box. Those with a %1 are filled in with
// QString::arg; those marked for translation go through tr() in their class.
namespace DeviceTexts {

// Caller
inline constexpr char kInitFailedText[] = "來電顯示設備初始化失敗, 此功能無法使用";
inline constexpr char kStartedText[] = "來電顯示設備已啟動, 開始偵測來電";
inline constexpr const char *kCallText = QT_TRANSLATE_NOOP("Caller", "偵測到來電, 號碼為: %1");

// Reader
inline constexpr const char *kOpenFailedText = QT_TRANSLATE_NOOP("Reader", "開啟%1時發生錯誤: %2");
inline constexpr const char *kQueryFailedText
    = QT_TRANSLATE_NOOP("Reader", "送出查詢命令時失敗: %1");
inline constexpr const char *kAnswerFailedText
    = QT_TRANSLATE_NOOP("Reader", "接收讀卡機回應時失敗: %1");
inline constexpr const char *kAttachedText = QT_TRANSLATE_NOOP("Reader", "於 '%1' 成功連接讀卡機");
inline constexpr const char *kUnrecognisedText
    = QT_TRANSLATE_NOOP("Reader", "接收到無法識別的資料: %1");
inline constexpr char kNotAReaderText[] = "偵測到同款介面的設備, 但不是讀卡機";
inline constexpr char kOldVersionText[] = "出現舊版本長度0x17的資料串";
inline constexpr char kOfflineText[] = "讀卡機離線";

// ReaderSimulator
inline constexpr char kNoReaderForCardText[] = "模擬刷卡未送出: 沒有連接的讀卡機";
inline constexpr char kNoReaderToUnplugText[] = "模擬拔除讀卡機未執行: 沒有連接的讀卡機";
inline constexpr const char *kBeyondFramesText
    = QT_TRANSLATE_NOOP("ReaderSimulator", "模擬刷卡%1: 讀卡機的資料格式容不下此卡號, 沒有資料串");

} // namespace DeviceTexts

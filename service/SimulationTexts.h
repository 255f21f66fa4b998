#pragma once

#include <QString>

// The "simulate." methods that pages call, and the texts the agent logs of them. For a page's
// request, those with a %1 are filled in with QString::arg after tr() in the "DevProxy" context
// and the others are logged as they are; the tray's simulate menu translates each in its own.
namespace SimulationTexts {

inline const QString kReaderMethod = QStringLiteral("simulate.reader");
inline const QString kUnreaderMethod = QStringLiteral("simulate.unreader");
inline const QString kCardMethod = QStringLiteral("simulate.card");
inline const QString kCallinMethod = QStringLiteral("simulate.callin");

// The reader's label, the card number and the caller's number fill %1.
inline constexpr char kReaderSimulated[] = "模擬連接讀卡機'%1'";
inline constexpr char kUnreaderSimulated[] = "模擬拔除讀卡機";
inline constexpr char kCardSimulated[] = "模擬刷卡, 卡號為: %1";
inline constexpr char kCallinSimulated[] = "模擬來電, 號碼為: %1";
inline constexpr char kInvalidLabel[] = "模擬讀卡機的名稱無效";
inline constexpr char kInvalidCard[] = "模擬刷卡的卡號無效";
inline constexpr char kInvalidNumber[] = "模擬來電的號碼無效";

} // namespace SimulationTexts

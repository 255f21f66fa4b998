#pragma once

// What the endpoints and the watch over each client log as they refuse, cut or end
// connections. Each is filled in with QString::arg after tr() in the class that logs it:
// Endpoints, or ClientWatch for the lines of an admitted client.
namespace ConnectionTexts {

// A client's label: its peer name, then its address in brackets.
inline constexpr char kPeerLabel[] = "%1(%2)";
// The caps on connections: in total, with the client refused first, and per peer address.
inline constexpr char kTotalCapReached[] = "連線數已達上限%1, 拒絕新的連線, 始於用戶端'%2'";
inline constexpr char kPeerCapReached[] = "來自%1的連線數已達上限%2, 拒絕其新的連線";
// A cap with room again, and how many connections it refused meanwhile.
inline constexpr char kTotalCapRecovered[] = "連線數回到上限%1以下, 期間共拒絕%2條連線";
inline constexpr char kPeerCapRecovered[] = "來自%1的連線數回到上限%2以下, 期間共拒絕%3條連線";
// A client and the bound it passed in bytes; for the total, the bound and the largest holder.
inline constexpr char kHeaderTooLong[] = "用戶端'%1'的連線請求標頭超過%2位元組, 中斷連線";
inline constexpr char kTotalHeldTooLarge[]
    = "用戶端合計保留的資料超過%1位元組, 中斷保留最多資料的用戶端'%2'";
// A client refused for the origin it sent, or for sending none.
inline constexpr char kOriginRefused[] = "拒絕來源'%1'的用戶端'%2'連線";
inline constexpr char kNoOriginRefused[] = "拒絕沒有來源的用戶端'%1'連線";

// ClientWatch: a client, and the bound it passed in bytes.
inline constexpr char kUnfinishedTooLong[] = "用戶端'%1'未完成的訊息超過%2位元組, 中斷連線";
inline constexpr char kUnreadTooLarge[] = "用戶端'%1'未讀取的資料超過%2位元組, 中斷連線";
inline constexpr char kUnmaskedFrame[] = "用戶端'%1'送來未加遮罩的資料框, 中斷連線";
inline constexpr char kNoPong[] = "用戶端'%1'閒置後未回應ping, 中斷連線";

} // namespace ConnectionTexts

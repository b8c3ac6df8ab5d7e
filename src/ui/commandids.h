// Command and control identifiers of the main window. They are kept as data on every action
// and widget (property "commandId" / "controlId", objectName), so that other dialogs, the
// tests and the menus all speak of the same command by the same number.
#pragma once

namespace ridelog::ids {

// Commands of the menu bar, the list's context menu and the hidden start button.
enum Command : int
{
    SaveToFile = 57603,        // ファイル(&F) › ファイルに保存(&S)
    Exit = 32798,              // ファイル(&F) › 終了(&X)
    BalanceView = 32785,       // 表示(&V) › 残額表示(&Z)
    RailCompany = 32789,       // 表示(&V) › 鉄道・地下鉄 表示(&P) › 会社名(&C)
    RailLine = 32790,          // 表示(&V) › 鉄道・地下鉄 表示(&P) › 路線区(&L)
    BusCompany = 32812,        // 表示(&V) › バス 表示(&U) › 会社名(&C)
    BusRoute = 32813,          // 表示(&V) › バス 表示(&U) › 路線区(&L)
    ShopShow = 32814,          // 表示(&V) › 店舗 表示(&N) › 店舗情報 表示する(&D)
    ShopCompany = 32815,       // 表示(&V) › 店舗 表示(&N) › 会社名(&C)
    ShopName = 32816,          // 表示(&V) › 店舗 表示(&N) › 店舗名(&S)
    ShopRegister = 32817,      // 表示(&V) › 店舗 表示(&N) › レジ名(&R)
    ShowTotals = 32843,        // 表示(&V) › 集計(&T)...
    TakeInHistory = 32871,     // ファイル(&F) › 他の履歴を取り込む(&I)...
    RestoreBackup = 32870,     // 設定(&S) › バックアップから復元(&U)...
    ClearStationNames = 32797, // 設定(&S) › 駅名キャッシュ削除(&C)
    ClearBusStopNames = 32799, // 設定(&S) › 停留所名キャッシュ削除(&B)
    ClearShopNames = 32833,    // 設定(&S) › 店舗名キャッシュ削除(&T)
    DeleteHistory = 32801,     // 設定(&S) › 履歴データ削除(&H)
    ShowDataSetup = 32803,     // 設定(&S) › 表示設定(&D)...
    AskNamesAgain = 32840,     // 設定(&S) › 駅名を再取得(&R)
    About = 32830,             // ヘルプ(&H) › バージョン情報(&V)...
    DeleteRows = 32794,        // context menu › 削除(&L)
    ShowDetail = 32792,        // context menu › 詳細表示(&D)...
    CopyRows = 32844,          // context menu › コピー(&C), Ctrl+C anywhere in the window
    Search = 32841,            // 表示(&V) › 検索(&F)... (Ctrl+F)
    RenameCard = 32842,        // カード(&C) › カード名の変更(&N)...
    ShowReaderCard = 32845,    // カード(&C) › 読み取ったカードを表示(&R)
    ShowAllCards = 32846,      // カード(&C) › すべてのカード(&A)...
    MakeClaimForm = 32850,     // ファイル(&F) › 精算書を作成(&R)...
    EditPurpose = 32851, // context menu › 用途を入力(&P)... (F2, double-click on 用途)
    ToggleClaim = 32852, // context menu › 精算にチェック(&M)
    PurposeColumnView = 32853, // 表示(&V) › 用途の列(&E)
    TimeColumnView = 32864,    // 表示(&V) › 時刻の列(&G)
    FirstCardEntry = 33000,    // カード(&C) › one entry per card, 33000 to 33999
    LastCardEntry = 33999,
    StartReading = 1000,  // hidden button 読み取り開始
    SystemMenuAbout = 16, // window menu item, where the platform offers a window menu
};

// Controls of the main window and the About box.
enum Control : int
{
    OkButton = 1,        // hidden 閉じる, the default button
    CancelButton = 2,    // hidden キャンセル
    StartButton = 1000,  // hidden 読み取り開始
    CardIdField = 1001,  // hidden, the card identifier of the card on the reader
    HistoryList = 1002,  // the history list
    BalanceField = 1005, // read-only balance
    YenLabel = 1011,     // 円
    BalanceLabel = 1012, // 残高：
    StatusBar = 0xE801,  // the status bar
    ServerLink = 1074,   // About box: the name server's web root
    ProjectLink = 1076,  // About box: the project page
};

} // namespace ridelog::ids
